// The folder chooser on the headless toolkit, over real folders: where it
// opens, what a click proposes, what a typed folder gives, and what the
// tree shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/errors.hpp"
#include "app/identity.hpp"
#include "folder_chooser_table.hpp"
#include "page_fixture.hpp"
#include "platform/roots.hpp"
#include "wizard/folder_browser.hpp"
#include "wizard/folder_dialog.hpp"

namespace mw {
namespace {

using platform::HeadlessDialog;
using platform::TreeItem;
namespace fd = folder_dialog;

// The item of an absolute folder in the chooser's tree, found through the
// texts the tree shows (kTreeRoot when it is not there yet).
TreeItem ItemOf(HeadlessDialog& d, const std::string& path) {
    std::vector<TreeItem> top = d.TreeChildren(fd::kTree, platform::kTreeRoot);
    if (top.empty()) return platform::kTreeRoot;
    const std::string& rootText = d.TreeItemText(fd::kTree, top[0]);
    std::filesystem::path rel;
    if (rootText == "/") {
        rel = std::filesystem::path(path).relative_path();
    } else {
        // A rooted tree shows its top folder's name; the cases give the
        // path from there.
        rel = std::filesystem::path(path);
    }
    TreeItem item = top[0];
    for (const auto& element : rel) {
        if (element.empty() || (rootText != "/" && element == rootText && item == top[0])) continue;
        d.ExpandByUser(fd::kTree, item);  // as a user opens the levels on the way
        TreeItem next = platform::kTreeRoot;
        for (TreeItem child : d.TreeChildren(fd::kTree, item)) {
            if (d.TreeItemText(fd::kTree, child) == element.string()) next = child;
        }
        if (next == platform::kTreeRoot) return platform::kTreeRoot;
        item = next;
    }
    return item;
}

struct Seen {
    std::string selected;  // the selected item's text
    bool expanded = false;
    bool editShown = false;
    std::string edit;
};

struct Chooser : mwtest::PageFixture, ::testing::Test {
    // Runs BrowseForFolder with `act` as the user; records what the dialog
    // showed when it opened.
    std::string Run(const std::string& start, const std::string& subfolder,
                    std::function<void(HeadlessDialog&)> act, Seen& seen) {
        ui.modalScripts.push_back([&seen, act](HeadlessDialog& d) {
            TreeItem selected = d.SelectedTreeItem(fd::kTree);
            seen.selected = selected ? d.TreeItemText(fd::kTree, selected) : "";
            seen.expanded = d.IsTreeItemExpanded(fd::kTree, selected);
            seen.editShown = d.IsVisible(fd::kEdit);
            seen.edit = d.Text(fd::kEdit);
            act(d);
        });
        return BrowseForFolder(ui, start, subfolder, "Choose");
    }
    static void Confirm(HeadlessDialog& d) { d.PressKey(platform::Key::Enter); }
};

TEST_F(Chooser, TableOfStartsAndTypedFolders) {
    mwtest::RunChooserTable([this](const std::string& start, const std::string& typed) {
        ui.modalScripts.push_back([typed](HeadlessDialog& d) {
            if (!typed.empty()) d.Type(fd::kEdit, typed);
            Confirm(d);
        });
        return BrowseForFolder(ui, start, ProductKeyName(productCode), "Choose");
    });
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Chooser, AClickProposesTheProductFolderOnceAndConfirmingCreatesNothing) {
    mwtest::ScratchDir dir;
    MakeFolder(dir / "Apps/ARBOLUX 7");
    MakeFolder(dir / "Other");
    struct Case {
        std::string click;
        std::string proposed;
    } cases[] = {
        {dir.path(), dir / "Arbolux 7"},
        {dir / "Apps", dir / "Apps/Arbolux 7"},
        {dir / "Apps/ARBOLUX 7", dir / "Apps/ARBOLUX 7"},  // other case: nothing appended
        {"/", "/Arbolux 7"},
    };
    for (const Case& c : cases) {
        Seen seen;
        std::string edit;
        std::string chosen = Run(
            dir / "Other", "Arbolux 7",
            [&](HeadlessDialog& d) {
                TreeItem item = ItemOf(d, c.click);
                ASSERT_NE(item, platform::kTreeRoot) << c.click;
                ASSERT_TRUE(d.ChooseTreeItem(fd::kTree, item));
                edit = d.Text(fd::kEdit);
                Confirm(d);
            },
            seen);
        EXPECT_EQ(seen.edit, dir / "Other/Arbolux 7");
        EXPECT_EQ(edit, c.proposed) << c.click;
        EXPECT_EQ(chosen, c.proposed) << c.click;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Arbolux 7"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Apps/Arbolux 7"));
}

TEST_F(Chooser, TypedFoldersAreCheckedAndARefusedOneKeepsTheDialogOpen) {
    mwtest::ScratchDir dir;
    MakeFolder(dir / "Apps");
    struct Case {
        std::string typed;
        uint32_t error;  // 0: accepted
        std::string chosen;
    } cases[] = {
        {dir / "New/Deeper", 0, dir / "New/Deeper"},
        {"  " + (dir / "Apps") + "/  ", 0, dir / "Apps"},
        {dir / "A*", kErrorBadPathname, ""},
        {dir / "A?", kErrorBadPathname, ""},
        {dir / "A\nB", kErrorBadPathname, ""},
    };
    for (const Case& c : cases) {
        boxes.shown.clear();
        Seen seen;
        bool stayed = false;
        std::string chosen = Run(
            dir / "Apps", "Arbolux 7",
            [&](HeadlessDialog& d) {
                d.Type(fd::kEdit, c.typed);
                Confirm(d);
                stayed = !d.Ended();
                if (stayed) d.Click(platform::cmd::Cancel);
            },
            seen);
        EXPECT_EQ(chosen, c.chosen) << c.typed;
        EXPECT_EQ(stayed, c.error != 0) << c.typed;
        if (c.error) {
            ASSERT_EQ(boxes.shown.size(), 1u) << c.typed;
            EXPECT_EQ(boxes.shown[0].text, SystemErrorText(c.error, 0));
            EXPECT_EQ(boxes.shown[0].caption, "");
            EXPECT_EQ(boxes.shown[0].type, platform::mb::IconExclamation);
        } else {
            EXPECT_TRUE(boxes.shown.empty()) << c.typed;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "New"));
}

TEST_F(Chooser, StartMenuChooserShowsPathsRelativeToTheStartMenuAndStaysInside) {
    const std::string programs = platform::SpecialFolder(platform::csidl::CommonPrograms);
    MakeFolder(programs + "/Meridan Works/Arbolux 7");
    MakeFolder(programs + "/Games");
    std::string opened, clicked;
    ui.modalScripts.push_back([&](HeadlessDialog& d) {
        // The tree starts at the programs folder itself.
        std::vector<TreeItem> top = d.TreeChildren(fd::kTree, platform::kTreeRoot);
        ASSERT_EQ(top.size(), 1u);
        EXPECT_EQ(d.TreeItemText(fd::kTree, top[0]), "applications");
        opened = d.Text(fd::kEdit);
        d.ChooseTreeItem(fd::kTree, ItemOf(d, "applications/Games"));
        clicked = d.Text(fd::kEdit);
        d.Type(fd::kEdit, "../../Other");
        Confirm(d);
        EXPECT_FALSE(d.Ended());
        d.Type(fd::kEdit, "/opt/Other");
        Confirm(d);
        EXPECT_FALSE(d.Ended());
        d.Type(fd::kEdit, "applications/Games/Arbolux 7");
        Confirm(d);
    });
    MenuFolderChoice choice =
        BrowseForMenuFolder(ui, programs + "/Meridan Works/Arbolux 7", "Arbolux 7", "Menu");
    EXPECT_EQ(opened, "applications/Meridan Works/Arbolux 7");
    EXPECT_EQ(clicked, "applications/Games/Arbolux 7");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, SystemErrorText(kErrorBadPathname, 0));
    EXPECT_EQ(choice.folder, programs + "/Games/Arbolux 7");
    EXPECT_EQ(choice.relative, "applications/Games/Arbolux 7");
}

