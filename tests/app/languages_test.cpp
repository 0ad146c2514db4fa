#include "app/languages.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/app_services.hpp"
#include "app/identity.hpp"
#include "app/text_format.hpp"
#include "platform/message_box.hpp"
#include "platform/registry.hpp"
#include "platform/testing/registry_fake.hpp"
#include "support/env_guard.hpp"
#include "support/string_tables.hpp"

namespace mw {
namespace {

const std::string kEnglish1129 =
    "'Arbolux' will be installed in the selected Langage, but the Installer, still under "
    "translation,  shall run in English.";
const std::string kFrench1131 = "Mise à jour de DirectX...";

// A fresh process-like setting for each test: the catalog reads the source
// tables, the registry is an empty fake, boxes are recorded.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.SetUserLanguage("fr_FR.UTF-8");
        registry = platform::MakeFakeRegistry();
        platform::SetMachineRegistryForTesting(registry.get());
        platform::SetMessageBoxesForTesting(&boxes);
        ResetAppServicesForTesting();
        strings = std::make_unique<mwtest::ScopedSourceStrings>();
    }
    void TearDown() override {
        strings.reset();
        SetRelabelTarget(nullptr);
        platform::SetMessageBoxesForTesting(nullptr);
        platform::SetMachineRegistryForTesting(nullptr);
        ResetAppServicesForTesting();
    }

    void StoreMwLanguage(const platform::RegValue& value) {
        ASSERT_FALSE(registry->CreateKey(uninstallKey));
        ASSERT_FALSE(registry->SetValue(uninstallKey, kMwLanguageValue, value));
    }

    mwtest::EnvGuard env;
    std::unique_ptr<platform::Registry> registry;
    platform::HeadlessMessageBoxes boxes;
    std::unique_ptr<mwtest::ScopedSourceStrings> strings;
};

TEST_F(LanguageTest, TableLookupsOutsideTheTableHaveNoEntry) {
    for (LanguageIndex bad : {-1, 20, 1000}) {
        EXPECT_EQ(FindLanguage(bad), nullptr);
        EXPECT_EQ(LanguageToLangId(bad), 0);
        EXPECT_EQ(FlagIconId(bad), 0u);
        EXPECT_FALSE(IsProductLanguage(bad));
        EXPECT_FALSE(IsInstallerTranslated(bad));
        EXPECT_EQ(LanguageName(bad), "");
    }
    // Every row's product flag agrees with the mask, and the offsets keep
    // the blocks apart.
    std::map<uint32_t, LanguageIndex> offsets;
    for (LanguageIndex i = 0; i < kLanguageCount; ++i) {
        EXPECT_EQ(FindLanguage(i)->product, IsProductLanguage(i)) << i;
        EXPECT_TRUE(offsets.emplace(FindLanguage(i)->offset, i).second) << i;
    }
    EXPECT_EQ(ProductLanguageMask, 0x440BFu);
}

TEST_F(LanguageTest, SelectingALanguageOutsideTheTableChangesNothing) {
    SelectLanguage(2);
    SelectLanguage(20);
    SelectLanguage(-1);
    EXPECT_EQ(CurrentLanguage(), 2);
}

TEST_F(LanguageTest, StateStartsFrenchWithMaskOne) {
    LocaleState& state = GetLocaleState();
    EXPECT_EQ(state.index, 0);
    EXPECT_EQ(state.mask, 1u);
    EXPECT_EQ(state.codePage, 1252u);
    EXPECT_EQ(state.lcid, 1036u);
    EXPECT_EQ(state.resourceModule, nullptr);
}

