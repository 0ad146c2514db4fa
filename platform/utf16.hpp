// Conversions between the program's UTF-8 texts and UTF-16, the encoding of
// the Windows formats we keep (string tables, version resources, registry
// strings, the install log). Malformed input never fails: each bad sequence
// becomes U+FFFD.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mw::platform {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16LE bytes (an odd last byte is ignored) to UTF-8.
std::string Utf16LeToUtf8(std::span<const std::byte> bytes);
// UTF-8 to UTF-16LE bytes, without terminating zero.
std::vector<std::byte> Utf8ToUtf16Le(std::string_view text);

// Code points, for readers that work character by character.
std::u32string Utf16ToUtf32(std::u16string_view text);
std::string Utf32ToUtf8(std::u32string_view text);

}  // namespace mw::platform
