#include "platform/locale.hpp"

#include <errno.h>
#include <iconv.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cctype>
#include <cstdlib>
#include <optional>

#include "platform/os_error.hpp"

namespace mw::platform {
namespace {

// One row per locale we know: POSIX language and territory, the Windows
// LANGID and the ANSI code page Windows gives that locale. The first row of a
// language is its default (used for the language alone and for territories
// not listed).
struct LocaleRow {
    const char* language;
    const char* territory;
    uint16_t langId;
    uint16_t codePage;
};

constexpr LocaleRow kLocales[] = {
    // The twenty languages of the installer first, with their variants.
    {"fr", "FR", 0x040C, 1252},
    {"fr", "BE", 0x080C, 1252},
    {"fr", "CA", 0x0C0C, 1252},
    {"fr", "CH", 0x100C, 1252},
    {"fr", "LU", 0x140C, 1252},
    {"fr", "MC", 0x180C, 1252},
    {"en", "US", 0x0409, 1252},
    {"en", "GB", 0x0809, 1252},
    {"en", "AU", 0x0C09, 1252},
    {"en", "CA", 0x1009, 1252},
    {"en", "NZ", 0x1409, 1252},
    {"en", "IE", 0x1809, 1252},
    {"en", "ZA", 0x1C09, 1252},
    {"en", "JM", 0x2009, 1252},
    {"en", "BZ", 0x2809, 1252},
    {"en", "TT", 0x2C09, 1252},
    {"en", "ZW", 0x3009, 1252},
    {"en", "PH", 0x3409, 1252},
    {"en", "IN", 0x4009, 1252},
    {"en", "MY", 0x4409, 1252},
    {"en", "SG", 0x4809, 1252},
    {"de", "DE", 0x0407, 1252},
    {"de", "CH", 0x0807, 1252},
    {"de", "AT", 0x0C07, 1252},
    {"de", "LU", 0x1007, 1252},
    {"de", "LI", 0x1407, 1252},
    {"es", "ES", 0x0C0A, 1252},
    {"es", "MX", 0x080A, 1252},
    {"es", "GT", 0x100A, 1252},
    {"es", "CR", 0x140A, 1252},
    {"es", "PA", 0x180A, 1252},
    {"es", "DO", 0x1C0A, 1252},
    {"es", "VE", 0x200A, 1252},
    {"es", "CO", 0x240A, 1252},
    {"es", "PE", 0x280A, 1252},
    {"es", "AR", 0x2C0A, 1252},
    {"es", "EC", 0x300A, 1252},
    {"es", "CL", 0x340A, 1252},
    {"es", "UY", 0x380A, 1252},
    {"es", "PY", 0x3C0A, 1252},
    {"es", "BO", 0x400A, 1252},
    {"es", "SV", 0x440A, 1252},
    {"es", "HN", 0x480A, 1252},
    {"es", "NI", 0x4C0A, 1252},
    {"es", "PR", 0x500A, 1252},
    {"es", "US", 0x540A, 1252},
    {"pt", "PT", 0x0816, 1252},
    {"pt", "BR", 0x0416, 1252},
    {"nl", "NL", 0x0413, 1252},
    {"nl", "BE", 0x0813, 1252},
    {"da", "DK", 0x0406, 1252},
    {"tr", "TR", 0x041F, 1254},
    {"bg", "BG", 0x0402, 1251},
    {"ro", "RO", 0x0418, 1250},
    {"ro", "MD", 0x0818, 1250},
    {"zh", "CN", 0x0804, 936},
    {"zh", "SG", 0x1004, 936},
    {"zh", "TW", 0x0404, 950},
    {"zh", "HK", 0x0C04, 950},
    {"zh", "MO", 0x1404, 950},
    {"it", "IT", 0x0410, 1252},
    {"it", "CH", 0x0810, 1252},
    {"cs", "CZ", 0x0405, 1250},
    {"nb", "NO", 0x0414, 1252},
    {"nn", "NO", 0x0814, 1252},
    {"el", "GR", 0x0408, 1253},
    {"pl", "PL", 0x0415, 1250},
    {"he", "IL", 0x040D, 1255},
    {"vi", "VN", 0x042A, 1258},
    {"ja", "JP", 0x0411, 932},
    {"hu", "HU", 0x040E, 1250},
    // Other common languages, so that their users are recognised as users
    // of a language outside the installer's table.
    {"ar", "SA", 0x0401, 1256},
    {"ar", "IQ", 0x0801, 1256},
    {"ar", "EG", 0x0C01, 1256},
    {"ar", "LY", 0x1001, 1256},
    {"ar", "DZ", 0x1401, 1256},
    {"ar", "MA", 0x1801, 1256},
    {"ar", "TN", 0x1C01, 1256},
    {"ar", "OM", 0x2001, 1256},
    {"ar", "YE", 0x2401, 1256},
    {"ar", "SY", 0x2801, 1256},
    {"ar", "JO", 0x2C01, 1256},
    {"ar", "LB", 0x3001, 1256},
    {"ar", "KW", 0x3401, 1256},
    {"ar", "AE", 0x3801, 1256},
    {"ar", "BH", 0x3C01, 1256},
    {"ar", "QA", 0x4001, 1256},
    {"ca", "ES", 0x0403, 1252},
    {"fi", "FI", 0x040B, 1252},
    {"is", "IS", 0x040F, 1252},
    {"ko", "KR", 0x0412, 949},
    {"ru", "RU", 0x0419, 1251},
    {"hr", "HR", 0x041A, 1250},
    {"sk", "SK", 0x041B, 1250},
    {"sq", "AL", 0x041C, 1250},
    {"sv", "SE", 0x041D, 1252},
    {"sv", "FI", 0x081D, 1252},
    {"th", "TH", 0x041E, 874},
    {"ur", "PK", 0x0420, 1256},
    {"id", "ID", 0x0421, 1252},
    {"uk", "UA", 0x0422, 1251},
    {"be", "BY", 0x0423, 1251},
    {"sl", "SI", 0x0424, 1250},
    {"et", "EE", 0x0425, 1257},
    {"lv", "LV", 0x0426, 1257},
    {"lt", "LT", 0x0427, 1257},
    {"fa", "IR", 0x0429, 1256},
    {"hy", "AM", 0x042B, 0},
    {"eu", "ES", 0x042D, 1252},
    {"mk", "MK", 0x042F, 1251},
    {"af", "ZA", 0x0436, 1252},
    {"ka", "GE", 0x0437, 0},
    {"fo", "FO", 0x0438, 1252},
    {"hi", "IN", 0x0439, 0},
    {"ms", "MY", 0x043E, 1252},
    {"kk", "KZ", 0x043F, 1251},
    {"sw", "KE", 0x0441, 1252},
    {"gl", "ES", 0x0456, 1252},
    {"sr", "RS", 0x281A, 1251},
};

// Old or alternative language codes glibc and users still write.
struct Alias {
    const char* from;
    const char* to;
};
constexpr Alias kAliases[] = {{"iw", "he"}, {"no", "nb"}, {"in", "id"}};

constexpr uint16_t kChineseNeutral = 0x0004;

struct PosixName {
    std::string language;   // lower case
    std::string territory;  // upper case, may be empty
};

std::optional<PosixName> SplitPosixName(std::string_view name) {
    std::size_t end = name.find_first_of(".@");
    name = name.substr(0, end);
    std::size_t sep = name.find_first_of("_-");
    std::string_view lang = name.substr(0, sep);
    std::string_view terr =
        sep == std::string_view::npos ? std::string_view{} : name.substr(sep + 1);
    if (lang.empty()) return std::nullopt;
    PosixName out;
    for (char c : lang) {
        if (!std::isalpha(static_cast<unsigned char>(c))) return std::nullopt;
        out.language += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (char c : terr) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return std::nullopt;
        out.territory += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const Alias& a : kAliases) {
        if (out.language == a.from) out.language = a.to;
    }
    return out;
}

bool IsCLocale(std::string_view name) {
    std::string_view base = name.substr(0, name.find_first_of(".@"));
    return base == "C" || base == "POSIX";
}

const LocaleRow* FindRow(uint16_t langId) {
    for (const LocaleRow& r : kLocales) {
        if (r.langId == langId) return &r;
    }
    return nullptr;
}

const LocaleRow* FindDefaultRowOfPrimary(uint16_t langId) {
    for (const LocaleRow& r : kLocales) {
        if (PrimaryLanguage(r.langId) == PrimaryLanguage(langId)) return &r;
    }
    return nullptr;
}

const char* Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

// The environment's locale name that decides the user's language, and
// whether it came from LANGUAGE.
std::string DecidingName() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* v = Env(var)) return v;
    }
    if (const char* list = Env("LANGUAGE")) {
        std::string_view rest = list;
        while (!rest.empty()) {
            std::size_t colon = rest.find(':');
            std::string_view item = rest.substr(0, colon);
            if (!item.empty() && LangIdFromPosixName(item) != 0) return std::string(item);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    return "C";
}

// ICU's locale for a LANGID: Chinese carries its script, so that the native
// name says simplified or traditional.
icu::Locale IcuLocale(uint16_t langId, const LocaleRow& row) {
    if (PrimaryLanguage(langId) == 0x04) {
        uint16_t sub = SubLanguage(langId);
        return icu::Locale(sub == 0 || sub == 2 || sub == 4 ? "zh_Hans" : "zh_Hant");
    }
    return icu::Locale(row.language, row.territory);
}

}  // namespace

