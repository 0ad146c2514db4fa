#include "wizard/run_wizard.hpp"

#include "engine/install_sequence.hpp"
#include "engine/payload_source.hpp"
#include "platform/controls.hpp"

namespace mw {

InstallRunner PayloadInstallRunner() {
    return [](InstallSurface& surface, InstallSettings& settings) {
        // The executable's own payload, opened anew for every attempt.
        PayloadSource source;
        source.Open();
        return RunInstallation(surface, settings, source);
    };
}

int RunWizard(InstallSettings& settings) {
    CInstallDlg host(settings, platform::Ui(), PayloadInstallRunner());
    return host.DoModal();
}

}  // namespace mw
