#include "platform/utf16.hpp"

#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <climits>
#include <cstdint>

namespace mw::platform {
namespace {

constexpr UChar32 kReplacement = 0xFFFD;

int32_t Length(std::size_t n) {
    // ICU counts in int32_t; no text of ours comes near that.
    return n > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

// Runs an ICU conversion of the form f(dest, capacity, &length, ...,
// &status) twice: once to learn the length, once to fill. false when ICU
// reports an error (with the U_SENTINEL substitute: an ill-formed input).
template <typename Out, typename Convert>
bool Run(Out& out, Convert convert) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    convert(nullptr, 0, &length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
    out.resize(static_cast<std::size_t>(length));
    if (length == 0) return true;
    status = U_ZERO_ERROR;
    convert(out.data(), length, &length, &status);
    return U_SUCCESS(status) || status == U_STRING_NOT_TERMINATED_WARNING;
}

bool ToUtf8(std::u16string_view text, UChar32 substitute, std::string& out) {
    return Run(out, [&](char* dest, int32_t capacity, int32_t* length, UErrorCode* status) {
        u_strToUTF8WithSub(dest, capacity, length, text.data(), Length(text.size()), substitute,
                           nullptr, status);
    });
}

bool FromUtf8(std::string_view text, UChar32 substitute, std::u16string& out) {
    return Run(out, [&](char16_t* dest, int32_t capacity, int32_t* length, UErrorCode* status) {
        u_strFromUTF8WithSub(dest, capacity, length, text.data(), Length(text.size()), substitute,
                             nullptr, status);
    });
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    ToUtf8(text, kReplacement, out);
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    FromUtf8(text, kReplacement, out);
    return out;
}

std::optional<std::string> StrictUtf16ToUtf8(std::u16string_view text) {
    std::string out;
    if (!ToUtf8(text, U_SENTINEL, out)) return std::nullopt;
    return out;
}

std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view text) {
    std::u16string out;
    if (!FromUtf8(text, U_SENTINEL, out)) return std::nullopt;
    return out;
}

std::u16string FromUtf16Le(std::span<const std::byte> bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(uint16_t(bytes[2 * i]) | uint16_t(bytes[2 * i + 1]) << 8);
    }
    return units;
}

std::vector<std::byte> ToUtf16Le(std::u16string_view text) {
    std::vector<std::byte> out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(std::byte(c & 0xFF));
        out.push_back(std::byte(c >> 8));
    }
    return out;
}

std::string Utf16LeToUtf8(std::span<const std::byte> bytes) {
    return Utf16ToUtf8(FromUtf16Le(bytes));
}

std::vector<std::byte> Utf8ToUtf16Le(std::string_view text) {
    return ToUtf16Le(Utf8ToUtf16(text));
}

std::u32string Utf16ToUtf32(std::u16string_view text) {
    std::u32string out;
    Run(out, [&](char32_t* dest, int32_t capacity, int32_t* length, UErrorCode* status) {
        u_strToUTF32WithSub(reinterpret_cast<UChar32*>(dest), capacity, length, text.data(),
                            Length(text.size()), kReplacement, nullptr, status);
    });
    return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
    std::u16string wide;
    Run(wide, [&](char16_t* dest, int32_t capacity, int32_t* length, UErrorCode* status) {
        u_strFromUTF32WithSub(dest, capacity, length, reinterpret_cast<const UChar32*>(text.data()),
                              Length(text.size()), kReplacement, nullptr, status);
    });
    return Utf16ToUtf8(wide);
}

}  // namespace mw::platform
