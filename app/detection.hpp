// Finding an earlier installation of the product before the wizard opens:
// where its program is, which version that program has, where its install
// log lies and which folders that log names.
#pragma once

#include <string>

namespace mw {

struct InstallSettings;

// The installed program named by the value "Arbolux 7 Path" of the maker's
// registry key, when that file exists; empty in every other case, a registry
// error included. Computed on first use and kept for the whole process.
const std::string& InstalledProgramPath();
// Tests change the registry between cases.
void ForgetInstalledProgramPathForTesting();

// The earlier installation's "Uninstall.ulog": beside the uninstaller that the
// uninstall key's "UninstallString" names, else beside this installer, else
// beside the installed program; empty when none of them exists. A candidate
// that a user other than the administrator could have written (the file or a
// folder above it) is passed over: an elevated installer must not take its
// folders or the files it would remove from a planted log.
std::string FindInstallLog();
// The same with the installer's own program file given.
std::string FindInstallLog(const std::string& installerPath);

// Start-up's step 8: fills previousState, previousVersionText and
// previousVersion from the installed program's version resource; for the same
// or an older version reads the earlier log into the journal and takes its
// folders. Every earlier installation keeps its install folder (the folder
// page is locked then), so when no log names it, it is the installed program's
// folder. `codePage` converts a log without byte order mark (the interface
// language's ANSI code page).
void DetectPreviousInstallation(InstallSettings& settings, unsigned codePage);
// The same for the installer whose program file is `installerPath`, which
// need not be the running program (the unattended install runs another).
void DetectPreviousInstallation(InstallSettings& settings, unsigned codePage,
                                const std::string& installerPath);

}  // namespace mw
