// The wizard host on the headless toolkit: navigation in both methods, the
// button states of every situation, the Cancel rules per earlier
// installation, Install with a succeeding, failing or event-pumping
// sequence, the language switch, the window menu and the layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_services.hpp"
#include "page_fixture.hpp"
#include "wizard/dlg_install.hpp"
#include "wizard/dlg_start.hpp"
#include "wizard/install_dlg.hpp"

namespace mw {
namespace {

using platform::HeadlessDialog;
using platform::Key;
using namespace host_dialog;

struct Host : mwtest::PageFixture, ::testing::Test {
    // What the fake sequence does when Install is pressed.
    bool installResult = true;
    std::function<void(InstallSurface&)> during;
    int installs = 0;
    std::unique_ptr<CInstallDlg> wizard;

    HeadlessDialog& W() { return static_cast<HeadlessDialog&>(wizard->dialog()); }
    HeadlessDialog& P(int index) { return Of(wizard->page(index)); }

    void Make() {
        wizard = std::make_unique<CInstallDlg>(settings, ui,
                                               [this](InstallSurface& surface, InstallSettings&) {
                                                   ++installs;
                                                   if (during) during(surface);
                                                   return installResult;
                                               });
        ASSERT_TRUE(wizard->Create());
    }
    void Next() { W().Click(kNext); }
    void Back() { W().Click(kBack); }

    struct Buttons {
        bool back;
        bool next;
        std::string nextText;
        std::string cancelText;
        int defaultButton;
        bool operator==(const Buttons&) const = default;
    };
    Buttons State() {
        return {W().IsEnabled(kBack), W().IsEnabled(kNext), W().Text(kNext), W().Text(kCancel),
                W().DefaultButton()};
    }
};

std::ostream& operator<<(std::ostream& out, const Host::Buttons& b) {
    return out << "back=" << b.back << " next=" << b.next << " '" << b.nextText << "' '"
               << b.cancelText << "' default=" << b.defaultButton;
}

const Host::Buttons kStartRow{false, true, "Next  >", "Cancel", kNext};
const Host::Buttons kMiddleRow{true, true, "Next  >", "Cancel", kNext};
const Host::Buttons kInstallRow{true, true, "Install", "Cancel", kNext};
const Host::Buttons kInstalledRow{false, true, "Next  >", "Exit", kNext};
const Host::Buttons kEndRow{true, false, "Next  >", "Exit", kCancel};

TEST_F(Host, NavigationInBothMethodsWithTheButtonStates) {
    struct Step {
        const char* action;  // "next", "back", "advanced", "quick", "install"
        int page;
        Host::Buttons buttons;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"quick method skips the folder and shortcut pages both ways",
         {{"next", kMethodPage, kMiddleRow},
          {"next", kProgressPage, kInstallRow},
          {"back", kMethodPage, kMiddleRow},
          {"back", kStartPage, kStartRow}}},
        {"advanced method shows all pages in order",
         {{"next", kMethodPage, kMiddleRow},
          {"advanced", kMethodPage, kMiddleRow},
          {"next", kFolderPage, kMiddleRow},
          {"next", kShortcutPage, kMiddleRow},
          {"next", kProgressPage, kInstallRow},
          {"install", kProgressPage, kInstalledRow},
          {"next", kEndPage, kEndRow},
          {"back", kProgressPage, kInstalledRow}}},
        {"the skip follows what the method page has just stored",
         {{"next", kMethodPage, kMiddleRow},
          {"advanced", kMethodPage, kMiddleRow},
          {"next", kFolderPage, kMiddleRow},
          {"back", kMethodPage, kMiddleRow},
          {"quick", kMethodPage, kMiddleRow},
          {"next", kProgressPage, kInstallRow}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.installed = false;
        settings.advancedInstall = false;
        Make();
        ASSERT_EQ(wizard->currentPage(), kStartPage);
        EXPECT_EQ(State(), kStartRow);
        for (const Step& s : c.steps) {
            SCOPED_TRACE(s.action);
            const std::string a = s.action;
            if (a == "next" || a == "install") Next();
            if (a == "back") Back();
            if (a == "advanced") P(kMethodPage).Click(1019);
            if (a == "quick") P(kMethodPage).Click(1018);
            EXPECT_EQ(wizard->currentPage(), s.page);
            EXPECT_EQ(State(), s.buttons);
            for (int i = 0; i < kPageCount; ++i)
                EXPECT_EQ(P(i).IsDialogShown(), i == s.page) << "page " << i;
            if (a != "advanced" && a != "quick") {  // a click focuses the radio button
                EXPECT_EQ(ui.focusDialog, &W());
                EXPECT_EQ(ui.focusId, s.buttons.defaultButton);
            }
        }
    }
}

TEST_F(Host, QuickMethodNeverLoadsOrValidatesTheSkippedPages) {
    Make();
    // A folder text the folder page would refuse: never looked at in the quick method.
    P(kFolderPage).SetText(1007, std::string(300, 'x'));
    Next();
    Next();
    EXPECT_EQ(wizard->currentPage(), kProgressPage);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(settings.installFolder.find("xxx"), std::string::npos);
}

TEST_F(Host, CancelRulesPerEarlierInstallation) {
    struct Case {
        PreviousInstallState state;
        int page;
        bool asks;
    };
    const Case cases[] = {
        {PreviousInstallState::None, kStartPage, true},
        {PreviousInstallState::None, kMethodPage, true},
        {PreviousInstallState::None, kProgressPage, true},
        {PreviousInstallState::SameVersion, kStartPage, false},
        {PreviousInstallState::SameVersion, kMethodPage, true},
        {PreviousInstallState::OlderVersion, kStartPage, true},
        {PreviousInstallState::NewerVersion, kStartPage, false},
    };
    for (const Case& c : cases) {
        for (bool yes : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c.state)) + " page " +
                         std::to_string(c.page) + (yes ? " Yes" : " No"));
            settings.previousState = c.state;
            Make();
            while (wizard->currentPage() < c.page) Next();
            boxes.shown.clear();
            boxes.answers = {yes ? platform::idc::Yes : platform::idc::No};
            W().PressKey(Key::Escape);
            if (c.asks) {
                ASSERT_EQ(boxes.shown.size(), 1u);
                EXPECT_EQ(boxes.shown[0].text,
                          "Installation is not complete.\r\n\r\nDo you still confirm exit "
                          "Installation ?");
                EXPECT_EQ(boxes.shown[0].type, 0x124u);
                EXPECT_EQ(W().Ended(), yes);
            } else {
                EXPECT_TRUE(boxes.shown.empty());
                EXPECT_TRUE(W().Ended());
            }
            if (W().Ended()) {
                EXPECT_EQ(W().Result(), 2);
            }
            EXPECT_EQ(wizard->currentPage(), c.page) << "declining changes nothing";
        }
    }
}

