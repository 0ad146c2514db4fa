// Where things live on this machine: the machine root ($MW_ROOT), the target
// user (the one who asked for elevation) and the Linux counterparts of the
// special folders the installer asks for by CSIDL number.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace mw::platform {

// $MW_ROOT when set and absolute, else "/". Never ends with '/' except "/".
const std::string& MachineRoot();

// MachineRoot() joined with a relative path such as "var/lib/mw".
std::string UnderMachineRoot(std::string_view relative);

struct TargetUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;  // absolute, no trailing '/'
};

// When running as root: PKEXEC_UID, else SUDO_UID, else root itself.
// Otherwise the process's own user. An absolute $HOME wins for the process's
// own user.
const TargetUser& CurrentTargetUser();

// CSIDL numbers the design uses.
namespace csidl {
inline constexpr int Programs = 2;
inline constexpr int Personal = 5;
inline constexpr int StartMenu = 11;
inline constexpr int DesktopDirectory = 16;
inline constexpr int CommonStartMenu = 22;
inline constexpr int CommonPrograms = 23;
inline constexpr int CommonDesktopDirectory = 25;
inline constexpr int AppData = 26;
inline constexpr int CommonAppData = 35;
inline constexpr int Windows = 36;
inline constexpr int System = 37;
inline constexpr int ProgramFiles = 38;
inline constexpr int ProgramFilesCommon = 43;
inline constexpr int CommonDocuments = 46;
}  // namespace csidl

// The folder for a CSIDL number; empty when the platform has none (46, 25,
// 36, 37 and unknown numbers). Folders are not created.
std::string SpecialFolder(int csidlNumber);

// The known folder "Documents" of the target user.
std::string DocumentsFolder();

// $TMPDIR when absolute, else $MW_ROOT/tmp. Running as root, $TMPDIR counts
// only when no user other than root could change it or a folder above it (a
// sticky folder open to all, such as /tmp, passes).
std::string TempFolder();

// True when the path lies at or below the target user's home.
bool IsBelowTargetHome(std::string_view path);

// True when the path lies at or below a folder the target user chose: the
// home, or a user folder that the user's user-dirs.dirs places outside it.
// File-system work there runs as that user. A user folder outside the home
// counts only when the user owns it and it neither is, lies in nor holds a
// folder of the machine (the machine root's system folders, the temporary
// folder); otherwise the default folder in the home is used instead.
bool IsBelowTargetUserFolders(std::string_view path);

// The value of `key` (such as "XDG_DESKTOP_DIR") in the text of a
// user-dirs.dirs file, with "$HOME" standing for `home`; empty when no line
// counts. The text is parsed, never run: a line counts only when it reads
// KEY="$HOME/..." or KEY="/absolute/path" (backslash escapes the next
// character, a comment may follow the closing quote) and its path has no "."
// or ".." element; the last line that counts wins.
std::string ParseUserDir(std::string_view text, std::string_view key, std::string_view home);

// Forget cached values (tests change the environment between cases).
void ResetRootsForTesting();

// Makes CurrentTargetUser() return `user` until the next reset (tests need a
// target user whose home is a scratch folder).
void SetTargetUserForTesting(const TargetUser& user);

}  // namespace mw::platform
