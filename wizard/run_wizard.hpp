// Start-up's last step: the wizard host over the installation settings, run
// modally on the process's toolkit, with Install running the install
// sequence on the executable's own payload.
#pragma once

#include "app/install_settings.hpp"
#include "wizard/install_dlg.hpp"

namespace mw {

// The install sequence over the executable's payload (resource 260/134).
InstallRunner PayloadInstallRunner();

// 1 when the installation completed, else 2.
int RunWizard(InstallSettings& settings);

}  // namespace mw