TEST_F(Chooser, StartMenuChooserBeforeTheProgramsFolderExists) {
    const std::string programs = platform::SpecialFolder(platform::csidl::CommonPrograms);
    ASSERT_FALSE(std::filesystem::exists(programs));
    std::string opened;
    ui.modalScripts.push_back([&](HeadlessDialog& d) {
        std::vector<TreeItem> top = d.TreeChildren(fd::kTree, platform::kTreeRoot);
        ASSERT_EQ(top.size(), 1u);
        EXPECT_EQ(d.TreeItemText(fd::kTree, top[0]), "applications");
        EXPECT_FALSE(d.ExpandByUser(fd::kTree, top[0])) << "nothing to expand yet";
        opened = d.Text(fd::kEdit);
        Confirm(d);
    });
    MenuFolderChoice choice =
        BrowseForMenuFolder(ui, programs + "/Meridan Works/Arbolux 7", "Arbolux 7", "Menu");
    EXPECT_EQ(opened, "applications/Meridan Works/Arbolux 7");
    EXPECT_EQ(choice.folder, programs + "/Meridan Works/Arbolux 7");
    EXPECT_EQ(choice.relative, "applications/Meridan Works/Arbolux 7");
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(std::filesystem::exists(programs));
}

TEST_F(Chooser, WithoutProductFolderNoEditBoxAndTheClickedFolderIsTheChoice) {
    mwtest::ScratchDir dir;
    MakeFolder(dir / "A/B");
    Seen seen;
    std::string chosen = Run(
        dir / "A", "",
        [&](HeadlessDialog& d) {
            EXPECT_TRUE(d.IsEnabled(platform::cmd::Ok));
            d.ChooseTreeItem(fd::kTree, ItemOf(d, dir / "A/B"));
            Confirm(d);
        },
        seen);
    EXPECT_FALSE(seen.editShown);
    EXPECT_EQ(seen.selected, "A");
    EXPECT_EQ(chosen, dir / "A/B");

    // Cancel gives nothing.
    EXPECT_EQ(Run(
                  dir / "A", "", [](HeadlessDialog& d) { d.Click(platform::cmd::Cancel); }, seen),
              "");
}

