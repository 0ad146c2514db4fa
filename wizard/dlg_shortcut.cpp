#include "wizard/dlg_shortcut.hpp"

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "platform/roots.hpp"
#include "wizard/folder_browser.hpp"
#include "wizard/page_texts.hpp"

namespace mw {

namespace {

constexpr uint32_t kFrameText = 1009;
constexpr uint32_t kMenuText = 1112;  // "Create a Shortcut in the following Menu:"
constexpr uint32_t kBrowseText = 1008;
constexpr uint32_t kDesktopText = 1113;

}  // namespace

std::string MenuTextOf(const std::string& root, const std::string& folder) {
    std::optional<std::string> rel = RelativeFolderPath(root, folder);
    return rel ? *rel : CanonicalFolder(folder);
}

CDlgShortcut::CDlgShortcut(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::Shortcuts, settings, ui) {}

bool CDlgShortcut::OnInitDialog() {
    // Loading needs the root, so it is known first.
    startMenuRoot = platform::SpecialFolder(platform::csidl::CommonStartMenu);
    if (startMenuRoot.empty()) startMenuRoot = platform::SpecialFolder(platform::csidl::StartMenu);
    CWizardPage::OnInitDialog();
    OnMenuShortcut();
    return true;
}

bool CDlgShortcut::DoDataExchange(bool save) {
    platform::Dialog& d = dialog();
    if (!save) {
        desktopChoice = settings_.desktopShortcut;
        menuChoice = settings_.startMenuShortcut;
        menuText = MenuTextOf(startMenuRoot, settings_.startMenuFolder);
        d.SetChecked(shortcut_page::kDesktop, desktopChoice != 0);
        d.SetChecked(shortcut_page::kMenu, menuChoice != 0);
        d.SetText(shortcut_page::kFolder, menuText);
        d.SetTextLimit(shortcut_page::kFolder, static_cast<int>(kMaxFolderChars));
        return true;
    }
    desktopChoice = d.IsChecked(shortcut_page::kDesktop);
    menuChoice = d.IsChecked(shortcut_page::kMenu);
    menuText = d.Text(shortcut_page::kFolder);
    if (!CheckFolderTextLength(menuText) || !CheckFolderTextCharacters(menuText)) {
        d.SetFocus(shortcut_page::kFolder);
        return false;
    }
    settings_.desktopShortcut = desktopChoice != 0;
    settings_.startMenuShortcut = menuChoice != 0;
    settings_.startMenuFolder = CombineFolderPath(startMenuRoot, menuText);
    return true;
}

void CDlgShortcut::SetTexts() {
    platform::Dialog& d = dialog();
    d.SetText(shortcut_page::kFrame, LoadCatalogString(kFrameText));
    d.SetText(shortcut_page::kMenu, LoadCatalogString(kMenuText));
    d.SetText(shortcut_page::kBrowse, LoadCatalogString(kBrowseText));
    d.SetText(shortcut_page::kDesktop, LoadCatalogString(kDesktopText));
    d.SetText(shortcut_page::kStatus, ContinueStatusText());
}

void CDlgShortcut::Stretch(int dw, int dh) {
    using namespace shortcut_page;
    ApplyStretch(dialog(), {{kFrame, kMenu, kFolder, kDesktop, kStatus}, {kBrowse}, {}, {kStatus}},
                 dw, dh);
}

void CDlgShortcut::OnCommand(const platform::ControlEvent& event) {
    if (event.what != platform::Notify::Clicked) return;
    if (event.id == shortcut_page::kMenu) OnMenuShortcut();
    if (event.id == shortcut_page::kBrowse) OnBrowse();
}

void CDlgShortcut::OnMenuShortcut() {
    const bool wanted = dialog().IsChecked(shortcut_page::kMenu);
    dialog().Enable(shortcut_page::kFolder, wanted);
    dialog().Enable(shortcut_page::kBrowse, wanted);
}

void CDlgShortcut::OnBrowse() {
    UpdateData(true);
    MenuFolderChoice choice = BrowseForMenuFolder(
        ui_, settings_.startMenuFolder, ProductKeyName(productCode), LoadCatalogString(kMenuText));
    if (choice.folder.empty()) return;
    menuText = choice.relative;
    settings_.startMenuFolder = choice.folder;
    UpdateData(false);
}

}  // namespace mw
