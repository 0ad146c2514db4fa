// The shortcut page (page 3, advanced method only): the Start-menu shortcuts
// and their folder, shown relative to the Start Menu and changed only
// through Browse, and the desktop shortcut.
//
//   CDlgShortcut page(settings, platform::Ui());
//   page.Create(hostDialog);   // template 134
#pragma once

#include <cstdint>
#include <string>

#include "wizard/page.hpp"

namespace mw {

namespace shortcut_page {
inline constexpr int kFrame = 1012;
inline constexpr int kMenu = 1011;
inline constexpr int kFolder = 1007;
inline constexpr int kBrowse = 1006;
inline constexpr int kDesktop = 1010;
inline constexpr int kStatus = 1003;
}  // namespace shortcut_page

// What the folder edit shows for `folder`: its path relative to `root`
// (empty for the root itself), or, when it has none, the folder as it is.
std::string MenuTextOf(const std::string& root, const std::string& folder);

class CDlgShortcut final : public CWizardPage {
public:
    CDlgShortcut(InstallSettings& settings, platform::UiToolkit& ui);

    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;

    // Saves the page, opens the Start-menu chooser at startMenuFolder and,
    // unless cancelled, shows the chosen folder.
    void OnBrowse();
    // The folder edit and Browse follow the menu check box.
    void OnMenuShortcut();

    int32_t desktopChoice = 0;
    int32_t menuChoice = 0;
    std::string menuText;       // relative to startMenuRoot
    std::string startMenuRoot;  // the Start Menu, known from initialisation on

protected:
    bool OnInitDialog() override;
    void OnCommand(const platform::ControlEvent& event) override;
};

}  // namespace mw
