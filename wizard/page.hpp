// The contract between the wizard host and its pages. A page is a child
// dialog of the host built from its template; the host creates it once,
// lays it out, and then drives it only through UpdateData (DoDataExchange:
// load from the installation settings, or validate and store), SetTexts and
// Stretch. Page logic reaches its controls only by id through the control
// model, so it runs the same on the FLTK and on the headless toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/install_settings.hpp"
#include "platform/controls.hpp"

namespace mw::platform {
class ResourceBundle;
}

namespace mw {

// Page indexes of the host, fixed.
enum PageIndex : int32_t {
    kStartPage = 0,
    kMethodPage = 1,
    kFolderPage = 2,
    kShortcutPage = 3,
    kProgressPage = 4,
    kEndPage = 5,
};
inline constexpr int kPageCount = 6;

// Dialog template ids.
namespace dialog_id {
inline constexpr uint32_t About = 100;
inline constexpr uint32_t Host = 102;
inline constexpr uint32_t Start = 132;
inline constexpr uint32_t Folder = 133;
inline constexpr uint32_t Shortcuts = 134;
inline constexpr uint32_t Progress = 135;
inline constexpr uint32_t Method = 136;
inline constexpr uint32_t End = 137;
}  // namespace dialog_id

// Where the wizard's templates and pictures come from: the executable's own
// bundle, or the one a test names (nullptr: back to the executable's).
const platform::ResourceBundle& WizardResources();
void SetWizardResourcesForTesting(const platform::ResourceBundle* bundle);
std::optional<platform::DialogTemplate> LoadWizardTemplate(uint32_t id);
// Pictures for Bitmap and Icon controls, from WizardResources().
platform::ImageSource WizardImages();

// What Stretch does to a page's controls when the host has made the page
// larger than its template.
struct StretchRule {
    std::vector<int> wider;      // grow right by the extra width
    std::vector<int> moveRight;  // move right by the extra width
    std::vector<int> taller;     // grow down by the extra height
    std::vector<int> moveDown;   // move down by the extra height
};
void ApplyStretch(platform::Dialog& dialog, const StretchRule& rule, int dw, int dh);

class CWizardPage {
public:
    CWizardPage(uint32_t templateId, InstallSettings& settings, platform::UiToolkit& ui);
    virtual ~CWizardPage();
    CWizardPage(const CWizardPage&) = delete;
    CWizardPage& operator=(const CWizardPage&) = delete;

    // Creates the page's window as a hidden child of `host` from its
    // template and runs OnInitDialog; false when the template is missing.
    bool Create(platform::Dialog& host);

    // The framework's UpdateData: runs DoDataExchange.
    bool UpdateData(bool save) { return DoDataExchange(save); }

    // With `save`: validates and stores into the settings, false to refuse
    // leaving the page (the page has told the user why). Without: loads.
    virtual bool DoDataExchange(bool save) = 0;
    // The page's texts in the current interface language.
    virtual void SetTexts() = 0;
    // The host made the page `dw` wider and `dh` taller than its template.
    virtual void Stretch(int dw, int dh) = 0;

    uint32_t templateId() const { return templateId_; }
    bool created() const { return dialog_ != nullptr; }
    platform::Dialog& dialog() { return *dialog_; }
    const platform::Dialog& dialog() const { return *dialog_; }

protected:
    // After the controls exist; the default loads the page, as the
    // framework's dialog initialisation does.
    virtual bool OnInitDialog();
    // Notifications of the page's own controls.
    virtual void OnCommand(const platform::ControlEvent& event);

    InstallSettings& settings_;
    platform::UiToolkit& ui_;
    // The host's window, owner of the boxes and choosers the page opens.
    platform::Dialog* host_ = nullptr;
    std::unique_ptr<platform::Dialog> dialog_;

private:
    uint32_t templateId_;
};

}  // namespace mw
