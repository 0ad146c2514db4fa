// The headless toolkit behaves as a dialog manager does: user actions reach
// the handler only on enabled, visible controls; radio groups, Tab through
// child dialogs, Enter and Escape, modal runs and the dump.
#include "platform/headless_ui.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/env_guard.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

DialogTemplate Parse(const char* source) {
    uint32_t id = 0;
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(ParseDialogSource(source, id, t, error)) << error;
    return t;
}

const char kHost[] = R"(dialog 1
size 200 100
font "MS Shell Dlg" 8
caption "Host"
style popup caption sysmenu
control 1 defpushbutton "Next" 100 80 40 14 tabstop group
control 2 pushbutton "Cancel" 150 80 40 14 tabstop
)";

const char kPage[] = R"(dialog 2
size 100 60
font "MS Shell Dlg" 8
style child control
control 10 radiobutton "A" 5 5 50 8 group tabstop
control 11 radiobutton "B" 5 15 50 8
control 12 checkbox "C" 5 25 50 8 tabstop group
control 13 edit "" 5 35 50 12 tabstop
)";

struct Fixture {
    HeadlessToolkit ui;
    std::unique_ptr<Dialog> host = ui.CreateDialog(Parse(kHost), nullptr);
    std::unique_ptr<Dialog> page = ui.CreateDialog(Parse(kPage), host.get());
    HeadlessDialog& h = static_cast<HeadlessDialog&>(*host);
    HeadlessDialog& p = static_cast<HeadlessDialog&>(*page);
    std::vector<ControlEvent> hostEvents, pageEvents;
    Fixture() {
        host->SetHandler([this](const ControlEvent& e) { hostEvents.push_back(e); });
        page->SetHandler([this](const ControlEvent& e) { pageEvents.push_back(e); });
        page->ShowDialog(true);
    }
};

TEST(HeadlessUi, TemplateBecomesPixelsWithTheBaseUnits) {
    Fixture f;
    EXPECT_EQ(f.host->Geometry(), (Rect{0, 0, 300, 162}));
    EXPECT_EQ(f.host->ControlRect(1), (Rect{150, 130, 60, 22}));
    EXPECT_EQ(f.host->DefaultButton(), 1);
    auto second = f.ui.CreateDialog(Parse(kPage), f.host.get());
    EXPECT_FALSE(second->IsDialogShown()) << "a child dialog is hidden until shown";
}

TEST(HeadlessUi, ClicksReachOnlyEnabledVisibleControls) {
    Fixture f;
    EXPECT_TRUE(f.p.Click(11));
    EXPECT_TRUE(f.p.IsChecked(11));
    EXPECT_TRUE(f.p.Click(10));
    EXPECT_TRUE(f.p.IsChecked(10));
    EXPECT_FALSE(f.p.IsChecked(11)) << "a radio button unchecks its group";
    EXPECT_TRUE(f.p.Click(12));
    EXPECT_TRUE(f.p.IsChecked(12));
    EXPECT_TRUE(f.p.IsChecked(10)) << "a check box in a new group leaves the radios alone";
    f.p.Enable(12, false);
    EXPECT_FALSE(f.p.Click(12));
    f.p.Show(10, false);
    EXPECT_FALSE(f.p.Click(10));
    f.page->ShowDialog(false);
    EXPECT_FALSE(f.p.Click(11)) << "a hidden page takes no clicks";
    ASSERT_EQ(f.pageEvents.size(), 3u);
    EXPECT_TRUE(f.hostEvents.empty());
}

TEST(HeadlessUi, TypingHonoursReadOnlyAndTheLimitInCharacters) {
    Fixture f;
    f.p.SetTextLimit(13, 3);
    EXPECT_TRUE(f.p.Type(13, "\xC3\xA9t\xC3\xA9s"));  // "étés"
    EXPECT_EQ(f.p.Text(13), "\xC3\xA9t\xC3\xA9");
    f.p.SetReadOnly(13, true);
    EXPECT_FALSE(f.p.Type(13, "x"));
    EXPECT_EQ(f.p.Text(13), "\xC3\xA9t\xC3\xA9");
}