TEST_F(LanguageTest, SelectLanguageSetsLcidAndCodePage) {
    struct Case {
        const char* userLang;
        LanguageIndex index;
        uint32_t lcid;
        uint32_t codePage;
    };
    const Case cases[] = {
        {"fr_FR", 16, 1037, 1255},
        {"fr_FR", 10, 2052, 936},
        {"fr_FR", 18, 1041, 932},
        {"fr_FR", 14, 1032, 1253},
        {"fr_FR", 7, 1055, 1254},
        {"fr_FR", 9, 1048, 1250},
        {"fr_FR", 8, 1026, 1251},
        {"fr_FR", 17, 1066, 1258},
        // The user's own LCID is kept only when it is exactly the row's.
        {"pt_BR", 4, 2070, 1252},
        {"es_ES", 3, 3082, 1252},
    };
    for (const Case& c : cases) {
        env.SetUserLanguage(c.userLang);
        SelectLanguage(c.index);
        EXPECT_EQ(CurrentLanguage(), c.index);
        EXPECT_EQ(GetLocaleState().lcid, c.lcid) << c.index;
        EXPECT_EQ(GetLocaleState().codePage, c.codePage) << c.index;
    }
}

TEST_F(LanguageTest, LocaleNameUsesTheUsersVariantOfTheSameLanguage) {
    env.SetUserLanguage("de_AT.UTF-8");
    EXPECT_EQ(LocaleNameOfLanguage(2), "de_AT.UTF-8");
    EXPECT_EQ(LocaleNameOfLanguage(0), "fr_FR.UTF-8");
    EXPECT_EQ(LocaleNameOfLanguage(10), "zh_CN.UTF-8");
    env.SetUserLanguage("C");
    EXPECT_EQ(LocaleNameOfLanguage(1), "en_US.UTF-8");
}

TEST_F(LanguageTest, UserDefaultAgainstMasks) {
    struct Case {
        const char* lang;
        LanguageMask mask;
        LanguageIndex expected;
    };
    const Case cases[] = {
        {"nl_NL.UTF-8", ProductLanguageMask, 5},
        {"nl_BE", ProductLanguageMask, 5},
        {"da_DK", ProductLanguageMask, 1},  // not a product language
        {"da_DK", 0xFFFFF, 6},
        {"zh_CN", 0xFFFFF, 10},
        {"zh_SG", 0xFFFFF, 10},
        {"zh_TW", 0xFFFFF, 1},  // traditional Chinese is no row
        {"zh_HK", 0xFFFFF, 1},
        {"zh_MO", 0xFFFFF, 1},
        {"ja_JP", ProductLanguageMask, 18},
        {"ru_RU", ProductLanguageMask, 1},  // outside the table
        {"xx_YY", ProductLanguageMask, 1},
        {"de_DE", 1, 0},  // no English in the mask: French
        {"de_DE", 0, 0},  // 0: the state's mask, which is 1
        {"fr_CA", 0, 0},
        {"pt_BR", ProductLanguageMask, 4},  // any territory of the primary language
        {"es_AR", ProductLanguageMask, 3},
    };
    for (const Case& c : cases) {
        env.SetUserLanguage(c.lang);
        EXPECT_EQ(LanguageFromUserDefault(c.mask), c.expected) << c.lang << " " << c.mask;
    }
}

TEST_F(LanguageTest, EveryLanguageShowsARealTextForEveryCatalogId) {
    const auto& tables = mwtest::SourceStringTables();
    auto text = [&](uint32_t id) {
        auto it = tables.find(id);
        return it == tables.end() ? std::string("<absent>") : it->second;
    };
    for (LanguageIndex language = 0; language < kLanguageCount; ++language) {
        SelectLanguage(language);
        const LanguageIndex shown = IsInstallerTranslated(language) ? language : kEnglish;
        const uint32_t offset = FindLanguage(shown)->offset;
        for (uint32_t baseId : CatalogBaseIds()) {
            SCOPED_TRACE(::testing::Message() << FindLanguage(language)->name << " " << baseId);
            const std::string shownText = LoadCatalogString(baseId);
            EXPECT_NE(shownText, "#");
            EXPECT_NE(shownText, "");
            // Every language's own block holds the id, translated or not.
            EXPECT_NE(text(baseId + FindLanguage(language)->offset), "<absent>");
            if (baseId == 1131) {
                EXPECT_EQ(shownText, kFrench1131);
            } else {
                EXPECT_EQ(ResolveStringId(baseId), baseId + offset);
                EXPECT_EQ(shownText, text(baseId + offset));
            }
        }
    }
}

