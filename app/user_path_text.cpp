#include "app/user_path_text.hpp"

#include "platform/utf16.hpp"

namespace mw {

bool IsAcceptableUserPathText(std::string_view text) {
    // The conversion turns each malformed sequence into U+FFFD, so only a
    // well-formed text comes back unchanged.
    const std::u16string wide = platform::Utf8ToUtf16(text);
    if (platform::Utf16ToUtf8(wide) != text) return false;
    for (char16_t c : wide) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    }
    return true;
}

}  // namespace mw
