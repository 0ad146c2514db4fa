// Conversions between the program's UTF-8 texts and UTF-16, the encoding of
// the Windows formats we keep (string tables, version resources, registry
// strings, the install log, the payload's table), all done by ICU. The
// lenient conversions never fail: each ill-formed sequence becomes U+FFFD.
// The strict ones refuse ill-formed input, for formats where a bad sequence
// means a damaged or hostile file (the payload's table).
#pragma once

#include <cstddef>
#include <optional>
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

// nullopt when the input holds an ill-formed sequence (a lone surrogate; an
// overlong, truncated or surrogate UTF-8 form; a code point past U+10FFFF).
std::optional<std::string> StrictUtf16ToUtf8(std::u16string_view text);
std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view text);

// The UTF-16 units of little-endian bytes (an odd last byte is ignored), and
// back.
std::u16string FromUtf16Le(std::span<const std::byte> bytes);
std::vector<std::byte> ToUtf16Le(std::u16string_view text);

}  // namespace mw::platform
