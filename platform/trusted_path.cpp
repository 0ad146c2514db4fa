#include "platform/trusted_path.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <string_view>
#include <vector>

#include "platform/path.hpp"
#include "platform/safe_path.hpp"

namespace mw::platform {
namespace {

constexpr int kMaxLinks = 40;

bool TrustedOwner(uid_t uid) {
    return uid == 0 || uid == geteuid();
}

// Nobody else may change what the folder holds: it is ours and writable by
// no one else, or it is sticky and `item` (what it holds) is ours.
bool FolderKeeps(const struct stat& folder, const struct stat& item) {
    if (!TrustedOwner(folder.st_uid)) return false;
    if ((folder.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return (folder.st_mode & S_ISVTX) != 0 && TrustedOwner(item.st_uid);
}

enum class Want { File, Folder, FolderOrSticky };

bool Check(const std::string& path, Want want) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return false;
    UniqueFd cur(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!cur) return false;
    struct stat folder;
    if (fstat(cur.get(), &folder) != 0 || !TrustedOwner(folder.st_uid) ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return false;
    }
    std::deque<std::string> todo;
    PrependPathElements(path, todo);
    if (todo.empty()) return want != Want::File;  // "/" itself, checked above
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            UniqueFd up(openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up || fstat(up.get(), &folder) != 0) return false;
            cur = std::move(up);
            continue;
        }
        struct stat item;
        if (fstatat(cur.get(), name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) return false;
        if (fstat(cur.get(), &folder) != 0 || !FolderKeeps(folder, item)) return false;
        if (S_ISLNK(item.st_mode)) {
            if (!TrustedOwner(item.st_uid) || ++links > kMaxLinks) return false;
            std::string target(4096, '\0');
            ssize_t n = readlinkat(cur.get(), name.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return false;
            target.resize(static_cast<std::size_t>(n));
            if (target[0] == '/') {
                UniqueFd top(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!top) return false;
                cur = std::move(top);
            }
            PrependPathElements(target, todo);
            continue;
        }
        if (todo.empty()) {
            if (!TrustedOwner(item.st_uid)) return false;
            if (want == Want::File) {
                return S_ISREG(item.st_mode) && (item.st_mode & (S_IWGRP | S_IWOTH)) == 0;
            }
            if (!S_ISDIR(item.st_mode)) return false;
            return (item.st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
                   (want == Want::FolderOrSticky && (item.st_mode & S_ISVTX) != 0);
        }
        // Whether others may write in this folder is judged when the next
        // element, its content, is met.
        if (!S_ISDIR(item.st_mode) || !TrustedOwner(item.st_uid)) return false;
        UniqueFd next(
            openat(cur.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        if (!next) return false;
        cur = std::move(next);
    }
    return false;
}

}  // namespace

bool OnlyAdministratorCouldWrite(const std::string& path) {
    return Check(path, Want::File);
}

bool OnlyAdministratorCouldChange(const std::string& folder, bool stickyCounts) {
    return Check(folder, stickyCounts ? Want::FolderOrSticky : Want::Folder);
}

}  // namespace mw::platform
