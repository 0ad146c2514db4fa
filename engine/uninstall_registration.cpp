#include "engine/uninstall_registration.hpp"

#include "app/identity.hpp"
#include "journal/journal.hpp"

namespace mw {

std::vector<NamedValue> UninstallValues(const UninstallInputs& in) {
    using platform::RegValue;
    return {
        {"DisplayName", RegValue::String(ProductDisplayName(false))},
        {"UninstallString", RegValue::String(in.uninstallerPath)},
        {"DisplayIcon", RegValue::String(in.programPath + ",0")},
        {"DisplayVersion", RegValue::String("7.13.3.1")},
        {"Publisher", RegValue::String(std::string(makerName))},
        {"URLInfoAbout", RegValue::String(kMakerWebAddress)},
        {"HelpLink", RegValue::String(kMakerWebAddress)},
        {"URLUpdateInfo", RegValue::String(kMakerWebAddress)},
        {"HelpTelephone", RegValue::String(kMakerTelephone)},
        {"NoModify", RegValue::Dword(1)},
        {"NoRepair", RegValue::Dword(1)},
        {"MwLanguage", RegValue::Dword(in.productLanguage)},
    };
}

bool WriteUninstallRegistration(InstallJournal& journal, const UninstallInputs& inputs) {
    platform::Registry& registry = platform::MachineRegistry();
    std::error_code ec;
    // The uninstall key itself must be there (it is the system's); the
    // product's key below it is created when missing.
    if (!registry.KeyExists(uninstallRootKey, ec) || ec) {
        if (ec || registry.CreateKey(uninstallRootKey)) return false;
    }
    const bool existed = registry.KeyExists(uninstallKey, ec);
    if (ec) return false;
    if (!existed && registry.CreateKey(uninstallKey)) return false;
    journal.RecordUninstallKey(existed);
    bool ok = true;
    std::size_t index = 0;
    for (const NamedValue& v : UninstallValues(inputs)) {
        const std::error_code written = registry.SetValue(uninstallKey, v.name, v.value);
        if (index++ < 2 && written) ok = false;
    }
    journal.MarkResult(ok);
    return ok;
}

}  // namespace mw
