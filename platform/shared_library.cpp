#include "platform/shared_library.hpp"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/path.hpp"
#include "platform/safe_path.hpp"
#include "platform/trusted_path.hpp"

namespace mw::platform {
namespace {

std::error_code Errno(int e) {
    return std::error_code(e, std::system_category());
}

// Owned by this process's user and writable by no group and no other user.
bool OwnedAndPrivate(const struct stat& st) {
    return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

SharedLibrary::~SharedLibrary() {
    if (handle_) dlclose(handle_);
}

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& path, std::error_code& ec) {
    ec.clear();
    UniqueFd fd;
    if ((ec = OpenNoFollow(path, O_RDONLY, fd))) return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) {
        ec = Errno(errno);
        return nullptr;
    }
    std::string folder = ParentPath(path);
    if (folder.empty()) folder = "/";
    struct stat folderSt;
    if (!S_ISREG(st.st_mode) || !OwnedAndPrivate(st) || lstat(folder.c_str(), &folderSt) != 0 ||
        !S_ISDIR(folderSt.st_mode) || !OwnedAndPrivate(folderSt) ||
        !OnlyAdministratorCouldWrite(path)) {
        ec = Errno(EPERM);
        return nullptr;
    }
    void* handle = dlopen(FdPath(fd.get()).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        ec = Errno(ENOEXEC);
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

void* SharedLibrary::Symbol(const char* name) const {
    return dlsym(handle_, name);
}

std::string FindFileIgnoringCase(const std::string& folder, std::string_view name) {
    const std::string exact = folder + "/" + std::string(name);
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) return exact;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return {};
    std::string found;
    while (dirent* e = readdir(dir)) {
        if (std::string_view(e->d_name).size() == name.size() &&
            strncasecmp(e->d_name, std::string(name).c_str(), name.size()) == 0) {
            found = folder + "/" + e->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace mw::platform
