#include "app/version_info.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "app/languages.hpp"
#include "platform/resource_writer.hpp"
#include "platform/roots.hpp"
#include "support/test_env.hpp"

namespace mp = mw::platform;
using mw::VersionInfo;

namespace {

mp::VersionDescription Described(std::vector<std::pair<std::string, std::string>> strings,
                                 std::vector<std::pair<uint16_t, uint16_t>> translations = {
                                     {0x0400, 1200}}) {
    mp::VersionDescription d;
    d.fixed->fileVersionMS = 0x0007000D;
    d.fixed->fileVersionLS = 0x00030001;
    for (auto [language, codePage] : translations) {
        char key[9];
        std::snprintf(key, sizeof key, "%04x%04x", language, codePage);
        d.stringTables.push_back({key, strings});
    }
    d.translations = translations;
    return d;
}

VersionInfo Info(const mp::VersionDescription& d) {
    return VersionInfo(mp::BuildVersionResource(d));
}

}  // namespace

TEST(VersionInfo, EmptyWhenThereIsNothingToRead) {
    VersionInfo empty;
    EXPECT_EQ(empty.Version(), 0u);
    EXPECT_EQ(empty.Flags(), 0u);
    EXPECT_EQ(empty.String("ProductName"), "");
    EXPECT_EQ(empty.ProductText(false), "");
    EXPECT_TRUE(empty.TranslationKeys().empty());

    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "plain", "no bundle here");
    mp::ResourceMap noVersion;
    noVersion[{mp::rt::Manifest, 1, 0}] = {std::byte{'x'}};
    mwtest::WriteFile(dir / "other", "program");
    ASSERT_FALSE(mp::WriteResources(dir / "other", noVersion));
    mwtest::WriteFile(dir / "damaged", std::string(16, 'x') + "MWRSRC\x01\n");
    for (const char* name : {"missing", "plain", "other", "damaged"}) {
        VersionInfo v = VersionInfo::OfFile(dir / name);
        EXPECT_TRUE(v.Block().empty()) << name;
        EXPECT_EQ(v.Version(), 0u) << name;
    }
    // A block without fixed information: strings still work, version is 0.
    auto d = Described({{"ProductName", "X"}});
    d.fixed.reset();
    VersionInfo noFixed = Info(d);
    EXPECT_EQ(noFixed.Version(), 0u);
    EXPECT_EQ(noFixed.String("ProductName"), "X");
}

TEST(VersionInfo, TranslationKeysOnlyForCodePage1200) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint16_t, uint16_t>> translations;
        std::vector<std::string> keys;
        std::string productName;  // of the first key's table
    };
    const Case cases[] = {
        {"neutral Unicode", {{0x0400, 1200}}, {"040004b0"}, "Arbolux"},
        {"only 1252", {{0x0409, 1252}}, {}, ""},
        {"1252 first, then 1200", {{0x0409, 1252}, {0x040C, 1200}}, {"040c04b0"}, "Arbolux"},
        {"two Unicode ones", {{0x0C0A, 1200}, {0x0400, 1200}}, {"0c0a04b0", "040004b0"}, "Arbolux"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VersionInfo v = Info(Described({{"ProductName", "Arbolux"}}, c.translations));
        EXPECT_EQ(v.TranslationKeys(), c.keys);
        EXPECT_EQ(v.String("ProductName"), c.productName);
        EXPECT_EQ(v.Version(), mw::productRelease) << "the version never needs a translation";
    }
}

TEST(VersionInfo, TerminatingZeroIsNotPartOfTheText) {
    for (bool terminate : {true, false}) {
        SCOPED_TRACE(terminate);
        auto d = Described({{"ProductName", "Arbolux"}, {"Accented", "bêta"}, {"Empty", ""}});
        d.terminateStrings = terminate;
        VersionInfo v = Info(d);
        EXPECT_EQ(v.String("ProductName"), "Arbolux");
        EXPECT_EQ(v.String("Accented"), "bêta");
        EXPECT_EQ(v.String("Empty"), "");
        EXPECT_EQ(v.String("Missing"), "");
        EXPECT_EQ(v.String("productname"), "Arbolux");
    }
}

