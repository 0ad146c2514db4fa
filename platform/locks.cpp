#include "platform/locks.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/os_error.hpp"
#include "platform/roots.hpp"
#include "platform/safe_path.hpp"

namespace mw::platform {
namespace {

constexpr size_t kMaxFileName = 255;
constexpr const char* kLockFolder = "run/mw";

std::string FullName(std::string_view name, bool global) {
    if (global) return "Global\\" + std::string(name);
    return "Local\\" + std::to_string(::geteuid()) + "\\" + std::string(name);
}

bool RootsAlone(int fd, mode_t type) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == type && st.st_uid == 0 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// $MW_ROOT/run/mw through the link-safe walker; root makes what is missing
// (0755) and takes only folders that are root's alone.
std::error_code OpenLockFolder(UniqueFd& out) {
    const bool root = ::geteuid() == 0;
    UniqueFd machine;
    if (auto ec = OpenNoFollow(MachineRoot(), O_PATH | O_DIRECTORY, machine)) return ec;
    UniqueFd cur = std::move(machine);
    std::string_view rest = kLockFolder;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view level = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        UniqueFd next;
        if (auto ec = OpenOrMakeFolders(cur.get(), level, true, 0755, next)) return ec;
        if (root && !RootsAlone(next.get(), S_IFDIR)) return OsError(EACCES);
        cur = std::move(next);
    }
    out = std::move(cur);
    return {};
}

bool Flock(int fd, int op) {
    while (::flock(fd, op) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// A key of 31 bits for the full name on this machine root (FNV-1a), never
// IPC_PRIVATE: staging roots get counters of their own.
key_t CounterKey(std::string_view fullName) {
    uint32_t h = 2166136261u;
    auto add = [&](std::string_view text) {
        for (unsigned char c : text) {
            h ^= c;
            h *= 16777619u;
        }
        h ^= 0xFF;  // separator no text byte of a name can fake
        h *= 16777619u;
    };
    add(MachineRoot());
    add(fullName);
    key_t key = static_cast<key_t>(h & 0x7FFFFFFF);
    return key == IPC_PRIVATE ? 1 : key;
}

}  // namespace

std::string LockFileName(std::string_view fullName) {
    std::string out;
    for (unsigned char c : fullName) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '{' || c == '}' || c == '-') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    // Room for the longest suffix (".slots", kept so names stay as they were).
    if (out.empty() || out.size() + 6 > kMaxFileName) return {};
    return out;
}

std::string LockFolder() {
    return UnderMachineRoot(kLockFolder);
}

NamedMutex::NamedMutex(std::string_view name, bool initialOwner, bool global) {
    std::string file = LockFileName(FullName(name, global));
    if (file.empty()) return;
    file += ".lock";
    path_ = LockFolder() + "/" + file;
    const bool root = ::geteuid() == 0;
    // Only root makes lock files; a missing one is nothing to wait for.
    auto noneToWaitFor = [&](int e) {
        unshared_ = !root && (e == ENOENT || e == EACCES || e == EPERM || e == EROFS);
        if (unshared_ && initialOwner) owned_ = true;
    };
    UniqueFd dir;
    if (auto ec = OpenLockFolder(dir)) {
        noneToWaitFor(ec.value());
        return;
    }
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(::openat(dir.get(), file.c_str(), kFlags));
    if (!fd && errno == ENOENT) {
        fd.Reset(::openat(dir.get(), file.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
        if (fd) {
            if (::fchmod(fd.get(), 0644) != 0) return;
        } else if (errno == EEXIST) {
            fd.Reset(::openat(dir.get(), file.c_str(), kFlags));
        }
    }
    if (!fd) {
        noneToWaitFor(errno);
        return;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (root && !RootsAlone(fd.get(), S_IFREG)) return;
    fd_ = fd.Release();
    if (initialOwner) owned_ = Flock(fd_, LOCK_EX);
}

NamedMutex::~NamedMutex() {
    if (fd_ >= 0) {
        Release();
        ::close(fd_);
    }
}

bool NamedMutex::TryAcquire() {
    if (unshared_) return owned_ = true;
    if (fd_ < 0) return false;
    owned_ = Flock(fd_, LOCK_EX | LOCK_NB);
    return owned_;
}

void NamedMutex::Release() {
    if (fd_ >= 0 && owned_) Flock(fd_, LOCK_UN);
    owned_ = false;
}

InstanceCounter::InstanceCounter(std::string_view name) {
    std::string full = FullName(name, true);
    if (LockFileName(full).empty()) return;
    key_ = CounterKey(full);
    int id = ::semget(key_, 1, IPC_CREAT | 0666);
    if (id < 0) return;
    // What stands under the key must be a counter of one semaphore; root
    // gives it back to every user when someone narrowed its mode.
    struct semid_ds ds = {};
    if (::semctl(id, 0, IPC_STAT, &ds) != 0 || ds.sem_nsems != 1) return;
    if ((ds.sem_perm.mode & 0777) != 0666 && ::geteuid() == 0) {
        ds.sem_perm.mode = (ds.sem_perm.mode & ~0777) | 0666;
        ::semctl(id, 0, IPC_SET, &ds);
    }
    semId_ = id;
    struct sembuf up = {0, 1, SEM_UNDO};
    while (::semop(semId_, &up, 1) != 0) {
        if (errno != EINTR) return;
    }
    held_ = 1;
}

InstanceCounter::~InstanceCounter() {
    if (held_ > 0) {
        struct sembuf down = {0, -1, SEM_UNDO | IPC_NOWAIT};
        while (::semop(semId_, &down, 1) != 0 && errno == EINTR) {
        }
    }
}

int32_t InstanceCounter::Count() {
    if (semId_ < 0) return -1;
    int value = ::semctl(semId_, 0, GETVAL);
    return value < 0 ? -1 : value;
}

}  // namespace mw::platform
