// The real file system. Every call resolves its paths with the path walker
// (no planted link, no "..", last element never followed) and acts with the
// *at() calls on the folder it ends in; below the target user's folders it
// acts as that user.
#include <acl/libacl.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/access_control.hpp"
#include "platform/acl_handles.hpp"
#include "platform/file_system.hpp"
#include "platform/os_error.hpp"
#include "platform/roots.hpp"
#include "platform/safe_path.hpp"
#include "platform/trusted_path.hpp"

namespace mw::platform {

namespace {

std::error_code Err(int e) {
    return OsError(e);
}
std::error_code LastErr() {
    return Err(errno);
}

std::string RandomSuffix(size_t n) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[32];
    if (n > sizeof raw) n = sizeof raw;
    size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(raw + got, n - got, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            // No entropy source: fall back on something that still varies.
            for (; got < n; ++got) raw[got] = static_cast<unsigned char>(rand());
            break;
        }
        got += static_cast<size_t>(r);
    }
    std::string s;
    for (size_t i = 0; i < n; ++i) s += kChars[raw[i] % (sizeof kChars - 1)];
    return s;
}

std::string Join(const std::string& dir, const std::string& name) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d == "/" ? "/" + name : d + "/" + name;
}

// A folder that a user other than root may change: a name in it may have
// been put there by that user.
bool OthersMayWrite(const struct stat& folder) {
    return folder.st_uid != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

std::error_code TypeError(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return Err(EISDIR);
    if (S_ISLNK(st.st_mode)) return Err(ELOOP);
    return Err(EINVAL);
}

// See OpenForMetadataChange: whether an item opened in `folder` may have its
// metadata changed by root.
std::error_code CheckSwapSafe(int folder, const struct stat& item, bool asUser, uid_t owner) {
    if (asUser || geteuid() != 0) return {};
    struct stat fs;
    if (fstat(folder, &fs) != 0) return LastErr();
    if (!OthersMayWrite(fs)) return {};
    if (item.st_uid != 0 && item.st_uid != owner) return Err(EPERM);
    if (S_ISREG(item.st_mode) && item.st_nlink != 1) return Err(EMLINK);
    return {};
}

bool IsAclOrPrivileged(std::string_view name, bool privileged, bool& skip) {
    skip = false;
    if (name.rfind("system.posix_acl_", 0) == 0) {
        skip = true;  // carried by the ACL calls
        return true;
    }
    bool special = name.rfind("security.", 0) == 0 || name.rfind("trusted.", 0) == 0;
    if (special && !privileged) skip = true;
    return special;
}

std::vector<std::string> ListXattrs(int fd, std::error_code& ec) {
    std::vector<std::string> names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t n = flistxattr(fd, nullptr, 0);
        if (n < 0) {
            if (errno == ENOTSUP) return names;
            ec = LastErr();
            return names;
        }
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        n = flistxattr(fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == ERANGE) continue;
            ec = LastErr();
            return names;
        }
        for (ssize_t i = 0; i < n;) {
            std::string name(buf.data() + i);
            i += static_cast<ssize_t>(name.size()) + 1;
            if (!name.empty()) names.push_back(std::move(name));
        }
        return names;
    }
    ec = Err(ERANGE);
    return names;
}

bool GetXattr(int fd, const std::string& name, std::vector<char>& value, std::error_code& ec) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t n = fgetxattr(fd, name.c_str(), nullptr, 0);
        if (n < 0) {
            if (errno == ENODATA) return false;
            ec = LastErr();
            return false;
        }
        value.resize(static_cast<size_t>(n));
        n = fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<size_t>(n));
            return true;
        }
        if (errno != ERANGE) {
            ec = LastErr();
            return false;
        }
    }
    ec = Err(ERANGE);
    return false;
}