TEST(VersionInfo, ProductTextRules) {
    using namespace mp::vs_ff;
    struct Case {
        std::string name, version;
        uint32_t flags, mask;
        bool french;
        std::string expected;
    };
    const Case cases[] = {
        {"Install", "2.04a", 0, 0x3F, false, "Install 2.04a"},
        {"Arbolux", "", 0, 0x3F, false, "Arbolux"},
        {"", "7.14", 0, 0x3F, false, " 7.14"},
        {"Arbolux", "7.14 bêta", PreRelease, 0x3F, false, "Arbolux 7.14 beta"},
        {"Arbolux", "7.14 bêta", PreRelease, 0x3F, true, "Arbolux 7.14 bêta"},
        {"Arbolux bêta", "7 bêta", PreRelease, 0x3F, false, "Arbolux bêta 7 beta"},
        {"Arbolux", "7.14 bêta", 0, 0x3F, false, "Arbolux 7.14 bêta"},
        {"Arbolux", "7.14 bêta", PreRelease, 0x01, false, "Arbolux 7.14 bêta"},  // masked out
        {"Arbolux", "7", PrivateBuild, 0x3F, false, "Arbolux 7 \u2013 Private"},
        {"Arbolux", "7", Debug | PrivateBuild | PreRelease, 0x3F, true,
         "Arbolux 7 \u2013 Private \u2013 Debug"},
        {"Arbolux", "7", Patched, 0x3F, false, "Arbolux 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        auto d = Described({{"ProductName", c.name}, {"ProductVersion", c.version}});
        d.fixed->fileFlags = c.flags;
        d.fixed->fileFlagsMask = c.mask;
        VersionInfo v = Info(d);
        EXPECT_EQ(v.Flags(), c.flags & c.mask);
        EXPECT_EQ(v.ProductText(c.french), c.expected);
    }
}

TEST(VersionInfo, ProductTextFollowsTheInterfaceLanguage) {
    auto d = Described({{"ProductName", "Arbolux"}, {"ProductVersion", "7.14 bêta"}});
    d.fixed->fileFlags = mp::vs_ff::PreRelease;
    VersionInfo v = Info(d);
    mw::ResetLocaleStateForTesting();
    EXPECT_EQ(v.ProductText(), "Arbolux 7.14 bêta") << "the process starts in French";
    mw::SelectLanguage(1);
    EXPECT_EQ(v.ProductText(), "Arbolux 7.14 beta");
    mw::SelectLanguage(2);
    EXPECT_EQ(v.ProductText(), "Arbolux 7.14 beta");
    mw::SelectLanguage(0);
    EXPECT_EQ(v.ProductText(), "Arbolux 7.14 bêta");
    mw::ResetLocaleStateForTesting();
}

TEST(Identity, ApplicationIdFallsBackStepByStep) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> strings;
        uint16_t codePage;
        std::string path, expected;
    };
    const Case cases[] = {
        {{{"ApplicationId", "Arbolux7"}, {"ProductName", "Install"}},
         1200,
         "/x/InstallArbolux7.13c",
         "Arbolux7"},
        {{{"ProductName", "Install"}}, 1200, "/x/InstallArbolux7.13c", "Install"},
        {{{"ApplicationId", ""}, {"ProductName", ""}},
         1200,
         "/x/InstallArbolux7.13c",
         "InstallArbolux7.13c"},
        {{{"ApplicationId", "Arbolux7"}},
         1252,
         "/opt/Arbolux.exe",
         "Arbolux"},  // no usable translation
        {{}, 1200, "Setup.EXE", "Setup"},
        {{}, 1200, "/a.b/prog", "prog"},
        {{}, 1200, "/bin/.exe", ".exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        VersionInfo v = Info(Described(c.strings, {{0x0400, c.codePage}}));
        EXPECT_EQ(mw::DetermineApplicationId(v, c.path), c.expected);
    }
    EXPECT_EQ(mw::DetermineApplicationId(VersionInfo{}, "/usr/bin/tool"), "tool");
}