uint16_t LangIdFromPosixName(std::string_view name) {
    if (IsCLocale(name)) return kLangIdEnglishUs;
    std::optional<PosixName> parsed = SplitPosixName(name);
    if (!parsed) return 0;
    const LocaleRow* languageDefault = nullptr;
    for (const LocaleRow& r : kLocales) {
        if (parsed->language != r.language) continue;
        if (!languageDefault) languageDefault = &r;
        if (parsed->territory == r.territory) return r.langId;
    }
    if (!languageDefault) return 0;
    if (parsed->language == "zh" && !parsed->territory.empty()) return kChineseNeutral;
    return languageDefault->langId;
}

std::string PosixNameFromLangId(uint16_t langId) {
    const LocaleRow* row = FindRow(langId);
    if (!row) return {};
    return std::string(row->language) + "_" + row->territory;
}

uint16_t UserDefaultLangId() {
    std::string name = DecidingName();
    return LangIdFromPosixName(name);
}

uint32_t UserDefaultLcid() {
    return UserDefaultLangId();
}

std::string UserDefaultLocaleName() {
    std::string name = DecidingName();
    uint16_t langId = LangIdFromPosixName(name);
    if (langId == 0) return "en_US";
    std::optional<PosixName> parsed = SplitPosixName(name);
    if (parsed && !parsed->territory.empty() && !IsCLocale(name)) {
        return parsed->language + "_" + parsed->territory;
    }
    return PosixNameFromLangId(langId);
}

