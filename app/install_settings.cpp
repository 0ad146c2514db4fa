#include "app/install_settings.hpp"

#include "app/identity.hpp"
#include "platform/roots.hpp"

namespace mw {
namespace {

// One more path level, as PathAppendW adds it: an empty base gives the
// level alone.
std::string Append(std::string base, std::string_view level) {
    if (!base.empty() && base.back() != '/') base += '/';
    base += level;
    return base;
}

}  // namespace

InstallSettings::InstallSettings()
    : journal(ProductKeyName(productCode), ProductDisplayName(false)) {}

PreviousInstallState InstallSettings::GetPreviousState(std::string* text) const {
    if (text && (previousState == PreviousInstallState::OlderVersion ||
                 previousState == PreviousInstallState::NewerVersion)) {
        *text = previousVersionText;
    }
    return previousState;
}

void ApplyDefaultFolders(InstallSettings& settings, SpecialFolderFn specialFolder) {
    if (!specialFolder) specialFolder = &platform::SpecialFolder;
    const std::string product = ProductKeyName(productCode);
    if (settings.installFolder.empty()) {
        settings.installFolder =
            Append(Append(specialFolder(platform::csidl::ProgramFiles), makerName), product);
    }
    if (settings.startMenuFolder.empty()) {
        std::string programs = specialFolder(platform::csidl::CommonPrograms);
        if (programs.empty()) programs = specialFolder(platform::csidl::Programs);
        settings.startMenuFolder = Append(Append(programs, makerName), product);
    }
    settings.startMenuShortcut = true;
    settings.desktopShortcut = true;
    settings.advancedInstall = false;
}

}  // namespace mw
