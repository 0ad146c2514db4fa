#include "wizard/dlg_start.hpp"

#include <algorithm>

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "app/text_format.hpp"
#include "app/version_info.hpp"
#include "platform/image.hpp"

namespace mw {

using namespace start_page;

CDlgStart::CDlgStart(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::Start, settings, ui) {}

bool CDlgStart::DoDataExchange(bool) {
    return true;
}

bool CDlgStart::OnInitDialog() {
    CWizardPage::OnInitDialog();
    int counter = 0, toSelect = -1;
    for (LanguageIndex index : kListedLanguages) AddLanguage(index, counter, toSelect);
    // The dropped list is as wide as the widest name plus 30 pixels; the
    // closed list keeps its size.
    int widest = 0;
    for (int i = 0; i < dialog_->ItemCount(kLanguages); ++i) {
        std::string text = dialog_->Item(kLanguages, i)->text;
        if (text.size() > 256) text.resize(256);
        widest = std::max(widest, dialog_->TextWidth(text));
    }
    dialog_->SetDropWidth(kLanguages, widest + 30);
    dialog_->SetSelection(kLanguages, toSelect);
    // The copyright line of the version resource; the template's text stays
    // without one.
    const std::string copyright = VersionInfo::OfRunningProgram().String("LegalCopyright");
    if (!copyright.empty()) dialog_->SetText(kCopyright, copyright);
    return true;
}

void CDlgStart::AddLanguage(LanguageIndex index, int& counter, int& toSelect) {
    platform::ListItem item;
    item.text = LanguageName(index);
    item.value = index;
    // The 18 x 12 flag, shown to the left of its name.
    if (auto flag = platform::LoadIconResource(WizardResources(), FlagIconId(index), 18, 12))
        item.image = dialog_->AddImage(kLanguages, *flag);
    const int position = dialog_->InsertItem(kLanguages, counter, item);
    ++counter;
    if (index == CurrentLanguage()) toSelect = position;
}

void CDlgStart::OnCommand(const platform::ControlEvent& event) {
    if (event.id == kLanguages && event.what == platform::Notify::SelectionChanged)
        OnLanguageChange();
}

void CDlgStart::OnLanguageChange() {
    const int position = dialog_->Selection(kLanguages);
    if (position < 0) return;
    const std::optional<platform::ListItem> item = dialog_->Item(kLanguages, position);
    if (!item) return;
    OnLanguageChosen(static_cast<LanguageIndex>(item->value));
}

void CDlgStart::SetTexts() {
    std::string earlier;
    const PreviousInstallState state = settings_.GetPreviousState(&earlier);
    const std::string product = ProductDisplayName(false);
    const std::string next = LoadCatalogString(1006);
    const std::string cancel = LoadCatalogString(1002);
    std::string info, status;
    switch (state) {
        case PreviousInstallState::None:
            info = FormatMessageText(LoadCatalogString(1100), {product});
            status = FormatMessageText(LoadCatalogString(1106), {next});
            break;
        case PreviousInstallState::SameVersion:
            info = FormatMessageText(LoadCatalogString(1102), {product}) + "\r\n" +
                   LoadCatalogString(1104);
            status = FormatMessageText(LoadCatalogString(1105), {next, cancel});
            break;
        case PreviousInstallState::NewerVersion:
            info = FormatMessageText(LoadCatalogString(1100), {product}) + "\r\n" +
                   FormatMessageText(LoadCatalogString(1103), {earlier});
            status = FormatMessageText(LoadCatalogString(1107), {cancel});
            break;
        default:  // OlderVersion and any other value
            info = FormatMessageText(LoadCatalogString(1101), {earlier, product});
            status = FormatMessageText(LoadCatalogString(1106), {next});
            break;
    }
    dialog_->SetText(kInfo, info);
    dialog_->SetText(kStatus, status);
    dialog_->SetText(kLabel, LoadCatalogString(1014));
}

void CDlgStart::Stretch(int dw, int dh) {
    ApplyStretch(*dialog_, {{kLanguages, kCopyright, kInfo, kStatus}, {}, {kInfo}, {kStatus}}, dw,
                 dh);
}

}  // namespace mw
