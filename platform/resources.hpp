// The resource bundle appended to our executables: version resource, string
// tables, dialog templates, icons, bitmap, manifest and the payload. A running
// program maps its own file read-only and reads resources in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace mw::platform {

// Windows resource type numbers we use.
namespace rt {
inline constexpr uint32_t Icon = 3;          // RT_ICON / group: GroupIcon
inline constexpr uint32_t Bitmap = 2;
inline constexpr uint32_t Dialog = 5;
inline constexpr uint32_t String = 6;        // one block of 16 strings, as in Windows
inline constexpr uint32_t GroupIcon = 14;
inline constexpr uint32_t Version = 16;
inline constexpr uint32_t Manifest = 24;
inline constexpr uint32_t Payload = 260;
}  // namespace rt

struct ResourceKey {
    uint32_t type = 0;
    uint32_t name = 0;
    uint16_t language = 0;
    auto operator<=>(const ResourceKey&) const = default;
};

class ResourceBundle {
public:
    virtual ~ResourceBundle() = default;
    // The bytes of a resource, any language when `language` is empty; they
    // stay valid as long as the bundle lives. Empty span: not found.
    virtual std::span<const std::byte> Find(uint32_t type, uint32_t name,
                                            std::optional<uint16_t> language = {}) const = 0;
    virtual std::vector<ResourceKey> List() const = 0;
};

// The bundle of the running executable (mapped once, lives for the process).
// A program without a bundle gets an empty one.
const ResourceBundle& OwnResources();
// The bundle of another file; nullptr with ec set when it has none.
std::unique_ptr<ResourceBundle> OpenResources(const std::string& path, std::error_code& ec);

// Loads string resource `id` (UTF-8); nullopt when absent.
std::optional<std::string> LoadStringResource(const ResourceBundle& bundle, uint32_t id);

}  // namespace mw::platform
