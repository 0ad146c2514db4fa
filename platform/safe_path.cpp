#include "platform/safe_path.hpp"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/capability.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <deque>

#include "platform/acl_handles.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/roots.hpp"

namespace mw::platform {

namespace {

std::error_code Errno(int e) {
    return OsError(e);
}

// The kernel's own limit for links met while resolving one path.
constexpr int kMaxLinks = 40;

// A link nobody but root could have made or replaced.
bool TrustedLink(const struct stat& link, const struct stat& folder) {
    return link.st_uid == 0 && folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Walks the given folder elements from "/" and leaves `cur` on the last one.
std::error_code WalkFolders(const std::vector<std::string>& elements, size_t count, UniqueFd& cur) {
    cur.Reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!cur) return Errno(errno);
    std::deque<std::string> todo(elements.begin(), elements.begin() + count);
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            // Only the target of a trusted link can bring this here: the
            // caller's own ".." elements were refused before the walk.
            UniqueFd up(openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up) return Errno(errno);
            cur = std::move(up);
            continue;
        }
        UniqueFd next(
            openat(cur.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        if (next) {
            cur = std::move(next);
            continue;
        }
        int e = errno;
        if (e != ENOTDIR && e != ELOOP) return Errno(e);
        struct stat st, folder;
        if (fstatat(cur.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Errno(errno);
        if (!S_ISLNK(st.st_mode)) return Errno(ENOTDIR);
        if (++links > kMaxLinks) return Errno(ELOOP);
        if (fstat(cur.get(), &folder) != 0) return Errno(errno);
        if (!TrustedLink(st, folder)) return Errno(ELOOP);
        std::string target(4096, '\0');
        ssize_t n = readlinkat(cur.get(), name.c_str(), target.data(), target.size());
        if (n < 0) return Errno(errno);
        if (n == 0) return Errno(ENOENT);
        if (static_cast<size_t>(n) >= target.size()) return Errno(ENAMETOOLONG);
        target.resize(static_cast<size_t>(n));
        if (target[0] == '/') {
            cur.Reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!cur) return Errno(errno);
        }
        PrependPathElements(target, todo);
    }
    return {};
}

}  // namespace

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

std::error_code SplitAbsolutePath(std::string_view path, std::vector<std::string>& elements) {
    elements.clear();
    if (path.empty() || path[0] != '/') return Errno(EINVAL);
    if (path.find('\0') != std::string_view::npos) return Errno(EINVAL);
    for (auto& p : PathElements(path)) {
        if (p == "." || p == "..") {
            elements.clear();
            return Errno(EINVAL);
        }
        elements.push_back(std::move(p));
    }
    return {};
}

bool NeedsTargetUser(std::string_view path) {
    if (geteuid() != 0) return false;
    const TargetUser& user = CurrentTargetUser();
    return user.uid != 0 && IsBelowTargetUserFolders(path);
}

TargetUserScope::TargetUserScope(bool active) {
    if (!active) return;
    const TargetUser& user = CurrentTargetUser();
    int n = getgroups(0, nullptr);
    if (n < 0) {
        error_ = Errno(errno);
        return;
    }
    oldGroups_.resize(static_cast<size_t>(n));
    if (n > 0 && getgroups(n, oldGroups_.data()) < 0) {
        error_ = Errno(errno);
        return;
    }
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) count = 0;
    }
    groups.resize(static_cast<size_t>(count));
    if (groups.empty()) groups.push_back(user.gid);
    CapsHandle caps(cap_get_proc());
    // The raw call changes this thread only; the C library's wrapper would
    // change every thread of the process.
    if (syscall(SYS_setgroups, groups.size(), groups.data()) != 0) {
        error_ = Errno(errno);
        return;
    }
    oldCaps_ = {caps.Release(), cap_free};
    oldGid_ = static_cast<gid_t>(setfsgid(user.gid));
    oldUid_ = static_cast<uid_t>(setfsuid(user.uid));
    active_ = true;
    if (static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) != user.uid ||
        static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) != user.gid)
        error_ = Errno(EPERM);
}

TargetUserScope::~TargetUserScope() {
    if (!active_) return;
    setfsuid(oldUid_);
    setfsgid(oldGid_);
    syscall(SYS_setgroups, oldGroups_.size(), oldGroups_.data());
    // Going back to fsuid 0 raises every permitted file capability; keep
    // whatever the process had lowered on purpose.
    if (oldCaps_) cap_set_proc(static_cast<cap_t>(oldCaps_.get()));
}

std::error_code OpenParentFolder(const std::string& path, UniqueFd& folder, std::string& leaf) {
    std::vector<std::string> elements;
    if (auto ec = SplitAbsolutePath(path, elements)) return ec;
    leaf.clear();
    if (elements.empty()) return WalkFolders(elements, 0, folder);
    leaf = elements.back();
    return WalkFolders(elements, elements.size() - 1, folder);
}

std::error_code OpenNoFollow(const std::string& path, int flags, UniqueFd& fd, mode_t mode) {
    UniqueFd folder;
    std::string leaf;
    if (auto ec = OpenParentFolder(path, folder, leaf)) return ec;
    if (leaf.empty()) {
        if (flags & O_CREAT) return Errno(EEXIST);
        fd.Reset(open("/", (flags & ~O_NOFOLLOW) | O_CLOEXEC));
    } else {
        fd.Reset(openat(folder.get(), leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    }
    if (!fd) return Errno(errno);
    return {};
}

std::error_code OpenOrMakeFolders(int base, std::string_view relative, bool create, mode_t mode,
                                  UniqueFd& out) {
    const std::vector<std::string> levels = PathElements(relative);
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd cur(openat(base, ".", kFlags));
    if (!cur) return Errno(errno);
    for (const std::string& level : levels) {
        if (level == "." || level == "..") return Errno(EINVAL);
        UniqueFd next(openat(cur.get(), level.c_str(), kFlags));
        if (!next && errno == ENOENT && create) {
            // Made private first: nobody can use it before it has its mode.
            if (mkdirat(cur.get(), level.c_str(), 0700) == 0) {
                next.Reset(openat(cur.get(), level.c_str(), kFlags));
                if (next && fchmod(next.get(), mode) != 0) return Errno(errno);
            } else if (errno == EEXIST) {
                next.Reset(openat(cur.get(), level.c_str(), kFlags));
            } else {
                return Errno(errno);
            }
        }
        if (!next) return Errno(errno);
        cur = std::move(next);
    }
    out = std::move(cur);
    return {};
}

std::string FdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace mw::platform
