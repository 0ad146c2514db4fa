#include "wizard/install_dlg.hpp"

#include "app/app_services.hpp"
#include "app/text_format.hpp"
#include "platform/image.hpp"
#include "platform/message_box.hpp"
#include "wizard/about_dlg.hpp"
#include "wizard/dlg_install.hpp"
#include "wizard/dlg_mode.hpp"
#include "wizard/dlg_path.hpp"
#include "wizard/dlg_shortcut.hpp"
#include "wizard/dlg_start.hpp"

namespace mw {

using namespace host_dialog;
using platform::Rect;

CInstallDlg::CInstallDlg(InstallSettings& settings, platform::UiToolkit& ui, InstallRunner install)
    : settings_(settings), ui_(ui), install_(std::move(install)) {
    pages_[kStartPage] = std::make_unique<CDlgStart>(settings, ui);
    pages_[kMethodPage] = std::make_unique<CDlgMode>(settings, ui);
    pages_[kFolderPage] = std::make_unique<CDlgPath>(settings, ui);
    pages_[kShortcutPage] = std::make_unique<CDlgShortcut>(settings, ui);
    pages_[kProgressPage] = std::make_unique<CDlgInstall>(settings, ui);
    pages_[kEndPage] = std::make_unique<CDlgEnd>(settings, ui);
}

CInstallDlg::~CInstallDlg() {
    SetRelabelTarget(nullptr);
    if (shownNoted_) NoteTopLevelWindowHidden(dialog_.get());
    // The pages' windows go before the host's.
    for (auto& page : pages_) page.reset();
}

CDlgInstall& CInstallDlg::progressPage() {
    return static_cast<CDlgInstall&>(page(kProgressPage));
}

std::string CInstallDlg::BuildAboutText() const {
    std::string text = FormatMessageText(LoadCatalogString(1003), {BuildTitle(false)});
    if (IsRightToLeft(CurrentLanguage())) return "..." + text;
    return "&" + text + "...";
}

bool CInstallDlg::Create() {
    ui_.SetImageSource(WizardImages());
    std::optional<platform::DialogTemplate> source = LoadWizardTemplate(dialog_id::Host);
    if (!source) return false;
    dialog_ = ui_.CreateDialog(*source, nullptr);
    if (!dialog_) return false;
    dialog_->SetWindowClass("Wizard");
    dialog_->SetHandler([this](const platform::ControlEvent& event) { OnCommand(event); });
    dialog_->SetTitle(BuildTitle(true));
    aboutText_ = BuildAboutText();
    if (auto icon = platform::LoadIconResource(WizardResources(), 128)) dialog_->SetIcon(*icon);
    for (auto& page : pages_)
        if (!page->Create(*dialog_)) return false;
    Layout();
    SetRelabelTarget(this);
    Relabel();
    SwitchToPage(kStartPage);
    if (settings_.previousState == PreviousInstallState::NewerVersion)
        dialog_->Enable(kNext, false);
    return true;
}

int CInstallDlg::DoModal() {
    if (!dialog_ && !Create()) return 2;
    NoteTopLevelWindowShown(dialog_.get(), false);
    shownNoted_ = true;
    const int result = dialog_->RunModal();
    NoteTopLevelWindowHidden(dialog_.get());
    shownNoted_ = false;
    return result == 1 ? 1 : 2;
}

void CInstallDlg::Layout() {
    const Rect window = dialog_->Geometry();
    const Rect banner = dialog_->ControlRect(kBannerBackground);
    const Rect separator = dialog_->ControlRect(kSeparator);
    const Rect area{banner.right(), 0, window.w - banner.right(), separator.y};
    Rect u = area;
    for (auto& page : pages_) {
        const Rect r = page->dialog().Geometry();
        page->dialog().SetGeometry({area.x, area.y, r.w, r.h});
        u = platform::Union(u, page->dialog().Geometry());
    }
    const int dw = u.w - area.w, dh = u.h - area.h;
    dialog_->SetGeometry({window.x, window.y, window.w + dw, window.h + dh});
    for (auto& page : pages_) {
        const Rect before = page->dialog().Geometry();
        page->dialog().SetGeometry(u);
        page->Stretch(u.w - before.w, u.h - before.h);
    }
    auto move = [this](int id, int dx, int dy, int dwidth, int dheight) {
        const Rect r = dialog_->ControlRect(id);
        dialog_->SetControlRect(id, {r.x + dx, r.y + dy, r.w + dwidth, r.h + dheight});
    };
    move(kBannerBackground, 0, 0, 0, dh);
    move(kSeparator, 0, dh, dw, 0);
    for (int id : {kBack, kNext, kCancel}) move(id, dw, dh, 0, 0);
}

void CInstallDlg::SwitchToPage(int target) {
    if (target < 0 || target >= kPageCount) return;
    if (currentPage_ != -1) {
        if (!page(currentPage_).UpdateData(true)) return;
        page(currentPage_).dialog().ShowDialog(false);
    }
    int t = target;
    if (!settings_.advancedInstall && target != currentPage_) {
        while (t == kFolderPage || t == kShortcutPage) t += target - currentPage_ > 0 ? 1 : -1;
    }
    if (t != currentPage_) page(t).UpdateData(false);
    currentPage_ = t;
    page(t).dialog().ShowDialog(true);
    UpdateCaptions();
    dialog_->Enable(kBack,
                    (currentPage_ > 0 && !settings_.installed) || currentPage_ > kProgressPage);
    const bool next = currentPage_ < kEndPage;
    dialog_->Enable(kNext, next);
    const int focus = next ? kNext : kCancel;
    dialog_->SetFocus(focus);
    dialog_->SetDefaultButton(focus);
}

void CInstallDlg::UpdateCaptions() {
    if (currentPage_ == kProgressPage && !settings_.installed) {
        dialog_->SetText(kNext, LoadCatalogString(1007));
    } else {
        dialog_->SetText(kNext, LoadCatalogString(1006) + "  >");
    }
    dialog_->SetText(kBack, "<  " + LoadCatalogString(1005));
    dialog_->SetText(kCancel, LoadCatalogString(settings_.installed ? 1004 : 1002));
}

void CInstallDlg::Relabel() {
    dialog_->SetTitle(BuildTitle(true));
    aboutText_ = BuildAboutText();
    UpdateCaptions();
    for (int index : {kStartPage, kMethodPage, kFolderPage, kShortcutPage, kProgressPage, kEndPage})
        page(index).SetTexts();
}

void CInstallDlg::OnOK() {
    if (installing_) return;
    if (currentPage_ == kProgressPage && !settings_.installed) {
        for (int id : {kBack, kNext, kCancel}) dialog_->Enable(id, false);
        installing_ = true;
        settings_.installed = install_ ? install_(progressPage(), settings_) : false;
        installing_ = false;
        SwitchToPage(kProgressPage);
        dialog_->Enable(kCancel, true);
        return;
    }
    if (currentPage_ >= kStartPage && currentPage_ <= kProgressPage) SwitchToPage(currentPage_ + 1);
}

void CInstallDlg::OnBack() {
    if (installing_) return;
    SwitchToPage(currentPage_ - 1);
}

void CInstallDlg::OnCancel() {
    // While the install sequence runs (its DirectX step dispatches window
    // events), neither the close button nor Escape may end the wizard under
    // the files being installed.
    if (installing_) return;
    if (settings_.installed) {
        dialog_->EndDialog(1);
        return;
    }
    if (settings_.previousState == PreviousInstallState::NewerVersion ||
        (settings_.previousState == PreviousInstallState::SameVersion &&
         currentPage_ == kStartPage)) {
        dialog_->EndDialog(2);
        return;
    }
    const int answer =
        AppMessageBox(LoadCatalogString(1110),
                      platform::mb::YesNo | platform::mb::IconQuestion | platform::mb::DefButton2);
    if (answer == platform::idc::Yes) dialog_->EndDialog(2);
}

void CInstallDlg::OnSysCommand(int command) {
    if ((command & ~0xF) == kAboutCommand) {
        CAboutDlg about(ui_, dialog_.get());
        about.DoModal();
        return;
    }
    if (command == platform::sc::Minimize) dialog_->Minimize();
    if (command == platform::sc::Restore) dialog_->Restore();
    if (command == platform::sc::Close) OnCancel();
}

void CInstallDlg::OnWindowMenu() {
    const bool minimized = dialog_->IsMinimized();
    std::vector<platform::MenuItem> items = {
        {platform::sc::Minimize, platform::SystemMenuText(platform::sc::Minimize), !minimized},
        {platform::sc::Restore, platform::SystemMenuText(platform::sc::Restore), minimized},
    };
    if (!aboutText_.empty()) {
        items.push_back({0, "", true});
        items.push_back({kAboutCommand, aboutText_, true});
    }
    if (const int command = dialog_->PopupMenu(items)) OnSysCommand(command);
}

void CInstallDlg::OnCommand(const platform::ControlEvent& event) {
    using platform::Notify;
    switch (event.what) {
        case Notify::Clicked:
            if (event.id == kNext) OnOK();
            if (event.id == kBack) OnBack();
            if (event.id == kCancel) OnCancel();
            break;
        case Notify::SystemMenu:
            OnWindowMenu();
            break;
        case Notify::SysCommand:
            OnSysCommand(event.item);
            break;
        default:
            break;
    }
}

}  // namespace mw
