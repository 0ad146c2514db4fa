// Destination tokens against a staged machine root and a scratch home.
#include "engine/tokens.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "engine/compress_error.hpp"
#include "platform/roots.hpp"
#include "support/test_env.hpp"

namespace mw {
namespace {

namespace fs = std::filesystem;

class Tokens : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = scratch_ / "home";
        fs::create_directories(home_);
        setenv("MW_ROOT", "/stage", 1);
        setenv("HOME", home_.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        unsetenv("PKEXEC_UID");
        unsetenv("SUDO_UID");
        platform::ResetRootsForTesting();
    }
    void TearDown() override {
        unsetenv("MW_ROOT");
        platform::ResetRootsForTesting();
    }

    mwtest::ScratchDir scratch_;
    std::string home_;
    DestinationFolders folders_{"/opt/Meridan Works/Arbolux 7", "Arbolux Examples", "/tmp/mwwork"};
};

bool IsUnexpected(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::system_error& e) {
        return e.code() == CompressError::UnexpectedError;
    }
    return false;
}

TEST_F(Tokens, TheThirteenTokensAndPlainTexts) {
    const std::string install = folders_.installFolder;
    struct Case {
        std::string directory;
        std::string result;
        std::vector<std::string> listed;
    } cases[] = {
        {"<InstallPath>\\Lang", install + "/Lang", {}},
        {"<InstallPath>", install, {}},
        {"<SamplePath>", home_ + "/Desktop/Arbolux Examples", {}},
        {"<ProgramFiles>\\Meridan Works", "/stage/opt/Meridan Works", {}},
        {"<ProgramCommon>/Meridan Works", "/stage/usr/local/lib/Meridan Works", {}},
        {"<CommonData>\\Meridan Works\\Textures\\Arbolux",
         "/stage/var/opt/Meridan Works/Textures/Arbolux",
         {"/stage/var/opt/Meridan Works", "/stage/var/opt/Meridan Works/Textures",
          "/stage/var/opt/Meridan Works/Textures/Arbolux"}},
        {"<CommonData>", "/stage/var/opt", {}},  // the base folder itself is never listed
        {"<UserData>\\Meridan Works\\Arbolux", home_ + "/.local/share/Meridan Works/Arbolux", {}},
        // The all-user documents and desktop have no Linux counterpart: the
        // user's own folders stand in, and are not opened to the others.
        {"<CommonDocuments>\\Arbolux", home_ + "/Documents/Arbolux", {}},
        {"<Documents>\\Arbolux", home_ + "/Documents/Arbolux", {}},
        {"<CommonDesktop>\\Arbolux", home_ + "/Desktop/Arbolux", {}},
        {"<Desktop>", home_ + "/Desktop", {}},
        {"<Temporary>", "/tmp/mwwork", {}},
        {"<Temporary>\\DirectX", "/tmp/mwwork/DirectX", {}},
        // Mixed and repeated separators.
        {"<CommonData>/A\\\\B/", "/stage/var/opt/A/B", {"/stage/var/opt/A", "/stage/var/opt/A/B"}},
        // Not tokens: other capitals, unknown names.
        {"<installpath>\\Lang", "Lang", {}},
        {"<INSTALLPATH>", "", {}},
        {"<Unknown>\\a\\b", "a/b", {}},
        {"<>\\a", "a", {}},
        // No token: as it is, with '/' between the elements.
        {"Sub\\Dir", "Sub/Dir", {}},
        {"/data/Arbolux", "/data/Arbolux", {}},
        {"\\<InstallPath>\\x", "/<InstallPath>/x", {}},
        {"", "", {}},
        {"x<InstallPath>", "x<InstallPath>", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        std::vector<std::string> listed;
        EXPECT_EQ(ResolveDestination(c.directory, folders_, listed), c.result);
        EXPECT_EQ(listed, c.listed);
    }
}

TEST_F(Tokens, SamplePathRules) {
    struct Case {
        std::string sampleName, directory, result;
    } cases[] = {
        {"", "<SamplePath>", home_ + "/Desktop"},
        {"", "<SamplePath>\\Sub", home_ + "/Desktop/Sub"},
        {"Arbolux Examples", "<SamplePath>\\Sub", home_ + "/Desktop/Arbolux Examples/Sub"},
        {"/srv/examples", "<SamplePath>\\a", "/srv/examples/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sampleName + " | " + c.directory);
        DestinationFolders f = folders_;
        f.sampleFolderName = c.sampleName;
        std::vector<std::string> listed;
        EXPECT_EQ(ResolveDestination(c.directory, f, listed), c.result);
        EXPECT_TRUE(listed.empty());
    }
    DestinationFolders f = folders_;
    f.sampleFolderName = "../../etc";
    std::vector<std::string> listed;
    EXPECT_TRUE(IsUnexpected([&] { ResolveDestination("<SamplePath>", f, listed); }));
}

TEST_F(Tokens, TemporaryFallsBackOnTheInstallFolder) {
    DestinationFolders f = folders_;
    f.tempFolder.clear();
    std::vector<std::string> listed;
    EXPECT_EQ(ResolveDestination("<Temporary>\\x", f, listed), f.installFolder + "/x");
    f.installFolder.clear();
    EXPECT_TRUE(IsUnexpected([&] { ResolveDestination("<Temporary>", f, listed); }));
}

TEST_F(Tokens, UnknownFoldersAndUnsoundTextsAreUnexpectedErrors) {
    struct Case {
        std::string installFolder, directory;
    } cases[] = {
        {"/opt/A", "<WinDir>\\Fonts"},    {"/opt/A", "<System>"},
        {"", "<InstallPath>\\Lang"},      {"opt/A", "<InstallPath>"},
        {"/opt/../etc", "<InstallPath>"}, {"/opt/A", "<InstallPath>\\..\\..\\etc"},
        {"/opt/A", "<CommonData>\\.\\x"}, {"/opt/A", "<UserData>/a/../../.."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installFolder + " | " + c.directory);
        DestinationFolders f = folders_;
        f.installFolder = c.installFolder;
        std::vector<std::string> listed;
        EXPECT_TRUE(IsUnexpected([&] { ResolveDestination(c.directory, f, listed); }));
        EXPECT_TRUE(listed.empty());
    }
    EXPECT_TRUE(IsUnexpected([] { ShellFolder(platform::csidl::Windows, 0, false); }));
    EXPECT_TRUE(IsUnexpected(
        [] { ShellFolder(platform::csidl::CommonDocuments, platform::csidl::Personal, false); }));
    EXPECT_EQ(ShellFolder(platform::csidl::CommonDocuments, platform::csidl::Personal, true),
              home_ + "/Documents");
    EXPECT_EQ(ShellFolder(platform::csidl::CommonAppData, platform::csidl::AppData, true),
              "/stage/var/opt");
}

TEST_F(Tokens, ASharedFolderIsListedOnce) {
    std::vector<std::string> listed;
    ResolveDestination("<CommonData>\\Meridan Works\\Textures", folders_, listed);
    ResolveDestination("<CommonData>\\Meridan Works\\Textures\\Arbolux", folders_, listed);
    ResolveDestination("<CommonData>/Meridan Works/Textures/Arbolux", folders_, listed);
    // Folders that do not exist yet compare without regard to case.
    ResolveDestination("<CommonData>\\MERIDAN WORKS", folders_, listed);
    EXPECT_EQ(listed, (std::vector<std::string>{"/stage/var/opt/Meridan Works",
                                                "/stage/var/opt/Meridan Works/Textures",
                                                "/stage/var/opt/Meridan Works/Textures/Arbolux"}));
}

TEST_F(Tokens, FileNames) {
    struct Case {
        std::string source, name;
    } cases[] = {
        {"Lang\\fr.dll", "fr.dll"},
        {"a/b\\c.txt", "c.txt"},
        {"c.txt", "c.txt"},
        {"a\\b/c", "c"},
        {"..x", "..x"},
        {"a\\ name ", " name "},
    };
    for (const auto& c : cases) EXPECT_EQ(DestinationFileName(c.source), c.name) << c.source;
    for (const char* bad : {"", "dir\\", "dir/", ".", "..", "a\\..", "a/."})
        EXPECT_TRUE(IsUnexpected([&] { DestinationFileName(bad); })) << bad;

    std::vector<std::string> listed;
    EXPECT_EQ(ResolveEntryDestination("<InstallPath>\\Lang", "src\\Lang\\fr.dll", folders_, listed),
              folders_.installFolder + "/Lang/fr.dll");
    EXPECT_EQ(
        ResolveEntryDestination("<CommonData>\\Meridan Works", "x/settings.dat", folders_, listed),
        "/stage/var/opt/Meridan Works/settings.dat");
    EXPECT_EQ(listed, std::vector<std::string>{"/stage/var/opt/Meridan Works"});
    EXPECT_TRUE(IsUnexpected(
        [&] { ResolveEntryDestination("<InstallPath>", "evil\\..", folders_, listed); }));
}

TEST(MatchToken, ExactSpellingOnly) {
    EXPECT_EQ(MatchToken("<CommonData>"), DestinationToken::CommonData);
    EXPECT_EQ(TokenText(DestinationToken::Temporary), "<Temporary>");
    EXPECT_EQ(MatchToken("<commondata>"), std::nullopt);
    EXPECT_EQ(MatchToken("<CommonData> "), std::nullopt);
    EXPECT_EQ(MatchToken("CommonData"), std::nullopt);
    int n = 0;
    for (auto t :
         {DestinationToken::InstallPath, DestinationToken::SamplePath,
          DestinationToken::ProgramFiles, DestinationToken::ProgramCommon,
          DestinationToken::CommonData, DestinationToken::UserData,
          DestinationToken::CommonDocuments, DestinationToken::Documents,
          DestinationToken::CommonDesktop, DestinationToken::Desktop, DestinationToken::WinDir,
          DestinationToken::System, DestinationToken::Temporary}) {
        EXPECT_EQ(MatchToken(TokenText(t)), t);
        ++n;
    }
    EXPECT_EQ(n, 13);
}

TEST(SameFolder, TextsObjectsOrNormalisedNames) {
    mwtest::ScratchDir dir;
    fs::create_directories(dir / "real/sub");
    fs::create_directories(dir / "Other");
    const std::string d = dir.path();
    EXPECT_TRUE(SameFolder(d + "/real", d + "/real"));
    EXPECT_TRUE(SameFolder(d + "/real", d + "//real/"));
    // The file system decides once one of them exists.
    EXPECT_FALSE(SameFolder(d + "/real", d + "/REAL"));
    EXPECT_FALSE(SameFolder(d + "/other", d + "/Other"));
    EXPECT_FALSE(SameFolder(d + "/real", d + "/Other"));
    if (geteuid() == 0) {
        // A link only root could have made is followed on the way.
        fs::create_directory_symlink(d + "/real", d + "/alias");
        EXPECT_TRUE(SameFolder(d + "/alias/sub", d + "/real/sub"));
    }
    // Neither exists: normalised names, compared ignoring case.
    EXPECT_TRUE(SameFolder(d + "/nope/A/./b", d + "/NOPE/a/x/../B"));
    EXPECT_TRUE(SameFolder(d + "/nope/Ä", d + "/nope/ä"));
    EXPECT_FALSE(SameFolder(d + "/nope/a", d + "/nope/a/b"));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_TRUE(SameFolder("no-such-rel/x", std::string(cwd) + "/No-Such-Rel/X"));
}

}  // namespace
}  // namespace mw
