// The product's program. Started by the installer with "/Register
// /Background [/update=HEX]" it registers itself and ends with 246; started
// by the uninstaller with "/Unregister" it undoes that; started without
// arguments it shows its window. While it runs, whatever it does, it is
// counted among the running processes of the product, so that installers
// and the uninstaller see it.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/identity.hpp"
#include "app/preconditions.hpp"
#include "platform/locks.hpp"
#include "platform/program_path.hpp"
#include "platform/secure_startup.hpp"
#include "product/inventory.hpp"
#include "product/product_texts.hpp"
#include "product/product_window.hpp"
#include "product/registration.hpp"

namespace {

using mw::product::ProgramCommand;

int Run(const std::vector<std::string>& args) {
    const ProgramCommand command = mw::product::ParseProgramCommand(args);
    switch (command.kind) {
        case ProgramCommand::Kind::Invalid:
            std::fprintf(
                stderr, "usage: Arbolux [/Register [/Background] [/update=HEX16] | /Unregister]\n");
            return mw::product::kUsage;
        case ProgramCommand::Kind::Register:
        case ProgramCommand::Kind::Unregister: {
            const std::string program = mw::platform::ProgramPath();
            if (program.empty()) return mw::product::kFailed;
            const std::error_code ec = command.kind == ProgramCommand::Kind::Register
                                           ? mw::product::Register(program, command.previousVersion)
                                           : mw::product::Unregister(program);
            if (ec) {
                std::fprintf(stderr, "Arbolux: %s failed: %s\n",
                             command.kind == ProgramCommand::Kind::Register ? "registration"
                                                                            : "unregistration",
                             ec.message().c_str());
                return mw::product::kFailed;
            }
            return mw::product::kRegistrationDone;
        }
        case ProgramCommand::Kind::Window:
            break;
    }
    if (!mw::product::ShowProductWindow(mw::product::FindInventory(),
                                        mw::product::ProductLanguage())) {
        std::fprintf(stderr, "Arbolux: no display to show the window on\n");
        return mw::product::kFailed;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Registration runs as root: what it creates must not be writable by
    // others, and the machine root must be one no other user could have
    // prepared.
    if (std::string refused = mw::platform::SecureStartup(); !refused.empty()) {
        std::fprintf(stderr, "%s\n", refused.c_str());
        return 1;
    }
    mw::platform::InstanceCounter counter(mw::InstanceCounterName(mw::ApplicationId()));
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
