// Shortcuts: after the files, the install sequence makes up to three
// launchers (freedesktop ".desktop" files): in the chosen Start-menu folder
// one for the program and one for the uninstaller, and one for the program on
// the target user's desktop. Each is recorded in the journal before it is
// made, so that the earlier installation's shortcut of the same kind is moved
// out of the way, and completed with the file's path afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal/journal.hpp"

namespace mw {

class InstallSurface;

// What the step needs to know, as plain data.
struct ShortcutInputs {
    bool startMenuShortcut = false;
    bool desktopShortcut = false;
    std::string programPath;
    std::string uninstallerPath;
    std::string startMenuFolder;
    std::string desktopFolder;    // empty when the machine has none
    std::string programName;      // "Arbolux 7.13c"
    std::string uninstallerName;  // message 1013 in the current language
};

struct ShortcutRequest {
    ShortcutSlot slot;
    std::string target;
    std::string folder;
    std::string name;
    bool operator==(const ShortcutRequest&) const = default;
};

// The shortcuts to make, in order: the Start menu's two, then the desktop's.
std::vector<ShortcutRequest> PlanShortcuts(const ShortcutInputs& inputs);

// The content of a launcher for `target` started in `workingFolder`;
// nullopt when a text holds a control character (a line break would end the
// entry's line and start another).
std::optional<std::string> DesktopEntryText(const std::string& target,
                                            const std::string& workingFolder,
                                            const std::string& name);

// Writes "<folder>/<name>.desktop" for `target`, started in the target's
// folder; without a name, the target's file name without its extension. A
// desktop launcher is made executable (the desktop runs only those). False
// when the target has no folder part or no file name, a text holds a control
// character, or the file cannot be written; on success `linkPath` gets the
// file's path.
bool CreateShortcut(const std::string& target, const std::string& folder,
                    const std::optional<std::string>& name, std::string* linkPath,
                    bool executable = false);

// The target user's desktop folder: the all-users desktop when the machine
// has one, else the user's.
std::string DesktopFolder();

// The shortcut step of the install sequence (only when a shortcut is
// wanted): status and log line "Shortcuts Creation...", each shortcut
// recorded and made; a shortcut that cannot be made gives the earlier
// installation's shortcut of that kind back. The log line ends with OK or
// Failed. Returns the step's result.
bool RunShortcutStep(InstallSurface& surface, InstallJournal& journal,
                     const ShortcutInputs& inputs);

}  // namespace mw
