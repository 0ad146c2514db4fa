#include "platform/case_fold.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace mw::platform {

namespace {

icu::UnicodeString FromUtf8(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

int FullFoldCompare(std::string_view a, std::string_view b) {
    return FromUtf8(a).caseCompare(FromUtf8(b), U_FOLD_CASE_DEFAULT);
}

}  // namespace

std::string FoldRegistryName(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto n = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    while (i < n) {
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0) c = 0xFFFD;  // the registry validates names first
        c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        uint8_t buf[4];
        int32_t len = 0;
        U8_APPEND_UNSAFE(buf, len, c);
        out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
    }
    return out;
}

std::string FoldFileName(std::string_view utf8) {
    std::string out;
    FromUtf8(utf8).foldCase(U_FOLD_CASE_DEFAULT).toUTF8String(out);
    return out;
}

bool SameFileName(std::string_view a, std::string_view b) { return FullFoldCompare(a, b) == 0; }

int CompareFileNames(std::string_view a, std::string_view b) { return FullFoldCompare(a, b); }

bool SamePrivilegeName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace mw::platform