TEST(Identity, NamesAndPlaces) {
    EXPECT_EQ(mw::ProductKeyName(mw::productCode), "Arbolux 7");
    EXPECT_EQ(mw::ProductKeyName(1030), "");
    EXPECT_EQ(mw::ProductDisplayName(true), "Arbolux");
    EXPECT_EQ(mw::ProductDisplayName(false), "Arbolux 7.13c");
    // The registry places are formed from the names.
    EXPECT_EQ(mw::uninstallKey,
              std::string(mw::uninstallRootKey) + "\\" + mw::ProductKeyName(mw::productCode));
    EXPECT_EQ(mw::makerKey, "Software\\" + std::string(mw::makerName));
    EXPECT_EQ(mw::installPathValue, mw::ProductKeyName(mw::productCode) + " Path");
    EXPECT_EQ(mw::productRelease >> 32, 0x0007000Du);
}

TEST(InstallSettings, GetPreviousState) {
    using S = mw::PreviousInstallState;
    for (S state : {S::None, S::SameVersion, S::OlderVersion, S::NewerVersion}) {
        mw::InstallSettings settings;
        settings.previousState = state;
        settings.previousVersionText = "Arbolux 7.14";
        EXPECT_EQ(settings.GetPreviousState(nullptr), state);
        std::string holder = "untouched";
        EXPECT_EQ(settings.GetPreviousState(&holder), state);
        bool copies = state == S::OlderVersion || state == S::NewerVersion;
        EXPECT_EQ(holder, copies ? "Arbolux 7.14" : "untouched") << int(state);
    }
    EXPECT_EQ(static_cast<int32_t>(S::NewerVersion), -1);
}

namespace {
std::string FakeFolders(int csidl) {
    switch (csidl) {
        case mp::csidl::ProgramFiles:
            return "/pf";
        case mp::csidl::CommonPrograms:
            return "/common/programs/";
        case mp::csidl::Programs:
            return "/home/u/programs";
    }
    return {};
}
std::string NoCommonPrograms(int csidl) {
    return csidl == mp::csidl::CommonPrograms ? "" : FakeFolders(csidl);
}
std::string NoFolders(int) {
    return {};
}
}  // namespace

TEST(InstallSettings, DefaultFolders) {
    struct Case {
        const char* what;
        mw::SpecialFolderFn folders;
        std::string install, startMenu;
    };
    const Case cases[] = {
        {"all folders", FakeFolders, "/pf/Meridan Works/Arbolux 7",
         "/common/programs/Meridan Works/Arbolux 7"},
        {"no common programs", NoCommonPrograms, "/pf/Meridan Works/Arbolux 7",
         "/home/u/programs/Meridan Works/Arbolux 7"},
        {"no folders at all", NoFolders, "Meridan Works/Arbolux 7", "Meridan Works/Arbolux 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mw::InstallSettings s;
        s.advancedInstall = true;
        mw::ApplyDefaultFolders(s, c.folders);
        EXPECT_EQ(s.installFolder, c.install);
        EXPECT_EQ(s.startMenuFolder, c.startMenu);
        EXPECT_TRUE(s.startMenuShortcut);
        EXPECT_TRUE(s.desktopShortcut);
        EXPECT_FALSE(s.advancedInstall);
    }
    // Folders of an earlier installation stay; the choices are reset anyway.
    mw::InstallSettings earlier;
    earlier.installFolder = "/elsewhere/Arbolux";
    earlier.startMenuFolder = "/menu/Arbolux";
    earlier.desktopShortcut = false;
    mw::ApplyDefaultFolders(earlier, FakeFolders);
    EXPECT_EQ(earlier.installFolder, "/elsewhere/Arbolux");
    EXPECT_EQ(earlier.startMenuFolder, "/menu/Arbolux");
    EXPECT_TRUE(earlier.desktopShortcut);
    EXPECT_TRUE(earlier.startMenuShortcut);
}

TEST(InstallSettings, DefaultFoldersUnderTheMachineRoot) {
    mwtest::ScratchDir root;
    const char* old = getenv("MW_ROOT");
    std::string saved = old ? old : "";
    setenv("MW_ROOT", root.path().c_str(), 1);
    mp::ResetRootsForTesting();
    mw::InstallSettings s;
    mw::ApplyDefaultFolders(s);
    EXPECT_EQ(s.installFolder, root / "opt/Meridan Works/Arbolux 7");
    EXPECT_EQ(s.startMenuFolder, root / "usr/local/share/applications/Meridan Works/Arbolux 7");
    if (old) {
        setenv("MW_ROOT", saved.c_str(), 1);
    } else {
        unsetenv("MW_ROOT");
    }
    mp::ResetRootsForTesting();
}
