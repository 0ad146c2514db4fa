// Uninstall registration: the product's key below the system's uninstall key
// with the twelve values that list it among the installed programs and lead
// to its uninstaller. The key is recorded in the journal before its values
// are written, so that a rollback or the uninstaller knows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.hpp"

namespace mw {

class InstallJournal;

inline constexpr const char* kMakerWebAddress = "https://www.meridan-works.example/arbolux";
inline constexpr const char* kMakerTelephone = "+1 555 0100";

struct UninstallInputs {
    std::string programPath;
    std::string uninstallerPath;
    // The product language the user picked (MwLanguage).
    uint32_t productLanguage = 1;
};

struct NamedValue {
    std::string name;
    platform::RegValue value;
};

// The twelve values, in the order in which they are written.
std::vector<NamedValue> UninstallValues(const UninstallInputs& inputs);

// Creates or opens the product's key, records it and writes the values.
// True ("registration OK") when the key was made and its first two values
// (DisplayName, UninstallString) were written; the others are attempted
// all the same. Writes nothing to the page: the install sequence ends the
// line after the registration run.
bool WriteUninstallRegistration(InstallJournal& journal, const UninstallInputs& inputs);

}  // namespace mw
