#include "wizard/dlg_mode.hpp"

#include "app/languages.hpp"
#include "wizard/page_texts.hpp"

namespace mw {

namespace {

constexpr int kGroup[] = {method_page::kQuick, method_page::kAdvanced};

}  // namespace

CDlgMode::CDlgMode(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::Method, settings, ui) {}

bool CDlgMode::DoDataExchange(bool save) {
    platform::Dialog& d = dialog();
    if (!save) {
        methodChoice = settings_.advancedInstall ? 1 : 0;
        for (int i = 0; i < 2; ++i) d.SetChecked(kGroup[i], i == methodChoice);
        return true;
    }
    methodChoice = -1;
    for (int i = 0; i < 2; ++i) {
        if (d.IsChecked(kGroup[i])) {
            methodChoice = i;
            break;
        }
    }
    settings_.advancedInstall = methodChoice == 1;
    return true;
}

void CDlgMode::SetTexts() {
    platform::Dialog& d = dialog();
    d.SetText(method_page::kFrame, LoadCatalogString(1015));
    d.SetText(method_page::kQuick, LoadCatalogString(1016));
    d.SetText(method_page::kAdvanced, LoadCatalogString(1017));
    d.SetText(method_page::kStatus, ContinueStatusText());
}

void CDlgMode::Stretch(int dw, int dh) {
    using namespace method_page;
    ApplyStretch(dialog(), {{kFrame, kQuick, kAdvanced, kStatus}, {}, {}, {kStatus}}, dw, dh);
}

}  // namespace mw
