// The uninstaller's work: from the entries of an install log, what to remove
// and in which order (a plain plan, testable without the file system), and
// carrying the plan out through the link-safe file system and the machine
// registry. Only what the log lists is ever removed, besides the log itself:
// shortcuts, then files, then the folders the installation created (only
// when empty), then the uninstall key, newest first within each; data files
// and the folders holding them stay unless asked; the log and the
// uninstaller itself go last, then the folders that held them.
#pragma once

#include <list>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal.hpp"

namespace mw::product {

struct UninstallAction {
    enum class Kind { Shortcut, File, Folder, UninstallKey };
    Kind kind = Kind::File;
    std::string path;  // empty for the uninstall key
    bool operator==(const UninstallAction&) const = default;
};

struct UninstallPlan {
    // The installed program, to be run with "/Unregister" first; empty when
    // the log lists none.
    std::string program;
    // The log lists a successful registration run of the program.
    bool registered = false;
    std::vector<UninstallAction> actions;
    // Data files and their folders, which stay.
    std::vector<std::string> kept;
};

// `logPath` and `selfPath` (the running uninstaller) are removed after
// every other item; folders holding either follow them.
UninstallPlan PlanUninstall(const std::list<JournalEntry>& entries, const std::string& logPath,
                            const std::string& selfPath, bool removeData);

struct UninstallReport {
    std::vector<std::string> removed;
    // What could not be removed and why.
    std::vector<std::pair<std::string, std::string>> failed;
    bool complete() const { return failed.empty(); }
};

// Runs the program's "/Unregister" (as root only a program that no other
// user could have replaced), then removes every item of the plan; never
// stops early. An item already gone counts as removed.
UninstallReport CarryOut(const UninstallPlan& plan);

// The item as the reports name it (the uninstall key by its registry path).
std::string ItemName(const UninstallAction& action);

}  // namespace mw::product