TEST(HeadlessUi, KeysGoThroughTheTopLevelWindow) {
    Fixture f;
    f.p.PressKey(Key::Enter);  // from the page: the host's default button
    f.h.PressKey(Key::Escape);
    f.h.CloseWindow();
    f.host->Enable(1, false);
    f.h.PressKey(Key::Enter);  // a disabled default button does nothing
    ASSERT_EQ(f.hostEvents.size(), 3u);
    EXPECT_EQ(f.hostEvents[0].id, cmd::Ok);
    EXPECT_EQ(f.hostEvents[1].id, cmd::Cancel);
    EXPECT_EQ(f.hostEvents[2].id, cmd::Cancel);
    f.host->Enable(1, true);

    // Tab: host buttons first, then the page's tab stops; Down moves in the group.
    f.host->SetFocus(1);
    std::vector<std::pair<Dialog*, int>> visited;
    for (int i = 0; i < 5; ++i) {
        f.h.PressKey(Key::Tab);
        visited.emplace_back(f.ui.focusDialog, f.ui.focusId);
    }
    const std::vector<std::pair<Dialog*, int>> expected = {
        {&f.h, 2}, {&f.p, 10}, {&f.p, 12}, {&f.p, 13}, {&f.h, 1}};
    EXPECT_EQ(visited, expected);
    f.page->SetFocus(10);
    f.h.PressKey(Key::Down);
    EXPECT_TRUE(f.p.IsChecked(11));
    f.h.PressKey(Key::Down);  // the group ends at 11
    EXPECT_EQ(f.ui.focusId, 11);
    f.h.PressKey(Key::Up);
    EXPECT_TRUE(f.p.IsChecked(10));
}

TEST(HeadlessUi, ModalRunsFollowTheirScriptOrEndWithCancel) {
    HeadlessToolkit ui;
    auto box = ui.CreateDialog(Parse(kHost), nullptr);
    auto& b = static_cast<HeadlessDialog&>(*box);
    ui.modalScripts.push_back([](HeadlessDialog& d) { d.PressKey(Key::Enter); });
    EXPECT_EQ(b.RunModal(), cmd::Ok) << "without a handler Ok ends the run";
    EXPECT_EQ(b.RunModal(), cmd::Cancel) << "no script left";
    box->SetHandler([&](const ControlEvent& e) {
        if (e.id == cmd::Ok) box->EndDialog(42);
    });
    ui.modalScripts.push_back([](HeadlessDialog& d) { d.Click(1); });
    EXPECT_EQ(b.RunModal(), 42);
    EXPECT_EQ(ui.modalRuns.size(), 3u);
}

TEST(HeadlessUi, MenusGiveOnlyEnabledCommands) {
    Fixture f;
    f.ui.menuAnswers = {16, sc::Restore};
    const std::vector<MenuItem> menu = {{sc::Restore, "Restore", false}, {16, "About", true}};
    EXPECT_EQ(f.host->PopupMenu(menu), 16);
    EXPECT_EQ(f.host->PopupMenu(menu), 0) << "a greyed item cannot be chosen";
    EXPECT_EQ(f.ui.menusShown.size(), 2u);
}

TEST(HeadlessUi, DumpListsTheWindowAndItsShownPages) {
    mwtest::ScratchDir dir;
    mwtest::EnvGuard env;
    env.Set("MW_UI_DUMP", dir / "dump");
    Fixture f;
    f.host->SetTitle("Tab\tTitle");
    f.host->SetFocus(1);
    f.p.SetChecked(10, true);
    f.host->ShowDialog(true);
    const std::string dump = mwtest::ReadFile(dir / "dump");
    EXPECT_NE(dump.find("window\tDialog\tTab\\tTitle\t0\t0\t300\t162\n"), std::string::npos)
        << dump;
    EXPECT_NE(dump.find("control\tButton\t1\tNext\t150\t130\t60\t22\tdefault,focus\n"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("control\tRadioButton\t10\tA\t7\t8\t75\t13\tchecked\n"), std::string::npos)
        << dump;
    f.page->ShowDialog(false);
    f.h.Dump();
    const std::string second = mwtest::ReadFile(dir / "dump").substr(dump.size());
    EXPECT_EQ(second.find("RadioButton"), std::string::npos) << "hidden pages are left out";
}

}  // namespace
}  // namespace mw::platform
