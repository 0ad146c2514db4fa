#include "platform/roots.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/path.hpp"
#include "platform/safe_path.hpp"
#include "platform/trusted_path.hpp"

namespace mw::platform {

namespace {

struct UserFolders {
    std::string dataHome;
    std::string desktop;
    std::string documents;
    // Folders the user named outside the home; work there runs as the user.
    std::vector<std::string> outsideHome;
};

std::mutex gMutex;
std::optional<std::string> gMachineRoot;
std::optional<TargetUser> gTargetUser;
std::optional<UserFolders> gUserFolders;

std::string Env(const char* name) {
    const char* v = getenv(name);
    return v ? std::string(v) : std::string();
}

// Drops repeated and trailing '/' ("/" stays "/").
std::string Tidy(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool HasDotElement(std::string_view path) {
    for (const std::string& e : PathElements(path))
        if (e == "." || e == "..") return true;
    return false;
}

bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    std::string p = Tidy(path);
    if (folder.empty() || p.empty() || p[0] != '/') return false;
    if (folder == "/") return true;
    if (p.compare(0, folder.size(), folder) != 0) return false;
    return p.size() == folder.size() || p[folder.size()] == '/';
}

std::optional<uid_t> ParseUid(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v >= static_cast<uid_t>(-1)) return std::nullopt;
    return static_cast<uid_t>(v);
}

std::optional<TargetUser> FromPasswd(uid_t uid) {
    struct passwd pw, *found = nullptr;
    std::vector<char> buf(16384);
    int rc;
    while ((rc = getpwuid_r(uid, &pw, buf.data(), buf.size(), &found)) == ERANGE &&
           buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (rc != 0 || !found) return std::nullopt;
    TargetUser u;
    u.uid = uid;
    u.gid = pw.pw_gid;
    u.name = pw.pw_name ? pw.pw_name : std::to_string(uid);
    std::string home = pw.pw_dir ? pw.pw_dir : "";
    u.home = (!home.empty() && home[0] == '/') ? Tidy(home) : "/";
    return u;
}

TargetUser ComputeTargetUser() {
    std::optional<TargetUser> user;
    if (geteuid() == 0) {
        for (const char* var : {"PKEXEC_UID", "SUDO_UID"}) {
            auto uid = ParseUid(Env(var));
            if (!uid) continue;
            user = FromPasswd(*uid);
            if (user) break;
        }
        if (!user) user = FromPasswd(0);
        if (!user) user = TargetUser{0, 0, "root", "/root"};
    } else {
        user = FromPasswd(getuid());
        if (!user) user = TargetUser{getuid(), getgid(), std::to_string(getuid()), "/"};
    }
    if (user->uid == getuid()) {
        std::string home = Env("HOME");
        if (!home.empty() && home[0] == '/') user->home = Tidy(home);
    }
    return *user;
}

std::string ReadUserDirsFile(const TargetUser& user) {
    std::string path =
        user.home == "/" ? "/.config/user-dirs.dirs" : user.home + "/.config/user-dirs.dirs";
    bool asUser = geteuid() == 0 && user.uid != 0;
    TargetUserScope scope(asUser);
    if (scope.error()) return {};
    UniqueFd fd;
    if (OpenNoFollow(path, O_RDONLY | O_NONBLOCK, fd)) return {};
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    // A real file of this kind is a few hundred bytes.
    constexpr size_t kLimit = 64 * 1024;
    std::string text;
    char buf[4096];
    while (text.size() < kLimit) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    if (text.size() > kLimit) text.resize(kLimit);
    return text;
}

// Folders of the machine that no user folder may be, lie in or hold: the
// machine root's own (and the real ones, for a staging root) and the
// temporary folder.
bool IsSystemPlace(const std::string& folder) {
    static constexpr const char* kSystem[] = {"bin",   "boot",   "dev", "etc",  "lib",  "lib32",
                                              "lib64", "libx32", "opt", "proc", "root", "run",
                                              "sbin",  "srv",    "sys", "tmp",  "usr",  "var"};
    std::vector<std::string> roots{"/", MachineRoot()};
    for (const std::string& root : roots) {
        if (IsAtOrBelow(root, folder)) return true;  // the folder holds a machine root
        for (const char* s : kSystem) {
            std::string sys = root == "/" ? std::string("/") + s : root + "/" + s;
            if (IsAtOrBelow(folder, sys)) return true;
        }
    }
    return IsAtOrBelow(folder, TempFolder());
}

// A user folder that user-dirs.dirs places outside the home is the user's
// only when the user owns it and it is none of the machine's: otherwise a
// line in a file the user writes would make root act as that user in a
// system folder, or treat root's files there as the user's.
bool IsUsersOwnFolder(const TargetUser& user, const std::string& folder) {
    if (IsSystemPlace(folder)) return false;
    TargetUserScope scope(geteuid() == 0 && user.uid != 0);
    if (scope.error()) return false;
    UniqueFd fd;
    if (OpenNoFollow(folder, O_PATH | O_DIRECTORY, fd)) return false;
    struct stat st;
    return fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user.uid;
}

UserFolders ComputeUserFolders(const TargetUser& user) {
    UserFolders f;
    const std::string& home = user.home;
    auto under = [&](const char* rel) {
        return home == "/" ? std::string("/") + rel : home + "/" + rel;
    };
    std::string dataHome;
    if (user.uid == getuid()) dataHome = Env("XDG_DATA_HOME");
    f.dataHome = (!dataHome.empty() && dataHome[0] == '/' && !HasDotElement(dataHome))
                     ? Tidy(dataHome)
                     : under(".local/share");
    std::string text = ReadUserDirsFile(user);
    auto userDir = [&](const char* key, const char* fallback) {
        std::string dir = ParseUserDir(text, key, home);
        if (!dir.empty() && !IsAtOrBelow(dir, home) && !IsUsersOwnFolder(user, dir)) dir.clear();
        return dir.empty() ? under(fallback) : dir;
    };
    f.desktop = userDir("XDG_DESKTOP_DIR", "Desktop");
    f.documents = userDir("XDG_DOCUMENTS_DIR", "Documents");
    for (const std::string* d : {&f.desktop, &f.documents})
        if (!IsAtOrBelow(*d, home)) f.outsideHome.push_back(*d);
    return f;
}

const TargetUser& TargetUserLocked() {
    if (!gTargetUser) gTargetUser = ComputeTargetUser();
    return *gTargetUser;
}

const UserFolders& Folders() {
    std::unique_lock lock(gMutex);
    if (gUserFolders) return *gUserFolders;
    TargetUser user = TargetUserLocked();
    lock.unlock();  // reading the file goes through the path walker, which asks for the user
    UserFolders f = ComputeUserFolders(user);
    lock.lock();
    if (!gUserFolders) gUserFolders = std::move(f);
    return *gUserFolders;
}

}  // namespace

const std::string& MachineRoot() {
    std::lock_guard lock(gMutex);
    if (!gMachineRoot) {
        std::string root = Env("MW_ROOT");
        gMachineRoot = (!root.empty() && root[0] == '/') ? Tidy(root) : std::string("/");
    }
    return *gMachineRoot;
}

std::string UnderMachineRoot(std::string_view relative) {
    while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
    const std::string& root = MachineRoot();
    if (relative.empty()) return root;
    return root == "/" ? "/" + std::string(relative) : root + "/" + std::string(relative);
}

const TargetUser& CurrentTargetUser() {
    std::lock_guard lock(gMutex);
    return TargetUserLocked();
}

std::string SpecialFolder(int csidlNumber) {
    const TargetUser& user = CurrentTargetUser();
    auto inHome = [&](const char* rel) {
        return user.home == "/" ? std::string("/") + rel : user.home + "/" + rel;
    };
    switch (csidlNumber) {
        case csidl::ProgramFiles:
            return UnderMachineRoot("opt");
        case csidl::ProgramFilesCommon:
            return UnderMachineRoot("usr/local/lib");
        case csidl::CommonAppData:
            return UnderMachineRoot("var/opt");
        case csidl::CommonStartMenu:
            return UnderMachineRoot("usr/local/share");
        case csidl::CommonPrograms:
            return UnderMachineRoot("usr/local/share/applications");
        case csidl::AppData:
            return Folders().dataHome;
        case csidl::Personal:
            return Folders().documents;
        case csidl::DesktopDirectory:
            return Folders().desktop;
        case csidl::StartMenu:
            return inHome(".local/share");
        case csidl::Programs:
            return inHome(".local/share/applications");
        default:
            return {};
    }
}

std::string DocumentsFolder() {
    return Folders().documents;
}

std::string TempFolder() {
    std::string tmp = Env("TMPDIR");
    if (tmp.empty() || tmp[0] != '/') return UnderMachineRoot("tmp");
    tmp = Tidy(tmp);
    // Root takes a temporary folder from the environment only when no other
    // user could change it or replace what root makes in it.
    if (geteuid() == 0 && !OnlyAdministratorCouldChange(tmp, true)) return UnderMachineRoot("tmp");
    return tmp;
}

bool IsBelowTargetHome(std::string_view path) {
    return IsAtOrBelow(path, CurrentTargetUser().home);
}

bool IsBelowTargetUserFolders(std::string_view path) {
    if (IsBelowTargetHome(path)) return true;
    for (const auto& f : Folders().outsideHome)
        if (IsAtOrBelow(path, f)) return true;
    return false;
}

std::string ParseUserDir(std::string_view text, std::string_view key, std::string_view home) {
    std::string result;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        size_t i = line.find_first_not_of(" \t");
        if (i == std::string_view::npos || line[i] == '#') continue;
        if (line.compare(i, key.size(), key) != 0) continue;
        i += key.size();
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] != '=') continue;
        ++i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] != '"') continue;
        ++i;
        std::string value;
        bool closed = false;
        for (; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (c == '"') {
                closed = true;
                ++i;
                break;
            } else {
                value += c;
            }
        }
        if (!closed) continue;
        size_t rest = line.find_first_not_of(" \t\r", i);
        if (rest != std::string_view::npos && line[rest] != '#') continue;

        std::string path;
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            path = std::string(home) + "/" + value.substr(5);
        } else if (!value.empty() && value[0] == '/') {
            path = value;
        } else {
            continue;
        }
        bool control = false;
        for (unsigned char c : path) control |= c < 0x20 || c == 0x7f;
        if (control || HasDotElement(path)) continue;
        result = Tidy(path);
    }
    return result;
}

void SetTargetUserForTesting(const TargetUser& user) {
    std::lock_guard lock(gMutex);
    gTargetUser = user;
    gUserFolders.reset();
}

void ResetRootsForTesting() {
    std::lock_guard lock(gMutex);
    gMachineRoot.reset();
    gTargetUser.reset();
    gUserFolders.reset();
}

}  // namespace mw::platform
