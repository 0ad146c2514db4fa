// The user's language and the facts the installer needs about a language:
// the user's default language as a Windows language identifier (LANGID),
// read from the POSIX locale environment; the POSIX locale name of a LANGID;
// native language names and writing direction (from ICU's own data, so no
// installed system locales are needed); the ANSI code page of a language and
// the conversion of text in such a code page to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace mw::platform {

inline constexpr uint16_t kLangIdEnglishUs = 0x0409;

inline constexpr uint16_t PrimaryLanguage(uint32_t langId) {
    return langId & 0x3FF;
}
inline constexpr uint16_t SubLanguage(uint32_t langId) {
    return (langId >> 10) & 0x3F;
}

// The LANGID of a POSIX locale name "ll[_CC][.codeset][@modifier]"; 0 when
// the language is unknown to our table. "C" and "POSIX" (with or without a
// codeset) are English (United States). A territory our table does not know
// gives the language's default identifier, except for Chinese, where only
// "zh" alone, zh_CN and zh_SG are simplified Chinese and any other territory
// is neutral Chinese (0x0004), which is none of the simplified identifiers.
uint16_t LangIdFromPosixName(std::string_view name);

// The POSIX name "ll_CC" of a LANGID; empty when our table has no such
// identifier.
std::string PosixNameFromLangId(uint16_t langId);

// The user's default interface language: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG decides; when none of them is set, the first entry of
// the colon-separated LANGUAGE list that our table knows. A set name that the
// table does not know gives 0 ("not a language of ours"); nothing set at all
// gives English (United States), as the C locale does. Read on every call.
uint16_t UserDefaultLangId();

// The user's default locale identifier: the LANGID with the default sort
// order, so its low 16 bits are the LANGID.
uint32_t UserDefaultLcid();

// The POSIX name "ll_CC" of the user's default locale: the territory as the
// environment gives it when the name maps to UserDefaultLangId(), else the
// table's name for that identifier; "en_US" when the language is unknown.
std::string UserDefaultLocaleName();

// The language's own name for itself ("Français", "Deutsch", "中文（简体）"),
// first character upper-cased; empty for an identifier our table does not
// know.
std::string NativeLanguageName(uint16_t langId);

// Whether the language is written right to left. `known` is false when the
// identifier is not in our table (the answer is then false).
bool IsRightToLeftLanguage(uint16_t langId, bool* known = nullptr);

// The Windows ANSI code page of a language (1252 Western, 1250 Central
// European, 1251 Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256
// Arabic, 1257 Baltic, 1258 Vietnamese, 874 Thai, 932 Japanese, 936
// simplified Chinese, 949 Korean, 950 traditional Chinese); 0 for a language
// without one (Unicode-only scripts) or one our table does not know.
uint32_t AnsiCodePage(uint16_t langId);

// The system's ANSI code page: that of the user's default language, else 1252.
uint32_t SystemAnsiCodePage();

// What ConvertFromCodePage does with bytes that are not valid in the code
// page (including bytes the code page leaves undefined, such as 0x81 in 1252,
// and a multi-byte sequence cut off at the end).
enum class InvalidBytes {
    Fail,     // the conversion fails with errc::illegal_byte_sequence
    Replace,  // each such byte becomes U+FFFD and the conversion goes on
};

// Converts text in a Windows code page (874, 932, 936, 949, 950, 1250-1258,
// 20127 US-ASCII, 28591 Latin-1, 1200 UTF-16LE, 65001 UTF-8) to UTF-8 with
// iconv. An unknown code page fails with errc::invalid_argument, whatever
// the mode; `utf8` is then empty. Embedded NUL bytes are converted as any
// other character.
std::error_code ConvertFromCodePage(std::string_view bytes, uint32_t codePage, std::string& utf8,
                                    InvalidBytes mode = InvalidBytes::Fail);

// Convenience form: invalid bytes are replaced; an unknown code page keeps
// the ASCII bytes and replaces every other byte by U+FFFD.
std::string ConvertFromCodePage(std::string_view bytes, uint32_t codePage);

// The iconv name of a code page ("CP1252"); empty when unsupported.
std::string IconvNameOfCodePage(uint32_t codePage);

}  // namespace mw::platform
