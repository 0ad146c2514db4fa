// The resource bundle of the built installer (dialog templates, banner,
// icons, flags), for tests that build the wizard's windows.
#pragma once

#include "platform/resources.hpp"

namespace mwtest {

// The bundle of build/bin/InstallArbolux7.13c, opened once; throws when the
// installer has not been built.
const mw::platform::ResourceBundle& InstallerResources();

// Makes the wizard read its templates and pictures from InstallerResources()
// for the scope's lifetime.
class ScopedInstallerResources {
public:
    ScopedInstallerResources();
    ~ScopedInstallerResources();
    ScopedInstallerResources(const ScopedInstallerResources&) = delete;
    ScopedInstallerResources& operator=(const ScopedInstallerResources&) = delete;
};

}  // namespace mwtest
