// The Windows version resource (VS_VERSIONINFO) in its exact binary layout:
// the resource compiler builds it and the version reader queries it the way
// VerQueryValueW does, so translations, code pages and terminating zeros
// behave as they do on Windows.
//
// Layout of every node: u16 wLength (bytes of the node, children included,
// trailing padding excluded), u16 wValueLength (UTF-16 units for text
// values, bytes for binary ones), u16 wType (1 text, 0 binary), the key as
// UTF-16LE with terminating zero, padding to 4 bytes, the value, padding to
// 4 bytes, then the children. The root "VS_VERSION_INFO" holds the 52-byte
// VS_FIXEDFILEINFO as its value and the children "StringFileInfo" (one
// table per translation key, such as "040004b0", holding the string values)
// and "VarFileInfo" (the value "Translation": pairs of u16 language and u16
// code page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mw::platform {

struct FixedFileInfo {
    static constexpr uint32_t Signature = 0xFEEF04BD;
    uint32_t signature = Signature;
    uint32_t structVersion = 0x00010000;
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
    uint32_t fileFlagsMask = 0x3F;
    uint32_t fileFlags = 0;
    uint32_t fileOS = 0x40004;  // VOS_NT_WINDOWS32
    uint32_t fileType = 1;      // VFT_APP
    uint32_t fileSubtype = 0;
    uint32_t fileDateMS = 0;
    uint32_t fileDateLS = 0;
    bool operator==(const FixedFileInfo&) const = default;
};
inline constexpr std::size_t FixedFileInfoSize = 52;

// File flags of VS_FIXEDFILEINFO.
namespace vs_ff {
inline constexpr uint32_t Debug = 0x1;
inline constexpr uint32_t PreRelease = 0x2;
inline constexpr uint32_t Patched = 0x4;
inline constexpr uint32_t PrivateBuild = 0x8;
}  // namespace vs_ff

// What a version resource says, in the order it is written.
struct VersionDescription {
    struct StringTable {
        std::string key;  // "040004b0": language and code page in hexadecimal
        std::vector<std::pair<std::string, std::string>> values;  // name, UTF-8 text
    };
    std::optional<FixedFileInfo> fixed = FixedFileInfo{};
    std::vector<StringTable> stringTables;
    std::vector<std::pair<uint16_t, uint16_t>> translations;  // language, code page
    // Whether string values are stored with their terminating zero (counted
    // in wValueLength), as the Windows resource compiler does.
    bool terminateStrings = true;
};

std::vector<std::byte> BuildVersionResource(const VersionDescription& description);

// A value found by QueryVersionValue: its bytes inside the block; `length`
// is wValueLength (UTF-16 units for text values, bytes for binary ones),
// limited to what the node really holds.
struct VersionValue {
    std::span<const std::byte> bytes;
    uint32_t length = 0;
    bool text = false;
};

// VerQueryValueW over a block: "\\" is the root's value, other paths name
// nodes by their keys ("\\VarFileInfo\\Translation",
// "\\StringFileInfo\\040004b0\\ProductName"), compared without regard to ASCII
// case. nullopt: no such node, or a malformed block.
std::optional<VersionValue> QueryVersionValue(std::span<const std::byte> block,
                                              std::string_view path);

// The fixed file information of a block, when its root value is one.
std::optional<FixedFileInfo> ReadFixedFileInfo(std::span<const std::byte> block);

}  // namespace mw::platform