TEST_F(Host, NewerVersionCannotLeaveTheStartPage) {
    settings.previousState = PreviousInstallState::NewerVersion;
    settings.previousVersionText = "Arbolux 7.20";
    Make();
    EXPECT_FALSE(W().IsEnabled(kNext));
    W().PressKey(Key::Enter);
    EXPECT_EQ(wizard->currentPage(), kStartPage);
    EXPECT_EQ(P(kStartPage).Text(1016),
              "'Arbolux 7.13c' Installation.\r\nA more recent Version (Arbolux 7.20) is already "
              "installed.");
    EXPECT_EQ(P(kStartPage).Text(1003), "Click on 'Cancel' to exit Installation.");
    W().CloseWindow();
    EXPECT_TRUE(W().Ended());
    EXPECT_EQ(W().Result(), 2);
}

TEST_F(Host, InstallSucceedsFailsAndIgnoresCancelWhileRunning) {
    // Escape and the close button reach the host while the sequence pumps
    // window events (the DirectX step): they must do nothing.
    during = [this](InstallSurface& surface) {
        EXPECT_FALSE(W().IsEnabled(kBack));
        EXPECT_FALSE(W().IsEnabled(kNext));
        EXPECT_FALSE(W().IsEnabled(kCancel));
        ui.onPump = [this] {
            W().PressKey(Key::Escape);
            W().CloseWindow();
            W().PressKey(Key::Enter);
        };
        surface.PumpEvents();
        ui.onPump = nullptr;
        surface.AppendLog("Copying File  a...", false);
        surface.AppendLog("OK\r\n", false);
    };
    installResult = false;
    Make();
    Next();
    Next();
    Next();  // Install, failing
    EXPECT_EQ(installs, 1);
    EXPECT_FALSE(W().Ended());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(settings.installed);
    EXPECT_EQ(wizard->currentPage(), kProgressPage);
    EXPECT_EQ(State(), kInstallRow);
    EXPECT_NE(P(kProgressPage).Text(1015).find("Copying File  a...OK\r\n"), std::string::npos)
        << "a failed installation's log stays";
    boxes.answers = {platform::idc::No};
    W().PressKey(Key::Escape);
    EXPECT_EQ(boxes.shown.size(), 1u) << "after a failure Cancel asks";

    // Back and forth writes a fresh summary; Install again succeeds.
    Back();
    Next();
    EXPECT_EQ(P(kProgressPage).Text(1015).find("Copying"), std::string::npos);
    installResult = true;
    Next();
    EXPECT_EQ(installs, 2);
    EXPECT_TRUE(settings.installed);
    EXPECT_EQ(State(), kInstalledRow);
    const std::string log = P(kProgressPage).Text(1015);
    Next();
    EXPECT_EQ(P(kEndPage).Text(1016), "Installation is complete.");
    EXPECT_EQ(P(kEndPage).Text(1003), "Click on 'Exit' to exit Installation.");
    Back();
    EXPECT_EQ(P(kProgressPage).Text(1015), log) << "the log of the installation stays";
    boxes.shown.clear();
    W().Click(kCancel);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(W().Ended());
    EXPECT_EQ(W().Result(), 1);
}

