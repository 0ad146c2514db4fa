// Path walking for a root process that must not be steered by links or ".."
// elements that someone else planted. Every path is resolved from "/" one
// element at a time; a symbolic link on the way is followed only when nobody
// but root could have made it (the link and the folder holding it belong to
// root, and that folder is writable by no group and no other user). The last
// element is never followed. Below the target user's home, calls run with that
// user's file-system identity, so root writes nothing there that the user
// could not have written.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace mw::platform {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// Splits an absolute path into its elements. Repeated and trailing '/' are
// allowed; a relative path, an empty one, or a "." or ".." element gives
// EINVAL.
std::error_code SplitAbsolutePath(std::string_view path, std::vector<std::string>& elements);

// True when file-system calls for `path` must run as the target user: the
// process is root, the target user is not, and the path lies below that
// user's home.
bool NeedsTargetUser(std::string_view path);

// While alive, file-system calls of this thread run with the target user's
// uid, gid and groups (setfsuid, setfsgid, per-thread setgroups) when
// `active`; the previous identity and the effective capabilities are put back
// by the destructor. Scopes nest.
class TargetUserScope {
public:
    explicit TargetUserScope(bool active);
    explicit TargetUserScope(std::string_view path) : TargetUserScope(NeedsTargetUser(path)) {}
    ~TargetUserScope();
    TargetUserScope(const TargetUserScope&) = delete;
    TargetUserScope& operator=(const TargetUserScope&) = delete;

    bool active() const { return active_; }
    // Set when the identity could not be taken; callers must not go on.
    std::error_code error() const { return error_; }

private:
    bool active_ = false;
    std::error_code error_;
    uid_t oldUid_ = 0;
    gid_t oldGid_ = 0;
    std::vector<gid_t> oldGroups_;
    // The capability state to put back (a cap_t, freed with cap_free).
    std::unique_ptr<void, int (*)(void*)> oldCaps_{nullptr, nullptr};
};

// Opens the folder holding the last element of `path` (O_PATH) and gives that
// element in `leaf`; for "/" the folder is "/" and `leaf` is empty. Call it
// inside the TargetUserScope of the path.
std::error_code OpenParentFolder(const std::string& path, UniqueFd& folder, std::string& leaf);

// Opens `path` itself with `flags` | O_NOFOLLOW | O_CLOEXEC (O_PATH allowed;
// O_CREAT uses `mode`). A link as the last element fails (ELOOP, or ENOTDIR
// with O_DIRECTORY), except with O_PATH, which opens the link itself. Call it
// inside the TargetUserScope of the path.
std::error_code OpenNoFollow(const std::string& path, int flags, UniqueFd& fd, mode_t mode = 0);

// Opens the folders of `relative` ("a/b/c") below the open folder `base`
// one level at a time, never following a link, and leaves the last one open
// (O_RDONLY) in `out`. With `create`, a missing level is made with `mode`
// whatever the umask (set on the new folder's descriptor, so no name is
// re-moded); without it a missing level gives ENOENT. An existing level keeps
// its mode.
std::error_code OpenOrMakeFolders(int base, std::string_view relative, bool create, mode_t mode,
                                  UniqueFd& out);

// "/proc/self/fd/N", for calls that have no descriptor form.
std::string FdPath(int fd);

}  // namespace mw::platform
