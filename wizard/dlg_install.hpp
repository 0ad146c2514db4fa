// The progress page (page 4): a summary of the chosen options before the
// installation, then the surface on which the install sequence reports its
// work (log panel, progress bar, status line), and the end page (page 5)
// that says the installation is complete.
#pragma once

#include <functional>

#include "engine/install_surface.hpp"
#include "wizard/page.hpp"

namespace mw {

namespace progress_page {
inline constexpr int kLog = 1015;
inline constexpr int kProgress = 1014;
inline constexpr int kStatus = 1003;
}  // namespace progress_page

namespace end_page {
inline constexpr int kInfo = 1016;
inline constexpr int kStatus = 1003;
}  // namespace end_page

// A path shortened with "..." in place of middle folders so that
// `measure(result)` fits `width`: the first folder and the last component
// stay as long as they can; a last component that alone is too wide loses
// its end to "...".
std::string CompactPath(const std::string& path, int width,
                        const std::function<int(const std::string&)>& measure);

// `folder` in double quotation marks when it holds a space and the quoted
// form has at most 259 characters.
std::string QuoteSpaces(const std::string& folder);

class CDlgInstall final : public CWizardPage, public InstallSurface {
public:
    CDlgInstall(InstallSettings& settings, platform::UiToolkit& ui);
    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;

    // ---- InstallSurface ----
    void AppendLog(const std::string& text, bool heading) override;
    void SetStatus(const std::string& text) override;
    void SetStatusPath(const std::string& text) override;
    void ShowProgress() override;
    void SetProgress(uint64_t done, uint64_t total) override;
    void PumpEvents() override;

    void WriteSummary();

protected:
    bool OnInitDialog() override;
};

class CDlgEnd final : public CWizardPage {
public:
    CDlgEnd(InstallSettings& settings, platform::UiToolkit& ui);
    bool DoDataExchange(bool save) override;
    void SetTexts() override;
    void Stretch(int dw, int dh) override;
};

}  // namespace mw
