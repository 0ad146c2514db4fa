// The installation settings: the one record through which start-up, the
// wizard pages and the install engine share their decisions. It lives in the
// application object for the whole process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "journal/journal.hpp"
#include "platform/locks.hpp"

namespace mw {

// What start-up found of an earlier installation.
enum class PreviousInstallState : int32_t {
    None = 0,
    SameVersion = 1,
    OlderVersion = 2,
    NewerVersion = -1,
};

struct InstallSettings {
    InstallSettings();

    PreviousInstallState previousState = PreviousInstallState::None;
    // The earlier program's product text, for OlderVersion and NewerVersion.
    std::string previousVersionText;
    // The single-installer mutex, created (not owned) by the application
    // object; start-up takes it, the install sequence lets it go around the
    // program's registration run. Empty in settings built for tests, so that
    // they touch no machine-wide lock.
    std::unique_ptr<platform::NamedMutex> instanceMutex;
    std::string installFolder;
    std::string startMenuFolder;
    std::string tempFolder;
    bool startMenuShortcut = false;
    bool desktopShortcut = false;
    // Quick installation when false: the folder and shortcut pages are skipped.
    bool advancedInstall = false;
    InstallJournal journal;
    bool installed = false;
    // The earlier program's file version, for OlderVersion only; passed to
    // its registration run as " /update=%016x" when not 0.
    uint64_t previousVersion = 0;

    // The state; with a holder and an older or newer earlier version, the
    // earlier version's text is copied into it (otherwise it is untouched).
    PreviousInstallState GetPreviousState(std::string* text) const;
};

// Start-up's defaults, applied after the detection: an empty installFolder
// becomes Program Files / maker / product key name, an empty startMenuFolder
// the common Start-menu programs folder (the user's when there is none) /
// maker / product key name; both shortcuts become wanted and the method
// quick. A special folder that cannot be had leaves the appended levels
// alone. `specialFolder` is the CSIDL look-up (the platform's by default).
using SpecialFolderFn = std::string (*)(int csidl);
void ApplyDefaultFolders(InstallSettings& settings, SpecialFolderFn specialFolder = nullptr);

}  // namespace mw
