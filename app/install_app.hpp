// The application object and the start-up sequence: the static initialisation
// of the process (processor check, locale, cached folders, toolkit version,
// application identity, instance count) and InitInstance, which takes the
// single-installer mutex, picks the interface language, checks rights and
// running copies, detects an earlier installation, applies the defaults and
// runs the wizard.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/install_settings.hpp"
#include "platform/locks.hpp"

namespace mw {

// Folders computed once in the second module start and kept for the process.
struct CachedFolders {
    std::string commonMakerData;  // <CommonAppData>/Meridan Works
    std::string userMakerData;    // <AppData>/Meridan Works
    std::string documents;
};
const CachedFolders& GetCachedFolders();

// Runs the wizard host modally over the settings and returns its result (1
// installed, 2 not). Start-up does not know the wizard layer; the program
// hands it in.
using WizardRunner = std::function<int(InstallSettings& settings)>;

class CInstallApp {
public:
    explicit CInstallApp(WizardRunner wizard = {});
    CInstallApp(const CInstallApp&) = delete;
    CInstallApp& operator=(const CInstallApp&) = delete;

    // Runs the whole start-up; always returns false (the process then ends).
    bool InitInstance();

    InstallSettings settings;

private:
    WizardRunner wizard_;
};

// Runs the static initialisation (which may end the process with exit code
// 1 or -11), builds the application object, runs InitInstance and returns
// the process exit code.
int RunInstaller(WizardRunner wizard = {});

// The process-wide objects of the static initialisation; valid while
// RunInstaller runs.
CInstallApp& TheApp();
platform::InstanceCounter& TheInstanceCounter();
bool ProcessorCapable();

}  // namespace mw
