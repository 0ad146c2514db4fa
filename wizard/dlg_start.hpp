// The start page (page 0): what is about to happen given the earlier
// installation found at start-up, a copyright line, and the list of the
// product's languages with their flags. Picking a language runs the
// language-change rule, which re-labels the whole wizard.
#pragma once

#include "app/languages.hpp"
#include "wizard/page.hpp"

namespace mw {

namespace start_page {
inline constexpr int kLabel = 1022;
inline constexpr int kLanguages = 1023;
inline constexpr int kCopyright = 1020;
inline constexpr int kInfo = 1016;
inline constexpr int kStatus = 1003;
}  // namespace start_page

// The product's languages in the order of the list.
inline constexpr LanguageIndex kListedLanguages[] = {0, 1, 2, 3, 4, 5, 14, 7, 18};

class CDlgStart final : public CWizardPage {
public:
    CDlgStart(InstallSettings& settings, platform::UiToolkit& ui);
    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;
    // The user picked an item of the list.
    void OnLanguageChange();

protected:
    bool OnInitDialog() override;
    void OnCommand(const platform::ControlEvent& event) override;

private:
    void AddLanguage(LanguageIndex index, int& counter, int& toSelect);
};

}  // namespace mw
