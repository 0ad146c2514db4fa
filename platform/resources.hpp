// The resource bundle appended to our executables: version resource, string
// tables, dialog templates, icons, bitmap, manifest and the payload. A running
// program maps its own file read-only and reads resources in place.
//
// Layout of a file that carries a bundle (all numbers little-endian):
//
//   [program bytes][bundle][trailer]
//
//   trailer, the last 24 bytes of the file:
//     u64 bundleOffset   file offset of the bundle
//     u64 bundleSize     bytes of the bundle; bundleOffset + bundleSize is
//                        exactly the offset of the trailer
//     char magic[8]      "MWRSRC\x01\n"
//
//   bundle:
//     char magic[8]      "MWRSIDX1"
//     u32  count         number of index entries
//     u32  reserved      0
//     count index entries of 32 bytes, sorted by (type, name, language),
//     no key twice:
//       u32 type, u32 name, u16 language, u16 reserved (0), u32 reserved (0),
//       u64 offset       from the start of the bundle, at or after the index
//       u64 size
//     resource data, each item starting on a 16-byte boundary of the bundle.
//
// Everything before bundleOffset is the program as the linker wrote it, so a
// bundle can be replaced by cutting the file there. A file whose trailer or
// index is inconsistent in any way (offsets outside the file, overlapping the
// index, overflowing) counts as damaged and yields no resources at all.
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
inline constexpr uint32_t Icon = 3;  // RT_ICON / group: GroupIcon
inline constexpr uint32_t Bitmap = 2;
inline constexpr uint32_t Dialog = 5;
inline constexpr uint32_t String = 6;  // one block of 16 strings, as in Windows
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
    // The bytes of a resource, any language when `language` is empty (the
    // lowest language number then wins); they stay valid as long as the
    // bundle lives. Empty span: not found.
    virtual std::span<const std::byte> Find(uint32_t type, uint32_t name,
                                            std::optional<uint16_t> language = {}) const = 0;
    virtual std::vector<ResourceKey> List() const = 0;
    // Gives back the memory of the whole pages inside `bytes`, a part of a
    // resource of this bundle that has been read, so that one pass over a
    // large resource does not keep all of it resident. A bundle mapped from a
    // file reads them again from it when they are touched; a bundle over
    // bytes its caller keeps leaves them as they are.
    virtual void Release(std::span<const std::byte> bytes) const { (void)bytes; }
    // Copies `bytes`, a part of a resource of this bundle, into `to`. A
    // bundle mapped from a file reads them from the file, so that none of
    // them is mapped in. Safe from several threads at once.
    virtual void Copy(std::span<const std::byte> bytes, void* to) const;
};

// The bundle of the running executable (mapped once, lives for the process).
// A program without a bundle gets an empty one.
const ResourceBundle& OwnResources();
// The bundle of another file; nullptr with ec set when it has none.
std::unique_ptr<ResourceBundle> OpenResources(const std::string& path, std::error_code& ec);

// Loads string resource `id` (UTF-8) from block id / 16 + 1 of any language
// (the resource compiler gives each block one language, that of its source
// file); nullopt when absent, of length zero, or cut off by a short block.
std::optional<std::string> LoadStringResource(const ResourceBundle& bundle, uint32_t id);

// Why a file yields no bundle.
enum class ResourceError {
    NoBundle = 1,  // the file ends without a bundle trailer
    Damaged = 2,   // a trailer is there but the bundle is inconsistent
};
const std::error_category& ResourceCategory();
std::error_code make_error_code(ResourceError e);

// Format constants, shared with the writer.
namespace bundle_format {
inline constexpr char TrailerMagic[8] = {'M', 'W', 'R', 'S', 'R', 'C', '\x01', '\n'};
inline constexpr char IndexMagic[8] = {'M', 'W', 'R', 'S', 'I', 'D', 'X', '1'};
inline constexpr std::size_t TrailerSize = 24;
inline constexpr std::size_t HeaderSize = 16;
inline constexpr std::size_t EntrySize = 32;
inline constexpr std::size_t DataAlignment = 16;
}  // namespace bundle_format

// Where the bundle of a file image lies, or why there is none. `bundle` is
// the bundle without the trailer; `programSize` is the size of what precedes
// it (the whole image when there is no bundle).
struct BundleLocation {
    std::span<const std::byte> bundle;
    uint64_t programSize = 0;
};
std::error_code LocateBundle(std::span<const std::byte> image, BundleLocation& out);

// A bundle over bytes that the caller keeps alive (a mapping, a buffer).
// Fails with Damaged when the index does not hold together.
std::unique_ptr<ResourceBundle> ParseBundle(std::span<const std::byte> bundle, std::error_code& ec);

}  // namespace mw::platform

namespace std {
template <>
struct is_error_code_enum<mw::platform::ResourceError> : true_type {};
}  // namespace std
