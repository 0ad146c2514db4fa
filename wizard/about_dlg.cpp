#include "wizard/about_dlg.hpp"

#include "app/languages.hpp"
#include "app/text_format.hpp"
#include "app/version_info.hpp"
#include "wizard/page.hpp"

namespace mw {

CAboutDlg::CAboutDlg(platform::UiToolkit& ui, platform::Window* owner) : ui_(ui), owner_(owner) {}

int CAboutDlg::DoModal() {
    std::optional<platform::DialogTemplate> source = LoadWizardTemplate(dialog_id::About);
    if (!source) return 0;
    std::unique_ptr<platform::Dialog> box = ui_.CreateDialog(*source, nullptr, owner_);
    if (!box) return 0;
    box->SetWindowClass("About");
    std::string caption = LoadCatalogString(1003);
    if (caption.empty()) caption = source->caption;
    box->SetTitle(FormatMessageText(caption, {BuildTitle(false)}));
    const std::string program = VersionInfo::OfRunningProgram().ProductText();
    if (!program.empty()) box->SetText(about_box::kProgram, program);
    box->SetText(platform::cmd::Ok, LoadCatalogString(1001));
    // Placed over the middle of its owner.
    if (auto* owner = dynamic_cast<platform::Dialog*>(owner_)) {
        const platform::Rect o = owner->Geometry();
        const platform::Rect r = box->Geometry();
        box->SetGeometry({o.x + (o.w - r.w) / 2, o.y + (o.h - r.h) / 2, r.w, r.h});
    }
    return box->RunModal();
}

}  // namespace mw