TEST_F(LanguageTest, TranslatedBlocksMissOnly1131AndUntranslatedOnesHoldOnlyMarkers) {
    const auto& tables = mwtest::SourceStringTables();
    for (LanguageIndex language = 0; language < kLanguageCount; ++language) {
        const LanguageInfo& row = *FindLanguage(language);
        for (uint32_t baseId : CatalogBaseIds()) {
            const std::string& t = tables.at(baseId + row.offset);
            const bool marker = t == "#";
            const bool expectMarker = !row.translated || (baseId == 1131 && language != kFrench);
            EXPECT_EQ(marker, expectMarker) << row.name << " " << baseId;
        }
    }
    // Each inserted argument of the English text is kept in every translation.
    for (LanguageIndex language : {0, 2, 3, 4, 7, 9, 11}) {
        for (uint32_t baseId : CatalogBaseIds()) {
            if (baseId == 1131) continue;
            const std::string& english = tables.at(baseId + 1000);
            const std::string& own = tables.at(baseId + FindLanguage(language)->offset);
            for (const char* insert : {"%1", "%2"}) {
                EXPECT_EQ(english.find(insert) != std::string::npos,
                          own.find(insert) != std::string::npos)
                    << FindLanguage(language)->name << " " << baseId << " " << insert;
            }
        }
    }
}

TEST_F(LanguageTest, EnglishAndFrenchTextsAreExact) {
    SelectLanguage(kEnglish);
    EXPECT_EQ(FormatMessageText(LoadCatalogString(1129), {"Arbolux"}), kEnglish1129);
    EXPECT_EQ(LoadCatalogString(1115), "Copying File  %1...");
    EXPECT_EQ(LoadCatalogString(1014), "Select Installation Langage");
    EXPECT_EQ(LoadCatalogString(1110),
              "Installation is not complete.\r\n\r\nDo you still confirm exit Installation ?");
    EXPECT_EQ(LoadCatalogString(1131), kFrench1131);
    EXPECT_EQ(ResolveStringId(1131), 1131u);
    SelectLanguage(kFrench);
    EXPECT_EQ(LoadCatalogString(1110),
              "L'installation n'est pas achevée.\r\n\r\nÊtes-vous certain de vouloir quitter "
              "l'installeur ?");
    EXPECT_EQ(LoadCatalogString(1012), "Échec");
    // A no-break space before the colon, as French typesetting wants.
    EXPECT_EQ(LoadCatalogString(1112), "Créer un raccourci dans le menu suivant\u00a0:");
    EXPECT_EQ(LoadCatalogString(1123), "Dossier d'installation\u00a0: %1.");
    EXPECT_EQ(LoadCatalogString(1104), "Souhaitez-vous vraiment effectuer une réinstallation ?");
    EXPECT_EQ(ResolveStringId(1012), 1012u);
}

TEST_F(LanguageTest, FallbackChainWithMissingTexts) {
    // German 3003 "#": English; German and English "#": French; German text
    // absent altogether: treated as missing, not shown empty.
    std::map<uint32_t, std::string> table = {
        {1003, "fr3"}, {2003, "en3"}, {3003, "#"},   {1004, "fr4"}, {2004, "#"},
        {3004, "#"},   {1005, "fr5"}, {2005, "en5"}, {1006, "fr6"}, {2006, "#"},
    };
    SetStringSourceForTesting([&](uint32_t id) -> std::optional<std::string> {
        auto it = table.find(id);
        if (it == table.end()) return std::nullopt;
        return it->second;
    });
    SelectLanguage(2);
    EXPECT_EQ(LoadCatalogString(1003), "en3");
    EXPECT_EQ(LoadCatalogString(1004), "fr4");
    EXPECT_EQ(LoadCatalogString(1005), "en5");
    EXPECT_EQ(LoadCatalogString(1006), "fr6");
    SelectLanguage(kEnglish);
    EXPECT_EQ(LoadCatalogString(1006), "fr6");
    SelectLanguage(kFrench);  // French is read as it is, even when absent
    EXPECT_EQ(ResolveStringId(1007), 1007u);
    EXPECT_EQ(LoadCatalogString(1007), "");
}

