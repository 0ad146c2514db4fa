#include "platform/folder_listing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "platform/case_fold.hpp"
#include "platform/os_error.hpp"

namespace mw::platform {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// Case-insensitive first (what people expect of a folder list), then
// byte order so that "a" and "A" keep a fixed place.
bool NameBefore(const std::string& a, const std::string& b) {
    int c = CompareFileNames(a, b);
    return c != 0 ? c < 0 : a < b;
}

// Calls `take` with each subfolder's name until it returns false.
template <typename Take>
void ForEachSubfolder(const std::string& folder, std::error_code& ec, Take take) {
    ec.clear();
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ec = LastOsError();
        return;
    }
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        ec = LastOsError();
        close(fd);
        return;
    }
    while (dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.') continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = fstatat(dirfd(dir.get()), name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder && !take(name)) return;
    }
}

}  // namespace

std::vector<std::string> ListSubfolders(const std::string& folder, std::error_code& ec) {
    std::vector<std::string> names;
    ForEachSubfolder(folder, ec, [&names](const char* name) {
        names.emplace_back(name);
        return true;
    });
    std::sort(names.begin(), names.end(), NameBefore);
    return names;
}

bool HasSubfolders(const std::string& folder, std::error_code& ec) {
    bool any = false;
    ForEachSubfolder(folder, ec, [&any](const char*) {
        any = true;
        return false;
    });
    return any;
}

bool IsExistingFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentFolder(std::error_code& ec) {
    ec.clear();
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    if (!cwd) {
        ec = LastOsError();
        return {};
    }
    return cwd.get();
}

}  // namespace mw::platform
