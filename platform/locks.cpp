#include "platform/locks.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/roots.hpp"

namespace mw::platform {
namespace {

constexpr size_t kMaxFileName = 255;

std::string FullName(std::string_view name, bool global) {
    if (global) return "Global\\" + std::string(name);
    return "Local\\" + std::to_string(::geteuid()) + "\\" + std::string(name);
}

// Opens a folder below `parent` (or the path itself with parent AT_FDCWD),
// creating it with `mode` when missing. The last component is never a link.
int OpenOrMakeFolder(int parent, const std::string& name, mode_t mode) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        if (::mkdirat(parent, name.c_str(), 0700) == 0) {
            fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) ::fchmod(fd, mode);  // ours: the umask has no say
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// $MW_ROOT/run/lock, made when missing (run 0755, lock 1777).
int OpenLockFolder() {
    std::string run = UnderMachineRoot("run");
    int runFd = ::open(run.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (runFd < 0 && errno == ENOENT) {
        if (::mkdir(run.c_str(), 0700) == 0) ::chmod(run.c_str(), 0755);
        runFd = ::open(run.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (runFd < 0) return -1;
    int fd = OpenOrMakeFolder(runFd, "lock", 01777);
    ::close(runFd);
    return fd;
}

// Opens an existing regular file without creating it first, so that a file
// another user made in the sticky folder opens even where the kernel refuses
// O_CREAT on it (fs.protected_regular); creates it exclusively otherwise.
int OpenOrMakeFile(int dirFd, const std::string& name, bool& created) {
    created = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::openat(dirFd, name.c_str(),
                          O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST) continue;  // someone was quicker: open theirs
            if (fd >= 0) {
                ::fchmod(fd, 0666);
                created = true;
            }
        }
        if (fd < 0) return -1;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        return fd;
    }
    return -1;
}

bool Flock(int fd, int op) {
    while (::flock(fd, op) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// Slot names need only be unique among live processes: the pid is, and the
// random part guards against a reused pid whose old slot is still there.
std::string RandomHex() {
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != sizeof bytes) {
        static unsigned counter = 0;
        return "x" + std::to_string(++counter);
    }
    std::string out;
    char buf[3];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
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
    // Room for the longest suffix (".slots").
    if (out.empty() || out.size() + 6 > kMaxFileName) return {};
    return out;
}

std::string LockFolder() {
    return UnderMachineRoot("run/lock");
}

NamedMutex::NamedMutex(std::string_view name, bool initialOwner, bool global) {
    std::string file = LockFileName(FullName(name, global));
    if (file.empty()) return;
    file += ".lock";
    path_ = LockFolder() + "/" + file;
    int dirFd = OpenLockFolder();
    if (dirFd < 0) return;
    bool created = false;
    fd_ = OpenOrMakeFile(dirFd, file, created);
    ::close(dirFd);
    if (fd_ >= 0 && initialOwner) owned_ = Flock(fd_, LOCK_EX);
}

NamedMutex::~NamedMutex() {
    if (fd_ >= 0) {
        Release();
        ::close(fd_);
    }
}

bool NamedMutex::TryAcquire() {
    if (fd_ < 0) return false;
    owned_ = Flock(fd_, LOCK_EX | LOCK_NB);
    return owned_;
}

void NamedMutex::Release() {
    if (fd_ >= 0 && owned_) Flock(fd_, LOCK_UN);
    owned_ = false;
}

// The counter is a folder of slot files, one per counted process, each held
// with an exclusive flock by its process. A slot is made under a "new." name
// and renamed to "slot." only once it is locked, so a counter never takes a
// slot being born for a dead one.
InstanceCounter::InstanceCounter(std::string_view name) {
    std::string file = LockFileName(FullName(name, true));
    if (file.empty()) return;
    file += ".slots";
    folder_ = LockFolder() + "/" + file;
    int lockFd = OpenLockFolder();
    if (lockFd < 0) return;
    dirFd_ = OpenOrMakeFolder(lockFd, file, 01777);
    ::close(lockFd);
    if (dirFd_ < 0) return;

    std::string unique = std::to_string(::getpid()) + "." + RandomHex();
    std::string fresh = "new." + unique;
    int fd =
        ::openat(dirFd_, fresh.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ::fchmod(fd, 0644);
    std::string slot = "slot." + unique;
    if (!Flock(fd, LOCK_EX | LOCK_NB) ||
        ::renameat(dirFd_, fresh.c_str(), dirFd_, slot.c_str()) != 0) {
        ::unlinkat(dirFd_, fresh.c_str(), 0);
        ::close(fd);
        return;
    }
    slotFd_ = fd;
    slotName_ = slot;
}

InstanceCounter::~InstanceCounter() {
    if (slotFd_ >= 0) {
        ::unlinkat(dirFd_, slotName_.c_str(), 0);
        ::close(slotFd_);
    }
    if (dirFd_ >= 0) ::close(dirFd_);
}

int32_t InstanceCounter::Count() {
    if (dirFd_ < 0) return 0;
    int scanFd = ::openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scanFd < 0) return 0;
    DIR* dir = ::fdopendir(scanFd);
    if (!dir) {
        ::close(scanFd);
        return 0;
    }
    int32_t count = 0;
    while (dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name.substr(0, 5) != "slot.") continue;
        int fd = ::openat(dirFd_, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;  // gone meanwhile, or not ours to see
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
                if (errno == EWOULDBLOCK) ++count;  // a live holder
            } else {
                // Left by a process that died: tidy up where the folder lets us.
                ::unlinkat(dirFd_, e->d_name, 0);
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
    return count;
}

}  // namespace mw::platform
