// The method page (page 1): quick or advanced installation. Only the
// advanced one shows the folder and shortcut pages.
//
//   CDlgMode page(settings, platform::Ui());
//   page.Create(hostDialog);   // template 136
#pragma once

#include <cstdint>

#include "wizard/page.hpp"

namespace mw {

namespace method_page {
inline constexpr int kFrame = 1021;
inline constexpr int kQuick = 1018;  // first of the radio group
inline constexpr int kAdvanced = 1019;
inline constexpr int kStatus = 1003;
}  // namespace method_page

class CDlgMode final : public CWizardPage {
public:
    CDlgMode(InstallSettings& settings, platform::UiToolkit& ui);

    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;

    // Position of the checked button of the group: 0 quick, 1 advanced, -1
    // none.
    int32_t methodChoice = -1;
};

}  // namespace mw