TEST_F(Chooser, EmptyStartOpensAtTheUsersDocumentsFolder) {
    MakeFolder(home / "Documents");
    Seen seen;
    std::string chosen = Run("", "", Confirm, seen);
    EXPECT_EQ(seen.selected, "Documents");
    EXPECT_EQ(chosen, home / "Documents");
}

TEST_F(Chooser, TheTreeIsFilledOneLevelAtATimeWhenExpanded) {
    mwtest::ScratchDir dir;
    MakeFolder(dir / "A/B/C");
    MakeFolder(dir / "Empty");
    mwtest::WriteFile(dir / "file", "x");
    Seen seen;
    Run(
        dir.path(), "",
        [&](HeadlessDialog& d) {
            TreeItem start = d.SelectedTreeItem(fd::kTree);
            std::vector<std::string> names;
            for (TreeItem child : d.TreeChildren(fd::kTree, start)) {
                names.push_back(d.TreeItemText(fd::kTree, child));
            }
            EXPECT_EQ(names, (std::vector<std::string>{"A", "Empty"}));
            TreeItem a = ItemOf(d, dir / "A");
            EXPECT_TRUE(d.TreeChildren(fd::kTree, a).empty()) << "not read before expanding";
            EXPECT_TRUE(d.ExpandByUser(fd::kTree, a));
            ASSERT_EQ(d.TreeChildren(fd::kTree, a).size(), 1u);
            EXPECT_FALSE(d.ExpandByUser(fd::kTree, ItemOf(d, dir / "Empty")))
                << "a folder without subfolders has no expander";
            d.Click(platform::cmd::Cancel);
        },
        seen);
}

// A toolkit that cannot make windows (no display, no template).
class NoWindows final : public platform::UiToolkit {
public:
    std::unique_ptr<platform::Dialog> CreateDialog(const platform::DialogTemplate&,
                                                   platform::Dialog*, platform::Window*) override {
        return nullptr;
    }
    void PumpEvents() override {}
    bool IsHeadless() const override { return true; }
    void SetImageSource(platform::ImageSource) override {}
};

TEST_F(Chooser, AChooserThatCannotOpenSaysSoAndChoosesNothing) {
    NoWindows none;
    EXPECT_EQ(BrowseForFolder(none, "/opt", "Arbolux 7", "Choose"), "");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, SystemErrorText(kEFail, 0));
    EXPECT_EQ(boxes.shown[0].type & 0xF0, platform::mb::IconExclamation);
}

}  // namespace
}  // namespace mw