// Gives `dst` the owner, mode, ACLs and extended attributes of `src`. Both
// are open descriptors (not O_PATH). `asUser`: running with the target
// user's identity, where the user's ownership stands when root's cannot be
// given.
std::error_code ApplyMetadata(int src, const struct stat& s, int dst, bool asUser) {
    struct stat d;
    if (fstat(dst, &d) != 0) return LastErr();
    bool privileged = geteuid() == 0 && !asUser;
    if (d.st_uid != s.st_uid || d.st_gid != s.st_gid) {
        if (fchown(dst, s.st_uid, s.st_gid) != 0 && !(errno == EPERM && !privileged))
            return LastErr();
    }
    if (fchmod(dst, s.st_mode & 07777) != 0) return LastErr();

    // Access ACL: only an extended one needs carrying, or one that replaces
    // an extended ACL already on the target.
    AclHandle access(acl_get_fd(src));
    if (!access) {
        if (errno != ENOTSUP) return LastErr();
        access.Reset(acl_from_mode(s.st_mode));
        if (!access) return LastErr();
    }
    bool srcExtended = acl_equiv_mode(access.get(), nullptr) == 1;
    bool dstExtended = false;
    if (AclHandle old(acl_get_fd(dst)); old) dstExtended = acl_equiv_mode(old.get(), nullptr) == 1;
    if (srcExtended || dstExtended) {
        // A target file system without ACLs keeps the mode alone.
        if (acl_set_fd(dst, access.get()) != 0 && errno != ENOTSUP) return LastErr();
    }

    if (S_ISDIR(s.st_mode)) {
        std::string sp = FdPath(src), dp = FdPath(dst);
        AclHandle def(acl_get_file(sp.c_str(), ACL_TYPE_DEFAULT));
        if (def) {
            if (acl_entries(def.get()) > 0) {
                if (acl_set_file(dp.c_str(), ACL_TYPE_DEFAULT, def.get()) != 0 && errno != ENOTSUP)
                    return LastErr();
            } else if (acl_delete_def_file(dp.c_str()) != 0 && errno != ENOTSUP &&
                       errno != ENODATA) {
                return LastErr();
            }
        } else if (errno != ENOTSUP) {
            return LastErr();
        }
    }

    std::error_code ec;
    std::vector<std::string> names = ListXattrs(src, ec);
    if (ec) return ec;
    std::vector<char> value;
    for (const auto& name : names) {
        bool skip;
        bool special = IsAclOrPrivileged(name, privileged, skip);
        if (skip) continue;
        if (!GetXattr(src, name, value, ec)) {
            if (ec) return ec;
            continue;
        }
        if (fsetxattr(dst, name.c_str(), value.data(), value.size(), 0) != 0) {
            if (errno == ENOTSUP || (special && errno == EPERM)) continue;
            return LastErr();
        }
    }
    // The target keeps no attribute of its own that the source lacks.
    std::vector<std::string> extra = ListXattrs(dst, ec);
    if (ec) return ec;
    for (const auto& name : extra) {
        bool skip;
        IsAclOrPrivileged(name, privileged, skip);
        if (skip) continue;
        bool inSource = false;
        for (const auto& n : names) inSource |= n == name;
        if (!inSource && fremovexattr(dst, name.c_str()) != 0 && errno != ENODATA &&
            errno != ENOTSUP && errno != EPERM)
            return LastErr();
    }
    return {};
}

std::error_code WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastErr();
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return {};
}

// Opens the path (not following a last link) for reading, as a regular file
// or, with `folderToo`, a folder.
std::error_code OpenExisting(const std::string& path, bool folderToo, UniqueFd& fd,
                             struct stat& st) {
    if (auto ec = OpenNoFollow(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, fd)) return ec;
    if (fstat(fd.get(), &st) != 0) return LastErr();
    if (!S_ISREG(st.st_mode) && !(folderToo && S_ISDIR(st.st_mode))) {
        fd.Reset();
        return TypeError(st);
    }
    int fl = fcntl(fd.get(), F_GETFL);
    if (fl >= 0) fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
    return {};
}

class RealOutputFile : public OutputFile {
public:
    explicit RealOutputFile(UniqueFd fd) : fd_(std::move(fd)) {}
    std::error_code Write(const void* data, std::size_t size) override {
        if (!fd_) return Err(EBADF);
        return WriteAll(fd_.get(), data, size);
    }
    std::error_code Close() override {
        if (!fd_) return {};
        if (close(fd_.Release()) != 0 && errno != EINTR) return LastErr();
        return {};
    }

private:
    UniqueFd fd_;
};

