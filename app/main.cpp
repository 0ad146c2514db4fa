// Entry point of the installer. The installer reads no command line; a
// program started by a user who is not an administrator first offers to run
// again with administrator rights, as the manifest asks.
#include <string>
#include <vector>

#include "app/install_app.hpp"
#include "platform/elevation.hpp"
#include "platform/ui/fltk_ui.hpp"

int main(int argc, char** argv) {
    mw::platform::InstallFltkUserInterface();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (auto code = mw::platform::OfferElevation(args)) return *code;
    return mw::RunInstaller();
}
