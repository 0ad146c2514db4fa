// What the product's program changes in the system when it registers
// itself, and how it undoes that. Registering keeps the program's own path
// under the maker's key (the value every later installer looks for),
// remembers the version it was updated from, and gives the product's
// library files a file type of their own: a MIME package and an
// association (a hidden .desktop entry naming the program) below the
// machine's $MW_ROOT/usr/local/share. Folders made on the way are
// remembered so that unregistering takes them away again when empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace mw::product {

// The program's exit code when a registration command succeeded: -10, as
// an 8-bit exit status.
inline constexpr int kRegistrationDone = 246;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

struct ProgramCommand {
    enum class Kind { Window, Register, Unregister, Invalid };
    Kind kind = Kind::Window;
    // Register: the version given with /update= (16 hexadecimal digits).
    std::optional<uint64_t> previousVersion;
};

// The arguments after the program path. Switches compare without regard to
// case: "/Register" with optional "/Background" and "/update=HEX" after it,
// "/Unregister" alone, or nothing.
ProgramCommand ParseProgramCommand(const std::vector<std::string>& args);

// Values under the maker's key besides the program path.
inline constexpr std::string_view kUpdatedFromValue = "Arbolux 7 Updated From";
inline constexpr std::string_view kRegisteredFoldersValue = "Arbolux 7 Registered Folders";

inline constexpr std::string_view kMimeType = "application/x-arbolux-library";

// $MW_ROOT/usr/local/share/mime/packages/meridan-arbolux7.xml
std::string MimePackagePath();
// $MW_ROOT/usr/local/share/applications/meridan-arbolux7.desktop
std::string AssociationPath();
std::string MimePackageText();
std::string AssociationText(const std::string& program);

// The text of a .desktop Exec key that runs `program` with the file given:
// the program quoted as the desktop entry rules require, then "%f".
std::string DesktopExecLine(std::string_view program);

// "7.12.1.0" for 0x0007000C00010000.
std::string DottedVersion(uint64_t version);

std::error_code Register(const std::string& program, std::optional<uint64_t> previousVersion);
// Undoes Register. When the maker's key names another program, that
// installation owns the registration and nothing is changed.
std::error_code Unregister(const std::string& program);

// Tells the desktop that file types and associations changed: runs
// update-mime-database and update-desktop-database on the machine-wide
// folders below $MW_ROOT when the programs and folders exist. A cache that
// would describe nothing (no MIME package, no desktop entry left) is removed
// instead, with the MIME folders it leaves empty, so that an uninstallation
// leaves no trace of it. Failures are ignored.
void RefreshAssociations();

}  // namespace mw::product
