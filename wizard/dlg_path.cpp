#include "wizard/dlg_path.hpp"

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "app/text_format.hpp"
#include "wizard/folder_browser.hpp"
#include "wizard/page_texts.hpp"

namespace mw {

namespace {

constexpr uint32_t kFrameText = 1010;
constexpr uint32_t kPromptText = 1111;  // "Select '%1' Installation Folder."
constexpr uint32_t kBrowseText = 1008;

std::string PromptText() {
    return FormatMessageText(LoadCatalogString(kPromptText), {ProductDisplayName(true)});
}

}  // namespace

CDlgPath::CDlgPath(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::Folder, settings, ui) {}

bool CDlgPath::OnInitDialog() {
    CWizardPage::OnInitDialog();
    if (settings_.previousState != PreviousInstallState::None) {
        dialog().Enable(folder_page::kPrompt, false);
        dialog().Enable(folder_page::kBrowse, false);
        dialog().SetReadOnly(folder_page::kFolder, true);
    }
    return true;
}

bool CDlgPath::DoDataExchange(bool save) {
    platform::Dialog& d = dialog();
    if (!save) {
        folderText = settings_.installFolder;
        d.SetText(folder_page::kFolder, folderText);
        d.SetTextLimit(folder_page::kFolder, static_cast<int>(kMaxFolderChars));
        return true;
    }
    folderText = d.Text(folder_page::kFolder);
    if (!CheckFolderTextLength(folderText) || !CheckFolderTextCharacters(folderText)) {
        d.SetFocus(folder_page::kFolder);
        return false;
    }
    settings_.installFolder = folderText;
    return true;
}

void CDlgPath::SetTexts() {
    platform::Dialog& d = dialog();
    d.SetText(folder_page::kFrame, LoadCatalogString(kFrameText));
    d.SetText(folder_page::kPrompt, PromptText());
    d.SetText(folder_page::kBrowse, LoadCatalogString(kBrowseText));
    d.SetText(folder_page::kStatus, ContinueStatusText());
}

void CDlgPath::Stretch(int dw, int dh) {
    using namespace folder_page;
    ApplyStretch(dialog(), {{kFrame, kPrompt, kFolder, kStatus}, {kBrowse}, {}, {kStatus}}, dw, dh);
}

void CDlgPath::OnCommand(const platform::ControlEvent& event) {
    if (event.id == folder_page::kBrowse && event.what == platform::Notify::Clicked) OnBrowse();
}

void CDlgPath::OnBrowse() {
    UpdateData(true);
    std::string chosen =
        BrowseForFolder(ui_, settings_.installFolder, ProductKeyName(productCode), PromptText());
    if (chosen.empty()) return;
    settings_.installFolder = chosen;
    UpdateData(false);
}

}  // namespace mw
