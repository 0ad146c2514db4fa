#include "platform/locale.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/env_guard.hpp"

namespace mw::platform {
namespace {

TEST(LocaleNames, PosixNamesMapToWindowsLanguageIds) {
    struct Case {
        const char* name;
        uint16_t langId;
    };
    const Case cases[] = {
        {"fr_FR.UTF-8", 0x040C},
        {"fr_CA", 0x0C0C},
        {"fr-BE", 0x080C},  // a dash as in BCP 47 names
        {"nl_NL", 0x0413},
        {"nl_BE.UTF-8", 0x0813},
        {"de_AT@euro", 0x0C07},
        {"de_DE.UTF-8@euro", 0x0407},
        {"es_ES", 0x0C0A},
        {"es_MX", 0x080A},
        {"pt", 0x0816},
        {"pt_BR", 0x0416},
        {"EN_us", 0x0409},  // case does not matter
        {"en_XX", 0x0409},  // unknown territory: the language's default
        {"ja_JP.eucJP", 0x0411},
        {"iw_IL", 0x040D},  // old code of Hebrew
        {"no_NO", 0x0414},
        {"nn_NO", 0x0814},
        {"el_GR", 0x0408},
        {"vi_VN", 0x042A},
        {"zh_CN.UTF-8", 0x0804},
        {"zh_SG", 0x1004},
        {"zh_TW", 0x0404},
        {"zh_HK", 0x0C04},
        {"zh_MO", 0x1404},
        {"zh", 0x0804},
        {"zh_XX", 0x0004},  // Chinese of an unknown territory is not simplified
        {"ru_RU", 0x0419},
        {"C", 0x0409},
        {"C.UTF-8", 0x0409},
        {"POSIX", 0x0409},
        {"xx_YY", 0},
        {"", 0},
        {"_FR", 0},
        {"f1_FR", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LangIdFromPosixName(c.name), c.langId) << c.name;
    }
}

TEST(LocaleNames, LanguageIdsGiveBackTheirPosixName) {
    EXPECT_EQ(PosixNameFromLangId(0x0413), "nl_NL");
    EXPECT_EQ(PosixNameFromLangId(0x0C0A), "es_ES");
    EXPECT_EQ(PosixNameFromLangId(0x0804), "zh_CN");
    EXPECT_EQ(PosixNameFromLangId(0x0816), "pt_PT");
    EXPECT_EQ(PosixNameFromLangId(0x7777), "");
}

struct EnvCase {
    std::optional<std::string> lcAll, lcMessages, lang, language;
    uint16_t langId;
    const char* localeName;
};

TEST(UserDefaultLanguage, FirstSetVariableDecidesThenLanguageList) {
    const std::nullopt_t unset = std::nullopt;
    const EnvCase cases[] = {
        {unset, unset, "de_DE.UTF-8", unset, 0x0407, "de_DE"},
        {"fr_CA.UTF-8", "it_IT", "de_DE", unset, 0x0C0C, "fr_CA"},
        {"", "it_IT.UTF-8", "de_DE", unset, 0x0410, "it_IT"},  // empty counts as unset
        {unset, unset, "C", "de_DE", 0x0409, "en_US"},         // C means English
        {unset, unset, "POSIX", unset, 0x0409, "en_US"},
        {unset, unset, unset, "nl_NL:de", 0x0413, "nl_NL"},
        {unset, unset, "", "xx:pt_BR", 0x0416, "pt_BR"},  // first known entry of the list
        {unset, unset, unset, unset, 0x0409, "en_US"},    // nothing set: as the C locale
        {unset, unset, "xx_YY", "de", 0, "en_US"},        // a language of no row of ours
        {unset, unset, "de.UTF-8", unset, 0x0407, "de_DE"},
        {unset, unset, "zh_TW.Big5", unset, 0x0404, "zh_TW"},
    };
    for (const EnvCase& c : cases) {
        mwtest::EnvGuard env;
        env.Set("LC_ALL", c.lcAll);
        env.Set("LC_MESSAGES", c.lcMessages);
        env.Set("LANG", c.lang);
        env.Set("LANGUAGE", c.language);
        SCOPED_TRACE(c.lang.value_or("-") + " / " + c.language.value_or("-"));
        EXPECT_EQ(UserDefaultLangId(), c.langId);
        EXPECT_EQ(UserDefaultLcid() & 0xFFFF, c.langId);
        EXPECT_EQ(UserDefaultLocaleName(), c.localeName);
    }
}

TEST(LanguageFacts, NativeNamesComeFromIcuWithAnUpperCaseStart) {
    struct Case {
        uint16_t langId;
        const char* name;
    };
    const Case cases[] = {
        {1036, "Français"}, {1033, "English"},      {1031, "Deutsch"},
        {3082, "Español"},  {2070, "Português"},    {1043, "Nederlands"},
        {1030, "Dansk"},    {1055, "Türkçe"},       {1026, "Български"},
        {1048, "Română"},   {2052, "中文（简体）"}, {1040, "Italiano"},
        {1029, "Čeština"},  {1044, "Norsk bokmål"}, {1032, "Ελληνικά"},
        {1045, "Polski"},   {1037, "עברית"},        {1066, "Tiếng Việt"},
        {1041, "日本語"},   {1038, "Magyar"},       {0x0404, "中文（繁體）"},
        {0x7777, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NativeLanguageName(c.langId), c.name) << std::hex << c.langId;
    }
}

TEST(LanguageFacts, RightToLeftScripts) {
    struct Case {
        uint16_t langId;
        bool rtl;
        bool known;
    };
    const Case cases[] = {
        {1037, true, true},  {0x0401, true, true}, {0x0429, true, true},   {1036, false, true},
        {2052, false, true}, {1041, false, true},  {0x7777, false, false},
    };
    for (const Case& c : cases) {
        bool known = !c.known;
        EXPECT_EQ(IsRightToLeftLanguage(c.langId, &known), c.rtl) << std::hex << c.langId;
        EXPECT_EQ(known, c.known) << std::hex << c.langId;
    }
}

TEST(LanguageFacts, AnsiCodePages) {
    struct Case {
        uint16_t langId;
        uint32_t codePage;
    };
    const Case cases[] = {
        {1036, 1252},  {1033, 1252},  {1031, 1252},  {3082, 1252}, {2070, 1252},
        {1043, 1252},  {1030, 1252},  {1055, 1254},  {1026, 1251}, {1048, 1250},
        {2052, 936},   {1040, 1252},  {1029, 1250},  {1044, 1252}, {1032, 1253},
        {1045, 1250},  {1037, 1255},  {1066, 1258},  {1041, 932},  {1038, 1250},
        {0x0404, 950}, {0x0412, 949}, {0x041E, 874}, {0x0439, 0},  // Hindi has no ANSI code page
        {0x0004, 936},  // neutral Chinese: the language's default row
        {0x7777, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiCodePage(c.langId), c.codePage) << std::hex << c.langId;
    }
}

TEST(LanguageFacts, SystemCodePageFollowsTheUserLanguage) {
    struct Case {
        const char* lang;
        uint32_t codePage;
    };
    for (const Case& c : {Case{"ru_RU.UTF-8", 1251}, Case{"hi_IN", 1252}, Case{"C", 1252},
                          Case{"xx_YY", 1252}, Case{"ja_JP", 932}}) {
        mwtest::EnvGuard env;
        env.SetUserLanguage(c.lang);
        EXPECT_EQ(SystemAnsiCodePage(), c.codePage) << c.lang;
    }
}

struct ConvertCase {
    uint32_t codePage;
    std::string bytes;
    std::string utf8;
};

TEST(ConvertFromCodePage, EveryCodePageOfTheLanguageTable) {
    const ConvertCase cases[] = {
        {1252, "Caf\xE9 \x80", "Café €"},
        {1250, "\x8A\xE8\xB9", "Ščą"},
        {1251, "\xC0\xE1\xE2", "Абв"},
        {1253, "\xC1\xE2", "Αβ"},
        {1254, "\xDD\xFE", "İş"},
        {1255, "\xF9\xEC\xE5\xED", "שלום"},
        {1256, "\xC7", "ا"},
        {1257, "\xC0", "Ą"},
        // The last character of 1258 waits for a possible combining mark:
        // it must still come out at the end of the input.
        {1258, "Vi\xEA\xF2t", "Việt"},
        {1258, "\xE0", "à"},
        {874, "\xA1", "ก"},
        {932, "\x82\xA0\x93\xFA", "あ日"},
        {936, "\xC4\xE3\xBA\xC3", "你好"},
        {949, "\xB0\xA1", "가"},
        {950, "\xA4\xA4", "中"},
        {1200, std::string("A\0\xE9\0", 4), "Aé"},
        {65001, "d\xC3\xA9j\xC3\xA0", "déjà"},
        {20127, "plain", "plain"},
        {28591, "\xFF", "ÿ"},
        {1252, std::string("a\0b", 3), std::string("a\0b", 3)},  // NUL is a character
        {1252, "", ""},
    };
    for (const ConvertCase& c : cases) {
        std::string out = "stale";
        std::error_code ec = ConvertFromCodePage(c.bytes, c.codePage, out);
        EXPECT_FALSE(ec) << c.codePage << ": " << ec.message();
        EXPECT_EQ(out, c.utf8) << c.codePage;
        EXPECT_EQ(ConvertFromCodePage(c.bytes, c.codePage), c.utf8) << c.codePage;
    }
}

TEST(ConvertFromCodePage, InvalidBytesFailOrAreReplaced) {
    const std::string fffd = "\xEF\xBF\xBD";
    const ConvertCase cases[] = {
        {1252,
         "a\x81"
         "b",
         "a" + fffd + "b"},                              // undefined in 1252
        {932, "\x82\xA0\x82", "あ" + fffd},              // cut off lead byte
        {65001, "x\xFF\xFEy", "x" + fffd + fffd + "y"},  // one replacement a byte
        {65001, "\xE2\x82", fffd},                       // cut off sequence
        {1200, std::string("A\0B", 3), "A" + fffd},      // odd byte count
        {1200,
         std::string("\x00\xD8"
                     "A\0",
                     4),
         fffd + "A"},  // lone surrogate
    };
    for (const ConvertCase& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(ConvertFromCodePage(c.bytes, c.codePage, out, InvalidBytes::Fail),
                  std::errc::illegal_byte_sequence)
            << c.codePage;
        EXPECT_EQ(out, "") << c.codePage;
        EXPECT_FALSE(ConvertFromCodePage(c.bytes, c.codePage, out, InvalidBytes::Replace));
        EXPECT_EQ(out, c.utf8) << c.codePage;
    }
}

TEST(ConvertFromCodePage, UnknownCodePage) {
    std::string out = "stale";
    EXPECT_EQ(ConvertFromCodePage("abc", 12345, out, InvalidBytes::Replace),
              std::errc::invalid_argument);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ConvertFromCodePage("ab\xE9", 12345), "ab\xEF\xBF\xBD");
    EXPECT_EQ(IconvNameOfCodePage(1252), "CP1252");
    EXPECT_EQ(IconvNameOfCodePage(932), "CP932");
    EXPECT_EQ(IconvNameOfCodePage(12345), "");
}

TEST(ConvertFromCodePage, OutputLongerThanOneConversionBuffer) {
    std::string bytes(10000, '\xE9');
    bytes += '\x81';
    std::string out;
    ASSERT_FALSE(ConvertFromCodePage(bytes, 1252, out, InvalidBytes::Replace));
    ASSERT_EQ(out.size(), 20003u);
    EXPECT_EQ(out.substr(0, 4), "éé");
    EXPECT_EQ(out.substr(19998), "é\xEF\xBF\xBD");
}

}  // namespace
}  // namespace mw::platform
