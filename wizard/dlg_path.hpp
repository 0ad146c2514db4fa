// The folder page (page 2, advanced method only): the installation folder,
// typed or chosen with Browse. An earlier installation of any kind locks it,
// so that an update or re-installation always goes into the earlier folder.
//
//   CDlgPath page(settings, platform::Ui());
//   page.Create(hostDialog);   // template 133
#pragma once

#include <string>

#include "wizard/page.hpp"

namespace mw {

namespace folder_page {
inline constexpr int kFrame = 1008;
inline constexpr int kPrompt = 1009;
inline constexpr int kFolder = 1007;
inline constexpr int kBrowse = 1006;
inline constexpr int kStatus = 1003;
}  // namespace folder_page

class CDlgPath final : public CWizardPage {
public:
    CDlgPath(InstallSettings& settings, platform::UiToolkit& ui);

    // Leaving refuses a text of more than 260 characters (message 61716) or
    // one holding a control character; any other text passes, an empty or
    // relative one included.
    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;

    // Saves the page (its result does not matter), opens the folder chooser
    // at installFolder and, unless cancelled, shows the chosen folder.
    void OnBrowse();

    std::string folderText;

protected:
    bool OnInitDialog() override;
    void OnCommand(const platform::ControlEvent& event) override;
};

}  // namespace mw