TEST_F(Host, LanguageSwitchRelabelsEverythingWithoutMoving) {
    Make();
    HeadlessDialog& start = P(kStartPage);
    ASSERT_EQ(start.ItemCount(1023), 9);
    auto positionOf = [&](LanguageIndex index) {
        for (int i = 0; i < start.ItemCount(1023); ++i)
            if (start.Item(1023, i)->value == index) return i;
        return -1;
    };
    const std::vector<std::string> before = {P(kMethodPage).Text(1018), P(kFolderPage).Text(1008),
                                             P(kShortcutPage).Text(1012),
                                             P(kProgressPage).Text(1003), P(kEndPage).Text(1003)};
    ASSERT_TRUE(start.Choose(1023, positionOf(2)));  // German
    EXPECT_EQ(W().Title(), "Installationsprogramm \u2013 Arbolux 7.13c");
    EXPECT_EQ(wizard->aboutText(), "&\u00dcber 'Installationsprogramm'...");
    EXPECT_EQ(W().Text(kNext), "Weiter  >");
    EXPECT_EQ(W().Text(kBack), "<  Zur\u00fcck");
    EXPECT_EQ(W().Text(kCancel), "Abbrechen");
    EXPECT_EQ(start.Text(1016), "Installation von 'Arbolux 7.13c'.");
    const std::vector<std::string> after = {P(kMethodPage).Text(1018), P(kFolderPage).Text(1008),
                                            P(kShortcutPage).Text(1012),
                                            P(kProgressPage).Text(1003), P(kEndPage).Text(1003)};
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_NE(before[i], after[i]) << i;
    EXPECT_EQ(wizard->currentPage(), kStartPage);
    EXPECT_EQ(State(), (Buttons{false, true, "Weiter  >", "Abbrechen", kNext}));
    EXPECT_TRUE(boxes.shown.empty());

    // Greek: the installer is not translated into it.
    ASSERT_TRUE(start.Choose(1023, positionOf(14)));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "'Arbolux' will be installed in the selected Langage, but the Installer, still "
              "under translation,  shall run in English.");
    EXPECT_EQ(W().Title(), "Installer \u2013 Arbolux 7.13c");
    EXPECT_EQ(W().Text(kNext), "Next  >");
    EXPECT_EQ(start.Selection(1023), positionOf(14)) << "the list keeps the pick";
    EXPECT_EQ(CurrentLanguage(), kEnglish);
}

TEST_F(Host, StartPageListsTheNineLanguagesWithFlags) {
    SelectLanguage(kFrench);
    Make();
    HeadlessDialog& start = P(kStartPage);
    const std::vector<int64_t> order = {0, 1, 2, 3, 4, 5, 14, 7, 18};
    int widest = 0;
    ASSERT_EQ(start.ItemCount(1023), 9);
    for (int i = 0; i < 9; ++i) {
        const auto item = start.Item(1023, i);
        EXPECT_EQ(item->value, order[static_cast<std::size_t>(i)]);
        EXPECT_EQ(item->text, LanguageName(static_cast<LanguageIndex>(item->value)));
        EXPECT_EQ(item->image, i) << "one flag per language";
        widest = std::max(widest, start.TextWidth(item->text));
    }
    EXPECT_EQ(start.Item(1023, 6)->text, "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac");
    EXPECT_EQ(start.Item(1023, 8)->text, "\u65e5\u672c\u8a9e");
    EXPECT_EQ(start.ImageCount(1023), 9);
    EXPECT_EQ(start.Selection(1023), 0) << "French is current";
    EXPECT_EQ(start.DropWidth(1023), widest + 30);
}

