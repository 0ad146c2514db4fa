// The wizard host: the installer's only top-level window, with the side
// banner, one of six pages at a time and the Back, Next/Install and
// Cancel/Exit buttons. It moves between pages only through each page's data
// exchange, skips the folder and shortcut pages in the quick method, runs
// the install sequence from the progress page, asks before an unfinished
// installation is abandoned and re-labels everything when the language
// changes. Its window menu (Alt+Space, or a right-click on the banner) holds
// Minimize, Restore and the About item.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/languages.hpp"
#include "wizard/page.hpp"

namespace mw {

class CDlgInstall;
class InstallSurface;

namespace host_dialog {
inline constexpr int kNext = 1;
inline constexpr int kCancel = 2;
inline constexpr int kBack = 3;
inline constexpr int kBannerBackground = 1005;
inline constexpr int kSeparator = 1002;
// The About item's command in the window menu.
inline constexpr int kAboutCommand = 16;
}  // namespace host_dialog

// What pressing Install runs: the install sequence on the progress page.
using InstallRunner = std::function<bool(InstallSurface& surface, InstallSettings& settings)>;

class CInstallDlg final : public IRelabel {
public:
    CInstallDlg(InstallSettings& settings, platform::UiToolkit& ui, InstallRunner install);
    ~CInstallDlg() override;
    CInstallDlg(const CInstallDlg&) = delete;
    CInstallDlg& operator=(const CInstallDlg&) = delete;

    // Builds the window and its pages (OnInitDialog); false when a template
    // is missing or no window can be made.
    bool Create();
    // Create, then the modal run: 1 when the installation completed, else 2.
    int DoModal();

    void SwitchToPage(int target);
    void UpdateCaptions();
    void Relabel() override;
    void OnOK();
    void OnBack();
    void OnCancel();
    void OnSysCommand(int command);
    // The window menu, asked for by Alt+Space or a right-click on the banner.
    void OnWindowMenu();

    int currentPage() const { return currentPage_; }
    bool installing() const { return installing_; }
    platform::Dialog& dialog() { return *dialog_; }
    CWizardPage& page(int index) { return *pages_.at(static_cast<std::size_t>(index)); }
    CDlgInstall& progressPage();
    // The About item's text as the menu shows it.
    const std::string& aboutText() const { return aboutText_; }

private:
    void OnCommand(const platform::ControlEvent& event);
    void Layout();
    std::string BuildAboutText() const;

    InstallSettings& settings_;
    platform::UiToolkit& ui_;
    InstallRunner install_;
    std::unique_ptr<platform::Dialog> dialog_;
    std::array<std::unique_ptr<CWizardPage>, kPageCount> pages_;
    int currentPage_ = -1;
    bool installing_ = false;
    bool shownNoted_ = false;
    std::string aboutText_;
};

}  // namespace mw
