// Who the installer is and what it installs: product code and names, the
// release it carries, the maker, the registry places that belong to the
// product, and the application identity that names the cross-process
// objects shared with the installed product.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mw {

class VersionInfo;

// High byte: product family 4; low byte: major version 7.
inline constexpr uint32_t productCode = 1031;

// The release this installer carries, 7.13.3.1, as compared with an
// installed program's file version: (most significant pair << 32) | least.
inline constexpr uint64_t productRelease = 0x0007000D00030001;

inline constexpr std::string_view makerName = "Meridan Works";

// Registry places of the product (machine registry, '\\' between levels).
inline constexpr std::string_view uninstallRootKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::string_view uninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7";
inline constexpr std::string_view makerKey = "Software\\Meridan Works";
// String value under makerKey: full path of the installed program file.
inline constexpr std::string_view installPathValue = "Arbolux 7 Path";

// The key name of a product code ("Arbolux 7" for 1031); empty for a code
// the table does not know.
std::string ProductKeyName(uint32_t code);

// "Arbolux" without version, "Arbolux 7.13c" with it.
std::string ProductDisplayName(bool withoutVersion);

// The identity of this program, fixed on first use for the whole process:
// the version resource's "ApplicationId", else its "ProductName", else the
// program's file name without extension.
const std::string& ApplicationId();

// The rule behind ApplicationId, for any version resource and program path.
std::string DetermineApplicationId(const VersionInfo& version, std::string_view programPath);

// The last element of a path without its extension. Linux programs carry
// no extension (a name such as "InstallArbolux7.13c" keeps its dots), so only
// a trailing ".exe", the Windows one, is taken off.
std::string ProgramNameWithoutExtension(std::string_view path);

}  // namespace mw
