// Entry point of the installer. The installer reads no command line; a
// program started by a user who is not an administrator first offers to run
// again with administrator rights, as the manifest asks.
#include <cstdio>
#include <string>
#include <vector>

#include "app/install_app.hpp"
#include "platform/elevation.hpp"
#include "platform/message_box.hpp"
#include "platform/secure_startup.hpp"
#include "platform/ui/fltk_ui.hpp"
#include "wizard/run_wizard.hpp"

int main(int argc, char** argv) {
    mw::platform::InstallFltkUserInterface();
    // Before anything is made or decided: the umask, and whether root may
    // trust the machine root it was given.
    if (std::string refused = mw::platform::SecureStartup(); !refused.empty()) {
        std::fprintf(stderr, "%s\n", refused.c_str());
        mw::platform::MessageBoxes().Show(nullptr, refused, "", mw::platform::mb::IconError);
        return 1;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    if (auto code = mw::platform::OfferElevation(args)) return *code;
    return mw::RunInstaller(mw::RunWizard);
}
