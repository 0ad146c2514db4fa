#include "platform/processors.hpp"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace mw::platform {

unsigned UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

uint64_t AvailableMemory() {
    // MemAvailable counts the page cache that can be dropped; the free page
    // count alone would call a busy machine full.
    if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
        std::fclose(f);
        if (found) return static_cast<uint64_t>(kb) * 1024;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : 0;
}

void* MapPages(std::size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void UnmapPages(void* pages, std::size_t size) {
    if (pages) ::munmap(pages, size);
}

}  // namespace mw::platform