struct StartCase {
    const char* name;
    const char* userLang;
    std::optional<platform::RegValue> mwLanguage;
    LanguageIndex expected;
    const char* title;
};

platform::RegValue Raw(platform::RegType type, std::vector<uint8_t> data) {
    return platform::RegValue{type, std::move(data)};
}

TEST_F(LanguageTest, LanguageAtStart) {
    using platform::RegType;
    using platform::RegValue;
    const std::string en = "Installer \u2013 Arbolux 7.13c";
    const StartCase cases[] = {
        {"Dutch user: English before any message", "nl_NL.UTF-8", {}, 1, en.c_str()},
        {"Danish user: not a product language", "da_DK", {}, 1, en.c_str()},
        {"traditional Chinese user", "zh_TW", {}, 1, en.c_str()},
        {"Japanese user: product language, not translated", "ja_JP", {}, 1, en.c_str()},
        {"Romanian user: translated but no product language", "ro_RO", {}, 1, en.c_str()},
        {"C locale", "C", {}, 1, en.c_str()},
        {"French user", "fr_FR", {}, 0, "Installeur \u2013 Arbolux 7.13c"},
        {"German user", "de_DE", {}, 2, "Installationsprogramm \u2013 Arbolux 7.13c"},
        {"Turkish user", "tr_TR", {}, 7, "Kurulum Programı \u2013 Arbolux 7.13c"},
        {"stored Greek, then English", "de_DE", RegValue::Dword(14), 1, en.c_str()},
        {"stored Romanian is no product language", "de_DE", RegValue::Dword(9), 2, nullptr},
        {"stored Spanish wins", "de_DE", RegValue::Dword(3), 3, nullptr},
        {"stored French wins", "en_GB", RegValue::Dword(0), 0, nullptr},
        {"stored value out of range", "de_DE", RegValue::Dword(20), 2, nullptr},
        {"stored -1", "de_DE", RegValue::Dword(0xFFFFFFFF), 2, nullptr},
        {"stored as text", "de_DE", RegValue::String("3"), 2, nullptr},
        {"stored with 8 bytes", "de_DE", Raw(RegType::Qword, {3, 0, 0, 0, 0, 0, 0, 0}), 2, nullptr},
        {"stored with 2 bytes", "de_DE", Raw(RegType::Dword, {3, 0}), 2, nullptr},
        {"stored Portuguese for a Danish user", "da_DK", RegValue::Dword(4), 4, nullptr},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        registry = platform::MakeFakeRegistry();
        platform::SetMachineRegistryForTesting(registry.get());
        if (c.mwLanguage) StoreMwLanguage(*c.mwLanguage);
        env.SetUserLanguage(c.userLang);
        ResetLocaleStateForTesting();
        ChooseLanguageAtStart();
        EXPECT_EQ(CurrentLanguage(), c.expected);
        if (c.title) {
            EXPECT_EQ(AppTitle(), c.title);
        }
        EXPECT_TRUE(IsInstallerTranslated(CurrentLanguage()));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(LanguageTest, DutchUserReadsTheFirstMessagesInEnglish) {
    env.SetUserLanguage("nl_NL.UTF-8");
    ChooseLanguageAtStart();
    EXPECT_EQ(LoadCatalogString(1126),
              "You should have Administrator Rights in order to proceed to Installation.");
    EXPECT_EQ(FormatMessageText(LoadCatalogString(1127), {"Arbolux"}),
              "You should close 'Arbolux' before continuing Installation.");
}

class CountingRelabel : public IRelabel {
public:
    void Relabel() override {
        ++calls;
        languageSeen = CurrentLanguage();
        titleSeen = AppTitle();
    }
    int calls = 0;
    LanguageIndex languageSeen = -1;
    std::string titleSeen;
};

TEST_F(LanguageTest, ChoosingALanguageInTheList) {
    struct Case {
        LanguageIndex chosen;
        bool box;
        LanguageIndex current;
        const char* title;
    };
    const Case cases[] = {
        {18, true, 1, "Installer \u2013 Arbolux 7.13c"},  // Japanese
        {5, true, 1, "Installer \u2013 Arbolux 7.13c"},   // Dutch
        {8, true, 1, "Installer \u2013 Arbolux 7.13c"},   // Bulgarian
        {2, false, 2, "Installationsprogramm \u2013 Arbolux 7.13c"},
        {9, false, 9, "Program de instalare \u2013 Arbolux 7.13c"},  // no product language
        {0, false, 0, "Installeur \u2013 Arbolux 7.13c"},
        {11, false, 11, "Programma di installazione \u2013 Arbolux 7.13c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        SelectLanguage(3);
        SetAppTitle("previous title");
        boxes.shown.clear();
        CountingRelabel relabel;
        SetRelabelTarget(&relabel);
        OnLanguageChosen(c.chosen);
        EXPECT_EQ(CurrentLanguage(), c.current);
        EXPECT_EQ(AppTitle(), c.title);
        EXPECT_EQ(relabel.calls, 1);
        EXPECT_EQ(relabel.languageSeen, c.current);
        EXPECT_EQ(relabel.titleSeen, c.title);
        ASSERT_EQ(boxes.shown.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes.shown[0].text, kEnglish1129);
            EXPECT_EQ(boxes.shown[0].type, platform::mb::IconInformation);
            EXPECT_EQ(boxes.shown[0].caption, "previous title");
        }
    }
}

TEST_F(LanguageTest, ChoosingAnIndexOutsideTheTableIsIgnored) {
    SelectLanguage(2);
    CountingRelabel relabel;
    SetRelabelTarget(&relabel);
    OnLanguageChosen(20);
    EXPECT_EQ(CurrentLanguage(), 2);
    EXPECT_EQ(relabel.calls, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(LanguageTest, TitleNamesAndDirection) {
    SelectLanguage(2);
    EXPECT_EQ(BuildTitle(false), "Installationsprogramm");
    SelectLanguage(14);  // untranslated: English
    EXPECT_EQ(BuildTitle(false), "Installer");
    EXPECT_EQ(BuildTitle(true), "Installer \u2013 Arbolux 7.13c");
    EXPECT_EQ(LanguageName(0), "Français");
    EXPECT_EQ(LanguageName(10), "中文（简体）");
    EXPECT_EQ(LanguageName(16), "עברית");
    for (LanguageIndex i = 0; i < kLanguageCount; ++i) {
        EXPECT_EQ(IsRightToLeft(i), i == 16) << i;
        EXPECT_NE(LanguageName(i), "") << i;
    }
}

TEST_F(LanguageTest, ProcessLocaleSetUpSucceedsEvenForLocalesTheSystemLacks) {
    for (const char* lang : {"fr_FR.UTF-8", "C", "xx_YY", "ja_JP.eucJP"}) {
        env.SetUserLanguage(lang);
        EXPECT_TRUE(SetUpProcessLocale()) << lang;
        EXPECT_EQ(getenv("LC_ALL"), nullptr);
    }
}

TEST(FormatMessageText, Inserts) {
    struct Case {
        const char* text;
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {"Update from '%1' to '%2'.", {"7.13b", "7.13c"}, "Update from '7.13b' to '7.13c'."},
        {"%2 before %1", {"a", "b"}, "b before a"},
        {"%1%1", {"x"}, "xx"},
        {"%3 stays", {"a"}, "%3 stays"},  // no third argument
        {"100% sure, %", {}, "100% sure, %"},
        {"%10", {"a"}, "a0"},  // one digit only
        {"%0", {"a"}, "%0"},
        {"%1", {"%2"}, "%2"},  // inserted text is not read again
        {"%9", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, "9"},
        {"", {"a"}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatMessageText(c.text, c.args), c.expected) << c.text;
    }
    EXPECT_EQ(FormatMessageText("'%1' Installation.", {"Arbolux"}), "'Arbolux' Installation.");
}

}  // namespace
}  // namespace mw
