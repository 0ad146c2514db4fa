// The progress page as the install sequence's surface: the summary, dashed
// headings measured in the panel's font, progress rounding and the status
// line's shortened paths.
#include <gtest/gtest.h>

#include <string>

#include "page_fixture.hpp"
#include "wizard/dlg_install.hpp"

namespace mw {
namespace {

using platform::HeadlessDialog;

struct Progress : mwtest::PageFixture, ::testing::Test {
    CDlgInstall page{settings, ui};
    HeadlessDialog& d = [this]() -> HeadlessDialog& {
        EXPECT_TRUE(page.Create(*host));
        return Of(page);
    }();
};

TEST_F(Progress, SummaryLines) {
    struct Case {
        const char* folder;
        bool menu, desktop;
        std::string expected;  // after the product line and the heading
    };
    const Case cases[] = {
        {"/opt/Meridan Works/Arbolux 7", true, true,
         "Installation Folder: \"/opt/Meridan Works/Arbolux 7\".\r\n"
         "Creating a Shortcut in the Start Menu (Folder \"/menu/Arbolux 7\").\r\n"
         "Creating a Shortcut on the Desktop.\r\n"},
        {"/opt/arbolux", false, false, "Installation Folder: /opt/arbolux.\r\n"},
        {"/opt/arbolux", false, true,
         "Installation Folder: /opt/arbolux.\r\nCreating a Shortcut on the Desktop.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        settings.installFolder = c.folder;
        settings.startMenuFolder = "/menu/Arbolux 7";
        settings.startMenuShortcut = c.menu;
        settings.desktopShortcut = c.desktop;
        page.UpdateData(false);
        const std::string log = d.Text(1015);
        const std::string first = "'Arbolux 7.13c' Installation.\r\n";
        ASSERT_EQ(log.substr(0, first.size()), first);
        const std::size_t headingEnd = log.find("\r\n", first.size());
        const std::string heading = log.substr(first.size(), headingEnd - first.size());
        EXPECT_NE(heading.find("- Installation Options -"), std::string::npos) << heading;
        EXPECT_EQ(log.substr(headingEnd + 2), c.expected);
    }
    // Installed: loading keeps the log for good.
    settings.installed = true;
    d.SetText(1015, "kept");
    page.UpdateData(false);
    EXPECT_EQ(d.Text(1015), "kept");
}

TEST_F(Progress, HeadingsFillThePanelWithDashes) {
    const int available = d.TextAreaWidth(1015) - 2;
    const int dash = d.TextWidth("-");
    struct Case {
        std::string text;
        bool heading;
        std::string expected;
    };
    auto centred = [&](const std::string& text) {
        const int n = (available - d.TextWidth(" " + text + " ")) / dash;
        return std::string(n / 2, '-') + " " + text + " " + std::string((n + 1) / 2, '-') + "\r\n";
    };
    // One of the two gives an odd count of dashes: the extra one goes right.
    ASSERT_NE((available - d.TextWidth(" Option- ")) / dash % 2,
              (available - d.TextWidth(" Option ")) / dash % 2);
    const Case cases[] = {
        {"", false, std::string(available / dash, '-') + "\r\n"},
        {"", true, std::string(available / dash, '-') + "\r\n"},
        {"Option-", true, centred("Option-")},
        {"Option", true, centred("Option")},
        {std::string(200, 'W'), true, " " + std::string(200, 'W') + " \r\n"},
        {"Copying File  a...", false, "Copying File  a..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        d.SetText(1015, "");
        page.AppendLog(c.text, c.heading);
        EXPECT_EQ(d.Text(1015), c.expected);
    }
    d.SetText(1015, "");
    page.AppendLog("Copying File  a...", false);
    page.AppendLog("OK\r\n", false);
    EXPECT_EQ(d.Text(1015), "Copying File  a...OK\r\n");
}

TEST_F(Progress, ProgressRoundsAndShowsNinetyNineUntilDone) {
    EXPECT_FALSE(d.IsVisible(1014)) << "hidden until the installation starts";
    page.ShowProgress();
    EXPECT_TRUE(d.IsVisible(1014));
    const struct {
        uint64_t done, total;
        int percent;
    } cases[] = {{995, 1000, 99}, {1000, 1000, 100}, {4, 1000, 0}, {5, 1000, 1},
                 {1, 3, 33},      {2, 3, 67},        {0, 0, 0}};
    for (const auto& c : cases) {
        page.SetProgress(c.done, c.total);
        EXPECT_EQ(d.Progress(1014), c.percent) << c.done << "/" << c.total;
    }
}

TEST_F(Progress, StatusPathIsShortenedInTheMiddle) {
    auto width = [](const std::string& s) { return static_cast<int>(s.size()) * 6; };
    struct Case {
        std::string path;
        int fit;  // characters that fit
        std::string expected;
    };
    const Case cases[] = {
        {"/opt/a/b", 20, "/opt/a/b"},
        {"/opt/Meridan Works/Arbolux 7/bin/arbolux", 30, "/opt/Meridan Works/.../arbolux"},
        {"/opt/Meridan Works/Arbolux 7/bin/arbolux", 16, "/opt/.../arbolux"},
        {"/opt/Meridan Works/Arbolux 7/bin/arbolux", 12, "/.../arbolux"},
        {"/opt/Meridan Works/Arbolux 7/bin/arbolux-with-a-long-name", 12, "arbolux-w..."},
    };
    for (const Case& c : cases) {
        const std::string got = CompactPath(c.path, c.fit * 6, width);
        EXPECT_EQ(got, c.expected) << c.path << " in " << c.fit;
        EXPECT_LE(width(got), c.fit * 6);
    }
    page.SetStatusPath("/" + std::string(400, 'x'));
    EXPECT_LE(d.TextWidth(d.Text(1003)), d.ControlRect(1003).w);
}

TEST_F(Progress, FolderQuotingKeepsTheLimit) {
    EXPECT_EQ(QuoteSpaces("/a b"), "\"/a b\"");
    EXPECT_EQ(QuoteSpaces("/ab"), "/ab");
    // Quoted, with its terminating zero, in a buffer of 260 characters.
    const std::string longest = "/" + std::string(255, 'x') + " ";  // 257 characters
    EXPECT_EQ(QuoteSpaces(longest), "\"" + longest + "\"");
    EXPECT_EQ(QuoteSpaces(longest + "y"), longest + "y") << "the quoted form would not fit";
}

}  // namespace
}  // namespace mw
