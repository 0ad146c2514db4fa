#include "platform/mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/os_error.hpp"

namespace mw::platform {

std::unique_ptr<MappedFile> MappedFile::Open(const std::string& path, std::error_code& ec) {
    ec.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ec = LastOsError();
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ec = LastOsError();
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        ec = OsError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* data = nullptr;
    if (size > 0) {
        data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            ec = LastOsError();
            ::close(fd);
            return nullptr;
        }
        ::madvise(data, size, MADV_SEQUENTIAL);
    }
    int kept = fd;
    if (!data) {
        ::close(fd);
        kept = -1;
    }
    return std::unique_ptr<MappedFile>(new MappedFile(static_cast<const char*>(data), size, kept));
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
}

void MappedFile::Copy(std::size_t offset, std::size_t length, void* to) const {
    if (!data_ || offset > size_ || length > size_ - offset) return;
    CopyFileBytes(fd_, data_ + offset, offset, length, to);
}

void CopyFileBytes(int fd, const char* mapped, uint64_t offset, std::size_t length, void* to) {
    auto* out = static_cast<char*>(to);
    std::size_t done = 0;
    while (done < length && fd >= 0) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done < length) std::memcpy(out + done, mapped + done, length - done);
}

void MappedFile::Release(std::size_t offset, std::size_t length) {
    if (!data_ || offset >= size_) return;
    if (length > size_ - offset) length = size_ - offset;
    ReleaseFilePages(data_ + offset, length);
}

void ReleaseFilePages(const char* begin, std::size_t length) {
    if (!begin || length == 0) return;
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<uintptr_t>(begin);
    const uintptr_t first = (from + page - 1) / page * page;
    const uintptr_t last = (from + length) / page * page;
    if (last <= first) return;
    // A private read-only mapping of a file: dropped pages come back from the
    // file unchanged.
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace mw::platform