class RealInputFile : public InputFile {
public:
    explicit RealInputFile(UniqueFd fd) : fd_(std::move(fd)) {}
    std::error_code Read(void* data, std::size_t size, std::size_t& got) override {
        got = 0;
        for (;;) {
            ssize_t n = read(fd_.get(), data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return LastErr();
            }
            got = static_cast<size_t>(n);
            return {};
        }
    }

private:
    UniqueFd fd_;
};

// Runs `body(folderFd, leaf, asUser)` on the folder holding the path's last
// element, with the identity the path calls for.
template <class Body>
std::error_code AtParent(const std::string& path, Body&& body) {
    TargetUserScope scope(path);
    if (scope.error()) return scope.error();
    UniqueFd folder;
    std::string leaf;
    if (auto ec = OpenParentFolder(path, folder, leaf)) return ec;
    return body(folder.get(), leaf, scope.active());
}

// The user's side of a move done as root: the user must be able to make
// this change in that folder.
std::error_code CheckUserMayChange(int folder, const std::string& leaf) {
    TargetUserScope scope(true);
    if (scope.error()) return scope.error();
    if (syscall(SYS_faccessat2, folder, "", W_OK | X_OK, AT_EACCESS | AT_EMPTY_PATH) != 0)
        return LastErr();
    struct stat fs, ls;
    if (fstat(folder, &fs) != 0) return LastErr();
    uid_t uid = CurrentTargetUser().uid;
    if ((fs.st_mode & S_ISVTX) && fs.st_uid != uid &&
        fstatat(folder, leaf.c_str(), &ls, AT_SYMLINK_NOFOLLOW) == 0 && ls.st_uid != uid)
        return Err(EACCES);
    return {};
}

