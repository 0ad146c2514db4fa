#include "support/installer_resources.hpp"

#include <memory>
#include <stdexcept>

#include "support/test_env.hpp"
#include "wizard/page.hpp"

namespace mwtest {

const mw::platform::ResourceBundle& InstallerResources() {
    static std::unique_ptr<mw::platform::ResourceBundle> bundle = [] {
        std::error_code ec;
        auto b = mw::platform::OpenResources(BinPath("InstallArbolux7.13c"), ec);
        if (!b) throw std::runtime_error("the installer's resources: " + ec.message());
        return b;
    }();
    return *bundle;
}

ScopedInstallerResources::ScopedInstallerResources() {
    mw::SetWizardResourcesForTesting(&InstallerResources());
}

ScopedInstallerResources::~ScopedInstallerResources() {
    mw::SetWizardResourcesForTesting(nullptr);
}

}  // namespace mwtest