std::string NativeLanguageName(uint16_t langId) {
    const LocaleRow* row = FindRow(langId);
    if (!row) return {};
    icu::Locale locale = IcuLocale(langId, *row);
    icu::UnicodeString name;
    if (PrimaryLanguage(langId) == 0x04) {
        locale.getDisplayName(locale, name);
    } else {
        locale.getDisplayLanguage(locale, name);
    }
    if (name.isEmpty()) return {};
    UChar32 first = name.char32At(0);
    UChar32 upper = u_toupper(first);
    if (upper != first) name.replace(0, U16_LENGTH(first), icu::UnicodeString(upper));
    std::string out;
    name.toUTF8String(out);
    return out;
}

bool IsRightToLeftLanguage(uint16_t langId, bool* known) {
    const LocaleRow* row = FindRow(langId);
    if (known) *known = row != nullptr;
    if (!row) return false;
    return IcuLocale(langId, *row).isRightToLeft();
}

uint32_t AnsiCodePage(uint16_t langId) {
    const LocaleRow* row = FindRow(langId);
    if (!row) row = FindDefaultRowOfPrimary(langId);
    return row ? row->codePage : 0;
}

uint32_t SystemAnsiCodePage() {
    uint32_t cp = AnsiCodePage(UserDefaultLangId());
    return cp ? cp : 1252;
}

std::string IconvNameOfCodePage(uint32_t codePage) {
    switch (codePage) {
        case 874:
        case 932:
        case 936:
        case 949:
        case 950:
        case 1250:
        case 1251:
        case 1252:
        case 1253:
        case 1254:
        case 1255:
        case 1256:
        case 1257:
        case 1258:
            return "CP" + std::to_string(codePage);
        case 1200:
            return "UTF-16LE";
        case 20127:
            return "US-ASCII";
        case 28591:
            return "ISO-8859-1";
        case 65001:
            return "UTF-8";
        default:
            return {};
    }
}

std::error_code ConvertFromCodePage(std::string_view bytes, uint32_t codePage, std::string& utf8,
                                    InvalidBytes mode) {
    utf8.clear();
    std::string from = IconvNameOfCodePage(codePage);
    if (from.empty()) return OsError(std::errc::invalid_argument);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return OsError(std::errc::invalid_argument);

    // A code unit of UTF-16 is two bytes; skipping one byte there would
    // misalign the rest, so a bad unit is skipped whole.
    const std::size_t unit = codePage == 1200 ? 2 : 1;
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    std::error_code result;
    bool flushed = false;
    while (!flushed) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        // Once the input is used up, one more call without input lets
        // converters that wait for combining marks (1255, 1258) give out
        // their last character.
        const bool flushing = inLeft == 0;
        std::size_t rc = flushing ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                                  : iconv(cd, &in, &inLeft, &out, &outLeft);
        int err = errno;
        utf8.append(buffer, out - buffer);
        if (rc != static_cast<std::size_t>(-1)) {
            flushed = flushing;
            continue;
        }
        if (err == E2BIG) continue;
        if (!flushing && (err == EILSEQ || err == EINVAL)) {
            if (mode == InvalidBytes::Fail) {
                result = OsError(std::errc::illegal_byte_sequence);
                break;
            }
            utf8 += kReplacement;
            // EINVAL: an incomplete sequence at the very end; nothing can follow.
            std::size_t skip = err == EINVAL ? inLeft : std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
            continue;
        }
        result = OsError(err);
        break;
    }
    iconv_close(cd);
    if (result) utf8.clear();
    return result;
}

std::string ConvertFromCodePage(std::string_view bytes, uint32_t codePage) {
    std::string utf8;
    if (!ConvertFromCodePage(bytes, codePage, utf8, InvalidBytes::Replace)) return utf8;
    utf8.clear();
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            utf8 += c;
        } else {
            utf8 += "\xEF\xBF\xBD";
        }
    }
    return utf8;
}

}  // namespace mw::platform