TEST_F(Host, StartTextsPerEarlierInstallation) {
    struct Case {
        PreviousInstallState state;
        const char* info;
        const char* status;
    };
    const Case cases[] = {
        {PreviousInstallState::None, "'Arbolux 7.13c' Installation.",
         "Click on 'Next' to continue."},
        {PreviousInstallState::SameVersion,
         "'Arbolux 7.13c' is already installed.\r\nDo you confirm Reinstallation ?",
         "Click on 'Next' to continue or on 'Cancel' to exit Installation."},
        {PreviousInstallState::OlderVersion, "Update from 'Arbolux 7.10' to 'Arbolux 7.13c'.",
         "Click on 'Next' to continue."},
    };
    for (const Case& c : cases) {
        settings.previousState = c.state;
        settings.previousVersionText = "Arbolux 7.10";
        Make();
        EXPECT_EQ(P(kStartPage).Text(1016), c.info);
        EXPECT_EQ(P(kStartPage).Text(1003), c.status);
        EXPECT_EQ(P(kStartPage).Text(1022), "Select Installation Langage");
    }
}

TEST_F(Host, WindowMenuOffersMinimizeRestoreAndAbout) {
    Make();
    ui.menuAnswers = {kAboutCommand};
    ui.modalScripts.push_back([](HeadlessDialog& about) {
        EXPECT_EQ(about.Title(), "About 'Installer'");
        EXPECT_EQ(about.Text(1), "OK");
        about.PressKey(Key::Enter);
    });
    W().PressKey(Key::AltSpace);
    ASSERT_EQ(ui.menusShown.size(), 1u);
    const auto& menu = ui.menusShown[0];
    ASSERT_EQ(menu.size(), 4u);
    EXPECT_EQ(menu[0].command, platform::sc::Minimize);
    EXPECT_TRUE(menu[0].enabled);
    EXPECT_EQ(menu[1].command, platform::sc::Restore);
    EXPECT_FALSE(menu[1].enabled);
    EXPECT_EQ(menu[2].command, 0);
    EXPECT_EQ(menu[3].command, kAboutCommand);
    EXPECT_EQ(menu[3].text, "&About 'Installer'...");
    ASSERT_EQ(ui.modalRuns.size(), 1u);
    EXPECT_TRUE(ui.modalScripts.empty());
    EXPECT_FALSE(W().Ended()) << "closing the About box leaves the wizard";

    // Minimised: Restore is offered instead.
    ui.menuAnswers = {platform::sc::Minimize};
    W().PressKey(Key::AltSpace);
    EXPECT_TRUE(W().IsMinimized());
    ui.menuAnswers = {platform::sc::Minimize, platform::sc::Restore};
    W().PressKey(Key::AltSpace);  // greyed: nothing happens
    EXPECT_TRUE(W().IsMinimized());
    EXPECT_FALSE(ui.menusShown.back()[0].enabled);
    EXPECT_TRUE(ui.menusShown.back()[1].enabled);
    W().PressKey(Key::AltSpace);
    EXPECT_FALSE(W().IsMinimized());
}

TEST_F(Host, LayoutGrowsTheHostToTheWidestPage) {
    Make();
    // Headless base units 6 x 13: the host is 273 x 139 units, the page area
    // right of control 1005 and above 1002; the method page (279 units) is
    // the widest, no page is taller.
    const int hostW = 273 * 6 / 4, hostH = 139 * 13 / 8;
    const int areaX = (-3 + 67) * 6 / 4, areaH = 112 * 13 / 8;
    const int dw = 279 * 6 / 4 - (hostW - areaX);
    EXPECT_EQ(W().Geometry().w, hostW + dw);
    EXPECT_EQ(W().Geometry().h, hostH);
    for (int i = 0; i < kPageCount; ++i)
        EXPECT_EQ(P(i).Geometry(), (platform::Rect{areaX, 0, hostW + dw - areaX, areaH})) << i;
    EXPECT_EQ(W().ControlRect(kNext).x, 138 * 6 / 4 + dw);
    EXPECT_EQ(W().ControlRect(kSeparator).w, 272 * 6 / 4 + dw);
    // Stretch: the start page's list widens by its page's extra width.
    const int startExtra = hostW + dw - areaX - 251 * 6 / 4;
    EXPECT_EQ(P(kStartPage).ControlRect(1023).w, 95 * 6 / 4 + startExtra);
    EXPECT_EQ(P(kStartPage).ControlRect(1022).w, 141 * 6 / 4) << "the label keeps its size";
    EXPECT_EQ(P(kProgressPage).ControlRect(1014).y, 67 * 13 / 8 + (areaH - 97 * 13 / 8));
}

}  // namespace
}  // namespace mw