// Opens `leaf` in `folder` (O_PATH, a link is never taken) for a change of
// its mode or owner. Where root acts in a folder that others may write, the
// name could have been swapped since the caller looked at it: only a plain
// file or folder (or, with `linkToo`, the link itself) of root's (or of
// `owner`), and a file with no second name (a hard link planted to another
// file), is taken.
std::error_code OpenForMetadataChange(int folder, const std::string& leaf, bool asUser, uid_t owner,
                                      bool linkToo, UniqueFd& fd, struct stat& st) {
    fd.Reset(leaf.empty() ? openat(folder, ".", O_PATH | O_CLOEXEC)
                          : openat(folder, leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return LastErr();
    if (fstat(fd.get(), &st) != 0) return LastErr();
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !(linkToo && S_ISLNK(st.st_mode)))
        return TypeError(st);
    return CheckSwapSafe(folder, st, asUser, owner);
}

class RealFileSystem : public FileSystem {
public:
    FileInfo Status(const std::string& path, std::error_code& ec) override {
        ec.clear();
        FileInfo info;
        ec = AtParent(path, [&](int folder, const std::string& leaf, bool) -> std::error_code {
            struct stat st;
            int rc = leaf.empty() ? fstat(folder, &st)
                                  : fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW);
            if (rc != 0) return LastErr();
            info.type = S_ISREG(st.st_mode)   ? FileType::Regular
                        : S_ISDIR(st.st_mode) ? FileType::Directory
                        : S_ISLNK(st.st_mode) ? FileType::Symlink
                                              : FileType::Other;
            info.mode = st.st_mode & 07777;
            info.uid = st.st_uid;
            info.gid = st.st_gid;
            info.size = static_cast<uint64_t>(st.st_size);
            info.device = st.st_dev;
            info.inode = st.st_ino;
            return {};
        });
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
            ec.clear();
            info = FileInfo{};
        }
        return info;
    }

    // Both act on a descriptor of the item, so the item checked is the one
    // changed (an O_PATH descriptor takes chmod through its /proc name).
    std::error_code SetMode(const std::string& path, uint32_t mode) override {
        return AtParent(
            path, [&](int folder, const std::string& leaf, bool asUser) -> std::error_code {
                UniqueFd fd;
                struct stat st;
                if (auto ec = OpenForMetadataChange(folder, leaf, asUser, 0, false, fd, st))
                    return ec;
                return chmod(FdPath(fd.get()).c_str(), mode & 07777) == 0 ? std::error_code()
                                                                          : LastErr();
            });
    }

    std::error_code SetOwner(const std::string& path, uid_t uid, gid_t gid) override {
        return AtParent(
            path, [&](int folder, const std::string& leaf, bool asUser) -> std::error_code {
                UniqueFd fd;
                struct stat st;
                if (auto ec = OpenForMetadataChange(folder, leaf, asUser, 0, true, fd, st))
                    return ec;
                return fchownat(fd.get(), "", uid, gid, AT_EMPTY_PATH) == 0 ? std::error_code()
                                                                            : LastErr();
            });
    }

    std::error_code CreateDirectory(const std::string& path) override {
        return AtParent(path, [&](int folder, const std::string& leaf, bool) -> std::error_code {
            if (leaf.empty()) return Err(EEXIST);
            return mkdirat(folder, leaf.c_str(), 0777) == 0 ? std::error_code() : LastErr();
        });
    }

    std::error_code RemoveDirectory(const std::string& path) override {
        return AtParent(path, [&](int folder, const std::string& leaf, bool) -> std::error_code {
            if (leaf.empty()) return Err(EBUSY);
            return unlinkat(folder, leaf.c_str(), AT_REMOVEDIR) == 0 ? std::error_code()
                                                                     : LastErr();
        });
    }

    std::error_code RemoveFile(const std::string& path) override {
        return AtParent(path, [&](int folder, const std::string& leaf, bool) -> std::error_code {
            if (leaf.empty()) return Err(EISDIR);
            return unlinkat(folder, leaf.c_str(), 0) == 0 ? std::error_code() : LastErr();
        });
    }

    std::error_code Rename(const std::string& from, const std::string& to) override {
        bool fromUser = NeedsTargetUser(from), toUser = NeedsTargetUser(to);
        UniqueFd fromDir, toDir;
        std::string fromLeaf, toLeaf;
        {
            TargetUserScope scope(fromUser);
            if (scope.error()) return scope.error();
            if (auto ec = OpenParentFolder(from, fromDir, fromLeaf)) return ec;
        }
        {
            TargetUserScope scope(toUser);
            if (scope.error()) return scope.error();
            if (auto ec = OpenParentFolder(to, toDir, toLeaf)) return ec;
        }
        if (fromLeaf.empty() || toLeaf.empty()) return Err(EBUSY);
        if (fromUser == toUser) {
            TargetUserScope scope(fromUser);
            if (scope.error()) return scope.error();
            if (renameat(fromDir.get(), fromLeaf.c_str(), toDir.get(), toLeaf.c_str()) != 0)
                return LastErr();
            return {};
        }
        // One side is the user's, the other root's (a private backup folder,
        // say): the user could not reach root's side, so the move is made as
        // root once the user's side has been checked as the user.
        if (fromUser)
            if (auto ec = CheckUserMayChange(fromDir.get(), fromLeaf)) return ec;
        if (toUser) {
            if (auto ec = CheckUserMayChange(toDir.get(), toLeaf)) return ec;
            // What goes to the user is made the user's while it is still on
            // root's side, where nobody else can swap the name for another
            // file; once in the user's folder, a name is the user's to
            // replace. Root's own items stay root's.
            struct stat folder, item;
            if (fstat(fromDir.get(), &folder) != 0) return LastErr();
            if (OthersMayWrite(folder)) return Err(EACCES);
            if (fstatat(fromDir.get(), fromLeaf.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0)
                return LastErr();
            const TargetUser& user = CurrentTargetUser();
            if (item.st_uid != 0 && item.st_uid != user.uid &&
                fchownat(fromDir.get(), fromLeaf.c_str(), user.uid, user.gid,
                         AT_SYMLINK_NOFOLLOW) != 0)
                return LastErr();
        }
        if (renameat(fromDir.get(), fromLeaf.c_str(), toDir.get(), toLeaf.c_str()) != 0)
            return LastErr();
        return {};
    }

    std::error_code CopyFile(const std::string& from, const std::string& to) override {
        UniqueFd src;
        struct stat st;
        {
            TargetUserScope scope(from);
            if (scope.error()) return scope.error();
            if (auto ec = OpenExisting(from, false, src, st)) return ec;
        }
        return AtParent(
            to, [&](int folder, const std::string& leaf, bool asUser) -> std::error_code {
                if (leaf.empty()) return Err(EISDIR);
                // Written beside the target under a fresh name and renamed over
                // it, so a failure leaves the target as it was.
                std::string temp;
                UniqueFd out;
                for (int attempt = 0; attempt < 100 && !out; ++attempt) {
                    temp = ".mwcopy-" + RandomSuffix(10);
                    out.Reset(openat(folder, temp.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
                    if (!out && errno != EEXIST) return LastErr();
                }
                if (!out) return Err(EEXIST);
                std::error_code ec;
                std::vector<char> buf(1 << 16);
                for (;;) {
                    ssize_t n = read(src.get(), buf.data(), buf.size());
                    if (n < 0) {
                        if (errno == EINTR) continue;
                        ec = LastErr();
                        break;
                    }
                    if (n == 0) break;
                    if ((ec = WriteAll(out.get(), buf.data(), static_cast<size_t>(n)))) break;
                }
                if (!ec) ec = ApplyMetadata(src.get(), st, out.get(), asUser);
                if (!ec && close(out.Release()) != 0 && errno != EINTR) ec = LastErr();
                if (!ec && renameat(folder, temp.c_str(), folder, leaf.c_str()) != 0)
                    ec = LastErr();
                if (ec) unlinkat(folder, temp.c_str(), 0);
                return ec;
            });
    }

    std::error_code CopyMetadata(const std::string& from, const std::string& to) override {
        UniqueFd src, dst;
        struct stat st, dt;
        {
            TargetUserScope scope(from);
            if (scope.error()) return scope.error();
            if (auto ec = OpenExisting(from, true, src, st)) return ec;
        }
        return AtParent(
            to, [&](int folder, const std::string& leaf, bool asUser) -> std::error_code {
                if (leaf.empty()) return Err(EBUSY);
                // Opened once, checked and changed through that descriptor: a
                // name swapped after the caller's check is not followed to
                // another file.
                dst.Reset(openat(folder, leaf.c_str(),
                                 O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
                if (!dst) return LastErr();
                if (fstat(dst.get(), &dt) != 0) return LastErr();
                if (!S_ISREG(dt.st_mode) && !S_ISDIR(dt.st_mode)) return TypeError(dt);
                if (auto ec = CheckSwapSafe(folder, dt, asUser, st.st_uid)) return ec;
                return ApplyMetadata(src.get(), st, dst.get(), asUser);
            });
    }

    std::error_code CreateUniqueFile(const std::string& dir, const std::string& prefix,
                                     std::string& path) override {
        return CreateUnique(dir, prefix, path, false);
    }

    std::error_code CreateUniqueDirectory(const std::string& dir, const std::string& prefix,
                                          std::string& path) override {
        return CreateUnique(dir, prefix, path, true);
    }

    std::error_code GrantAccess(const std::string& path, unsigned perms, bool inherit) override {
        TargetUserScope scope(path);
        if (scope.error()) return scope.error();
        UniqueFd fd;
        if (auto ec = OpenNoFollow(path, O_PATH, fd)) return ec;
        const uid_t owner = scope.active() ? CurrentTargetUser().uid : geteuid();
        if (auto ec = CheckGrantTarget(fd.get(), owner)) return ec;
        return GrantOthersOnDescriptor(fd.get(), perms, inherit);
    }

    std::unique_ptr<OutputFile> OpenForWrite(const std::string& path,
                                             std::error_code& ec) override {
        UniqueFd fd;
        ec = AtParent(
            path, [&](int folder, const std::string& leaf, bool asUser) -> std::error_code {
                if (leaf.empty()) return Err(EISDIR);
                constexpr int kFlags =
                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
                struct stat st, fs;
                // Only a regular file is opened: a pipe or a device is refused
                // before anything happens to it (and checked again once open).
                if (fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    !S_ISREG(st.st_mode))
                    return TypeError(st);
                fd.Reset(openat(folder, leaf.c_str(), kFlags, 0666));
                if (!fd) return LastErr();
                if (fstat(fd.get(), &st) != 0) return LastErr();
                if (!S_ISREG(st.st_mode)) {
                    fd.Reset();
                    return TypeError(st);
                }
                const bool root = !asUser && geteuid() == 0;
                if (root && (st.st_uid != 0 ||
                             (st.st_nlink > 1 && fstat(folder, &fs) == 0 && OthersMayWrite(fs)))) {
                    // A file another user owns stays theirs to change while root
                    // writes it, and a second name in a folder that others may
                    // write could be a hard link planted to make root truncate
                    // some other file: replace this name instead of writing
                    // through it.
                    fd.Reset();
                    if (unlinkat(folder, leaf.c_str(), 0) != 0) return LastErr();
                    fd.Reset(openat(folder, leaf.c_str(), kFlags | O_EXCL, 0666));
                    if (!fd) return LastErr();
                } else if (ftruncate(fd.get(), 0) != 0) {
                    return LastErr();
                }
                int fl = fcntl(fd.get(), F_GETFL);
                if (fl >= 0) fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
                return {};
            });
        if (ec) return nullptr;
        return std::make_unique<RealOutputFile>(std::move(fd));
    }

    std::unique_ptr<InputFile> OpenForRead(const std::string& path, std::error_code& ec) override {
        TargetUserScope scope(path);
        if ((ec = scope.error())) return nullptr;
        UniqueFd fd;
        struct stat st;
        if ((ec = OpenExisting(path, false, fd, st))) return nullptr;
        return std::make_unique<RealInputFile>(std::move(fd));
    }

private:
    std::error_code CreateUnique(const std::string& dir, const std::string& prefix,
                                 std::string& path, bool folder) {
        path.clear();
        if (prefix.find('/') != std::string::npos || prefix == "." || prefix == "..")
            return Err(EINVAL);
        TargetUserScope scope(dir);
        if (scope.error()) return scope.error();
        UniqueFd d;
        if (auto ec = OpenNoFollow(dir, O_PATH | O_DIRECTORY, d)) return ec;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = prefix + RandomSuffix(6);
            int rc;
            if (folder) {
                rc = mkdirat(d.get(), name.c_str(), 0700);
            } else {
                rc = openat(d.get(), name.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                if (rc >= 0) rc = close(rc) == 0 || errno == EINTR ? 0 : -1;
            }
            if (rc == 0) {
                path = Join(dir, name);
                return {};
            }
            if (errno != EEXIST) return LastErr();
        }
        return Err(EEXIST);
    }
};

FileSystem* gOverride = nullptr;

}  // namespace

std::unique_ptr<FileSystem> MakeRealFileSystem() {
    return std::make_unique<RealFileSystem>();
}

FileSystem& Files() {
    static RealFileSystem real;
    return gOverride ? *gOverride : real;
}

void SetFilesForTesting(FileSystem* fs) {
    gOverride = fs;
}

std::error_code MakePrivateTempFolder(const std::string& prefix, std::string& path,
                                      FileSystem& fs) {
    const std::string parent = TempFolder();
    // Root's private folders (the journal's backups) go only where no other
    // user could move them away or put something of theirs in their place.
    // (A missing one fails below as it is.)
    struct stat st;
    const bool exists = lstat(parent.c_str(), &st) == 0 || errno != ENOENT;
    if (geteuid() == 0 && exists &&
        (NeedsTargetUser(parent) || !OnlyAdministratorCouldChange(parent, true)))
        return Err(EACCES);
    return fs.CreateUniqueDirectory(parent, prefix, path);
}

}  // namespace mw::platform
