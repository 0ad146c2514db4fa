#include "wizard/run_wizard.hpp"

#include "platform/controls.hpp"

namespace mw {

InstallRunner PayloadInstallRunner() {
    return nullptr;
}

int RunWizard(InstallSettings& settings) {
    CInstallDlg host(settings, platform::Ui(), PayloadInstallRunner());
    return host.DoModal();
}

}  // namespace mw
