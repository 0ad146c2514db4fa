#include "platform/utf16.hpp"

#include <cstdint>

namespace mw::platform {
namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

// Calls `emit` with every code point of `count` UTF-16 units; a lone
// surrogate gives U+FFFD.
template <typename Unit, typename Emit>
void DecodeUtf16(std::size_t count, Unit unitAt, Emit emit) {
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = unitAt(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            char32_t low = i + 1 < count ? unitAt(i + 1) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = Replacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = Replacement;
        }
        emit(c);
    }
}

template <typename Unit>
std::string FromUtf16(std::size_t count, Unit unitAt) {
    std::string out;
    out.reserve(count);
    DecodeUtf16(count, unitAt, [&](char32_t c) { AppendUtf8(out, c); });
    return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    return FromUtf16(text.size(), [&](std::size_t i) { return char32_t(text[i]); });
}

std::string Utf16LeToUtf8(std::span<const std::byte> bytes) {
    return FromUtf16(bytes.size() / 2, [&](std::size_t i) {
        return char32_t(uint8_t(bytes[2 * i])) | char32_t(uint8_t(bytes[2 * i + 1])) << 8;
    });
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        int extra = b < 0x80           ? 0
                    : (b >> 5) == 0x6  ? 1
                    : (b >> 4) == 0xE  ? 2
                    : (b >> 3) == 0x1E ? 3
                                       : -1;
        if (extra < 0) {
            out += char16_t(Replacement);
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        }
        static constexpr char32_t MinFor[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || c < MinFor[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += char16_t(Replacement);
            ++i;  // resynchronise on the next byte
            continue;
        }
        AppendUtf16(out, c);
        i += extra + 1;
    }
    return out;
}

std::u32string Utf16ToUtf32(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    DecodeUtf16(
        text.size(), [&](std::size_t i) { return char32_t(text[i]); },
        [&](char32_t c) { out += c; });
    return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) AppendUtf8(out, c);
    return out;
}

std::vector<std::byte> Utf8ToUtf16Le(std::string_view text) {
    std::u16string wide = Utf8ToUtf16(text);
    std::vector<std::byte> out;
    out.reserve(wide.size() * 2);
    for (char16_t c : wide) {
        out.push_back(std::byte(c & 0xFF));
        out.push_back(std::byte(c >> 8));
    }
    return out;
}

}  // namespace mw::platform
