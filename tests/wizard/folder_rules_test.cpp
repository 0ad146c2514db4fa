// The chooser's rules without a dialog: matching the product folder at the
// end of a clicked folder, the start folder, and checking typed paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/errors.hpp"
#include "platform/folder_listing.hpp"
#include "platform/roots.hpp"
#include "support/test_env.hpp"
#include "wizard/folder_browser.hpp"

namespace mw {
namespace {

TEST(TrailingMatch, CountsTheTailWhenAllOfItMatches) {
    struct Case {
        const char* path;
        const char* tail;
        int expected;
    } cases[] = {
        {"/opt/Meridan Works/Arbolux 7", "Arbolux 7", 1},
        {"/opt/Meridan Works/Arbolux 7/", "Arbolux 7/", 1},
        {"/opt/Meridan Works/ARBOLUX 7", "Arbolux 7", 1},  // case does not count
        {"/opt/Meridan Works/Arbolux 7", "Meridan Works/Arbolux 7", 2},
        {"/opt/Meridan Works", "Meridan Works/Arbolux 7", 0},
        {"/opt/Arbolux 7x", "Arbolux 7", 0},
        {"/Arbolux 7", "Arbolux 7", 1},  // the root is an element of its own
        {"/", "Arbolux 7", 0},
        {"Arbolux 7", "Arbolux 7", 0},         // a single element never matches
        {"/a/Arbolux 7", "x/a/Arbolux 7", 0},  // the path runs out first
        {"/opt/Arbolux 7", "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrailingMatch(c.path, c.tail), c.expected) << c.path << " | " << c.tail;
    }
    EXPECT_EQ(TrailingMatch("/" + std::string(300, 'a') + "/Arbolux 7", "Arbolux 7"), 0);
}

TEST(FolderPaths, RelativeCombineAndCanonical) {
    EXPECT_EQ(CanonicalFolder("/opt/./x/../y/"), "/opt/y");
    EXPECT_EQ(CanonicalFolder("/"), "/");
    EXPECT_EQ(RelativeFolderPath("/usr/local/share", "/usr/local/share/applications/M/A"),
              "applications/M/A");
    EXPECT_EQ(RelativeFolderPath("/usr/local/share", "/usr/local/share/"), "");
    EXPECT_EQ(RelativeFolderPath("/usr/local/share", "/opt/x"), "../../../opt/x");
    EXPECT_EQ(RelativeFolderPath("/usr/local/share", "relative"), std::nullopt);
    EXPECT_EQ(CombineFolderPath("/usr/local/share", "applications/M"),
              "/usr/local/share/applications/M");
    EXPECT_EQ(CombineFolderPath("/usr/local/share", ""), "/usr/local/share");
    EXPECT_EQ(CombineFolderPath("/usr/local/share", "/opt/x"), "/opt/x");
    EXPECT_EQ(CombineFolderPath("/usr/local/share", "../x"), "/usr/local/x");
}

TEST(PathText, WildCardsAndInvalidCharactersAreRefused) {
    for (const char* bad :
         {"a*b", "a?", "a\"b", "a<b", "a>b", "a|b", "a\nb", "a\rb", "a\tb", "a\x7f"}) {
        EXPECT_FALSE(IsValidPathText(bad)) << bad;
    }
    EXPECT_TRUE(IsValidPathText("/opt/Meridan Works/Arbolux 7: été"));
    EXPECT_EQ(FolderTextLength("été"), 3u);
}

TEST(ChooserStart, SubfolderAppendedOnceAndRelativeStartIgnored) {
    struct Case {
        const char* start;
        const char* subfolder;
        const char* expected;
    } cases[] = {
        {"/opt", "Arbolux 7", "/opt/Arbolux 7"},
        {"/", "Arbolux 7", "/Arbolux 7"},  // the root of the file system
        {"/opt/Arbolux 7", "Arbolux 7", "/opt/Arbolux 7"},
        {"/opt/ARBOLUX 7/", "Arbolux 7", "/opt/ARBOLUX 7/"},  // nothing to do, nothing changed
        {"/opt", "Meridan Works/Arbolux 7", "/opt/Meridan Works/Arbolux 7"},
        {"/opt/Meridan Works", "Meridan Works/Arbolux 7", "/opt/Meridan Works/Arbolux 7"},
        {"/opt/Meridan Works/Arbolux 7", "Meridan Works/Arbolux 7", "/opt/Meridan Works/Arbolux 7"},
        {"/opt", "", "/opt"},
        {"/opt", "Arbolux*", "/opt"},  // a wild card: no subfolder at all
    };
    for (const Case& c : cases) {
        FolderBrowser browser("");
        browser.SetStart(c.start, c.subfolder);
        EXPECT_EQ(browser.currentPath(), c.expected) << c.start << " | " << c.subfolder;
    }
}

TEST(ChooserStart, RelativeOrEmptyStartOpensAtTheRootElseDocuments) {
    mwtest::ScratchDir dir;
    std::filesystem::create_directories(dir / "share/applications");
    FolderBrowser rooted("");
    rooted.SetRoot(dir / "share/applications");
    rooted.SetStart("relative/folder", "Arbolux 7");
    // Shown relative to the Start Menu, the parent of the root.
    EXPECT_EQ(rooted.currentPath(), "applications/Arbolux 7");
    EXPECT_EQ(rooted.rootParent(), dir / "share");

    FolderBrowser plain("");
    plain.SetStart("", "");
    EXPECT_FALSE(plain.currentPath().empty());
    EXPECT_EQ(plain.currentPath(), platform::DocumentsFolder());
}

TEST(ValidateTyped, QualifiesOrRefusesWithTheDesignedCodes) {
    mwtest::ScratchDir dir;
    std::filesystem::create_directories(dir / "share/applications/Meridan Works");
    std::error_code ec;
    const std::string cwd = platform::CurrentFolder(ec);
    ASSERT_FALSE(ec);

    struct Case {
        bool rooted;
        std::string typed;
        uint32_t error;
        std::string expected;  // currentPath when accepted
    } cases[] = {
        {false, "/opt/New Folder", 0, "/opt/New Folder"},
        {false, "  /opt/New Folder/  ", 0, "/opt/New Folder"},
        {false, "/", 0, "/"},  // the root keeps its slash
        {false, "/opt/../srv/./x", 0, "/srv/x"},
        {false, "", 0, cwd},
        {false, "sub", 0, cwd + "/sub"},
        {false, "/opt/a*b", kErrorBadPathname, ""},
        {false, "/opt/a?", kErrorBadPathname, ""},
        {false, "/opt/a|b", kErrorBadPathname, ""},
        {false, "/opt/a\nDELETE /etc", kErrorBadPathname, ""},
        {false, "/" + std::string(260, 'a'), kErrorFilenameTooLong, ""},
        {false, "/" + std::string(259, 'a'), 0, "/" + std::string(259, 'a')},
        {true, "applications/Meridan Works/Arbolux 7", 0,
         dir / "share/applications/Meridan Works/Arbolux 7"},
        {true, dir / "share/applications/x", 0, dir / "share/applications/x"},
        {true, "", 0, cwd},  // only a relative text counts from the Start Menu
        {true, "../../Other", kErrorBadPathname, ""},
        {true, dir / "shareX/applications", kErrorBadPathname, ""},
        {true, "/opt/x", kErrorBadPathname, ""},
    };
    for (const Case& c : cases) {
        FolderBrowser browser("");
        if (c.rooted) browser.SetRoot(dir / "share/applications");
        browser.SetStart("/start", "");
        uint32_t error = browser.ValidateTyped(c.typed);
        if (c.rooted && c.typed.empty()) {
            // The current folder lies outside the scratch Start Menu.
            EXPECT_EQ(error, kErrorBadPathname);
            continue;
        }
        EXPECT_EQ(error, c.error) << c.typed;
        EXPECT_EQ(browser.validated(), c.error == 0) << c.typed;
        EXPECT_EQ(browser.currentPath(), c.error == 0 ? c.expected : "/start") << c.typed;
    }
}

}  // namespace
}  // namespace mw
