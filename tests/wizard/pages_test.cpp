// The method, folder and shortcut pages on the headless toolkit: what they
// load from the settings, what they store when left, what they refuse, and
// their Browse buttons with the chooser answering.
#include <gtest/gtest.h>

#include <string>

#include "app/errors.hpp"
#include "page_fixture.hpp"
#include "platform/roots.hpp"
#include "wizard/dlg_mode.hpp"
#include "wizard/dlg_path.hpp"
#include "wizard/dlg_shortcut.hpp"
#include "wizard/folder_dialog.hpp"

namespace mw {
namespace {

using platform::HeadlessDialog;

struct Pages : mwtest::PageFixture, ::testing::Test {};

TEST_F(Pages, MethodPageMapsTheRadioGroupToTheMethod) {
    CDlgMode page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    page.SetTexts();
    HeadlessDialog& d = Of(page);
    EXPECT_EQ(d.Text(1018), "Quick Installation (Recommended)");
    EXPECT_EQ(d.Text(1019), "Advanced Installation");
    EXPECT_EQ(d.Text(1021), "Installation Method");
    EXPECT_EQ(d.Text(1003), "Click on 'Next' to continue.");

    EXPECT_TRUE(d.IsChecked(1018));
    EXPECT_FALSE(d.IsChecked(1019));
    d.ShowDialog(true);
    ASSERT_TRUE(d.Click(1019));
    EXPECT_TRUE(page.UpdateData(true));
    EXPECT_TRUE(settings.advancedInstall);
    EXPECT_EQ(page.methodChoice, 1);

    // Nothing checked stores the quick method.
    d.SetChecked(1019, false);
    EXPECT_TRUE(page.UpdateData(true));
    EXPECT_EQ(page.methodChoice, -1);
    EXPECT_FALSE(settings.advancedInstall);

    settings.advancedInstall = true;
    page.UpdateData(false);
    EXPECT_TRUE(d.IsChecked(1019));
    EXPECT_FALSE(d.IsChecked(1018));
}

TEST_F(Pages, FolderPageIsLockedForEveryEarlierInstallation) {
    for (auto state : {PreviousInstallState::None, PreviousInstallState::SameVersion,
                       PreviousInstallState::OlderVersion, PreviousInstallState::NewerVersion}) {
        settings.previousState = state;
        CDlgPath page(settings, ui);
        ASSERT_TRUE(page.Create(*host));
        HeadlessDialog& d = Of(page);
        const bool locked = state != PreviousInstallState::None;
        EXPECT_EQ(d.IsReadOnly(1007), locked) << int(state);
        EXPECT_EQ(d.IsEnabled(1006), !locked) << int(state);
        EXPECT_EQ(d.IsEnabled(1009), !locked) << int(state);
        EXPECT_EQ(d.Text(1007), settings.installFolder);
        EXPECT_EQ(d.TextLimit(1007), 260);
    }
}

TEST_F(Pages, FolderPageStoresAnyFolderUpTo260CharactersWithoutControls) {
    CDlgPath page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    page.SetTexts();
    HeadlessDialog& d = Of(page);
    EXPECT_EQ(d.Text(1009), "Select 'Arbolux' Installation Folder.");
    EXPECT_EQ(d.Text(1008), "Installation Folder Selection");
    EXPECT_EQ(d.Text(1006), "Browse...");

    struct Case {
        std::string text;
        bool accepted;
        std::string message;
    } cases[] = {
        {"", true, ""},
        {"relative/folder", true, ""},
        {"/does/not/exist", true, ""},
        {"/" + std::string(259, 'a'), true, ""},
        {"/" + std::string(129, 'a') + std::string(65, 'e') + "\xC3\xA9", true, ""},
        {"/" + std::string(260, 'a'), false, "Enter no more than 260 characters."},
        {"/opt/a\nb", false, SystemErrorText(kErrorBadPathname, 0)},
        {"/opt/\x1b[31m", false, SystemErrorText(kErrorBadPathname, 0)},
        {"/opt/\xff", false, SystemErrorText(kErrorBadPathname, 0)},
    };
    for (const Case& c : cases) {
        settings.installFolder = "/before";
        boxes.shown.clear();
        d.SetText(1007, c.text);
        EXPECT_EQ(page.UpdateData(true), c.accepted) << c.text;
        EXPECT_EQ(settings.installFolder, c.accepted ? c.text : "/before") << c.text;
        if (c.accepted) {
            EXPECT_TRUE(boxes.shown.empty()) << c.text;
        } else {
            ASSERT_EQ(boxes.shown.size(), 1u) << c.text;
            EXPECT_EQ(boxes.shown[0].text, c.message);
            EXPECT_EQ(boxes.shown[0].type & 0xF0, platform::mb::IconExclamation);
            EXPECT_EQ(d.Focus(), 1007);
        }
    }
}

TEST_F(Pages, ShortcutPageShowsTheMenuFolderRelativeToTheStartMenu) {
    const std::string startMenu = platform::SpecialFolder(platform::csidl::CommonStartMenu);
    CDlgShortcut page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    page.SetTexts();
    HeadlessDialog& d = Of(page);
    EXPECT_EQ(page.startMenuRoot, startMenu);
    EXPECT_EQ(d.Text(1007), "applications/Meridan Works/Arbolux 7");
    EXPECT_TRUE(d.IsReadOnly(1007));
    EXPECT_TRUE(d.IsChecked(1011));
    EXPECT_TRUE(d.IsChecked(1010));
    EXPECT_EQ(d.Text(1011), "Create a Shortcut in the following Menu:");
    EXPECT_EQ(d.Text(1010), "Create a Shortcut on the Desktop.");

    // Every stored folder comes back unchanged through a load and a save.
    struct Case {
        std::string folder, shown;
    } cases[] = {
        {startMenu + "/applications/Meridan Works/Arbolux 7",
         "applications/Meridan Works/Arbolux 7"},
        {startMenu, ""},
        {startMenu + "/", ""},
        {"/opt/elsewhere", MenuTextOf(startMenu, "/opt/elsewhere")},
    };
    for (const Case& c : cases) {
        settings.startMenuFolder = c.folder;
        page.UpdateData(false);
        EXPECT_EQ(d.Text(1007), c.shown) << c.folder;
        EXPECT_TRUE(page.UpdateData(true));
        EXPECT_EQ(settings.startMenuFolder, CanonicalFolder(c.folder)) << c.folder;
    }
    EXPECT_EQ(MenuTextOf(startMenu, "/opt/elsewhere").rfind("../", 0), 0u);
}

TEST_F(Pages, UncheckingTheMenuShortcutDisablesItsFolderAtOnceAndIsKept) {
    CDlgShortcut page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    HeadlessDialog& d = Of(page);
    d.ShowDialog(true);
    EXPECT_TRUE(d.IsEnabled(1007));
    EXPECT_TRUE(d.IsEnabled(1006));
    ASSERT_TRUE(d.Click(1011));
    EXPECT_FALSE(d.IsEnabled(1007));
    EXPECT_FALSE(d.IsEnabled(1006));
    ASSERT_TRUE(d.Click(1010));
    EXPECT_TRUE(page.UpdateData(true));
    EXPECT_FALSE(settings.startMenuShortcut);
    EXPECT_FALSE(settings.desktopShortcut);
    page.UpdateData(false);  // back and forth
    EXPECT_FALSE(d.IsChecked(1011));
    EXPECT_FALSE(d.IsChecked(1010));
}

TEST_F(Pages, FolderBrowseTakesTheChosenFolderAndCancelKeepsTheStoredText) {
    MakeFolder(root / "opt");
    settings.installFolder = root / "opt/Meridan Works/Arbolux 7";
    CDlgPath page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    HeadlessDialog& d = Of(page);
    d.ShowDialog(true);

    // The chooser opens at the stored folder's nearest existing level and
    // proposes the product folder below it; OK takes that.
    std::string shown;
    ui.modalScripts.push_back([&](HeadlessDialog& chooser) {
        shown = chooser.Text(folder_dialog::kEdit);
        chooser.Click(platform::cmd::Ok);
    });
    ASSERT_TRUE(d.Click(1006));
    EXPECT_EQ(shown, root / "opt/Arbolux 7");
    EXPECT_EQ(settings.installFolder, root / "opt/Arbolux 7");
    EXPECT_EQ(d.Text(1007), root / "opt/Arbolux 7");
    EXPECT_EQ(ui.modalRuns.back(), BuildTitle(true));

    // Browse first saves what was typed; a cancelled chooser leaves that.
    d.Type(1007, "/typed/before/browse");
    ui.modalScripts.push_back(
        [](HeadlessDialog& chooser) { chooser.PressKey(platform::Key::Escape); });
    ASSERT_TRUE(d.Click(1006));
    EXPECT_EQ(settings.installFolder, "/typed/before/browse");
    EXPECT_EQ(d.Text(1007), "/typed/before/browse");
}

TEST_F(Pages, ShortcutBrowseStoresTheChosenMenuFolder) {
    const std::string startMenu = platform::SpecialFolder(platform::csidl::CommonStartMenu);
    MakeFolder(startMenu + "/applications/Meridan Works/Arbolux 7");
    MakeFolder(startMenu + "/applications/Games");
    CDlgShortcut page(settings, ui);
    ASSERT_TRUE(page.Create(*host));
    HeadlessDialog& d = Of(page);
    d.ShowDialog(true);
    std::string shown;
    ui.modalScripts.push_back([&](HeadlessDialog& chooser) {
        shown = chooser.Text(folder_dialog::kEdit);
        chooser.Type(folder_dialog::kEdit, "applications/Games/Arbolux 7");
        chooser.Click(platform::cmd::Ok);
    });
    ASSERT_TRUE(d.Click(1006));
    EXPECT_EQ(shown, "applications/Meridan Works/Arbolux 7");
    EXPECT_EQ(settings.startMenuFolder, startMenu + "/applications/Games/Arbolux 7");
    EXPECT_EQ(d.Text(1007), "applications/Games/Arbolux 7");
}

}  // namespace
}  // namespace mw
