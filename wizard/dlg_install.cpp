#include "wizard/dlg_install.hpp"

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "app/text_format.hpp"

namespace mw {
namespace {

constexpr std::size_t kMaxPath = 260;

// Code points of a UTF-8 text.
std::size_t Characters(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The text cut to its longest leading part (whole characters) that fits
// `width` with "..." behind it.
std::string CutEnd(const std::string& text, int width,
                   const std::function<int(const std::string&)>& measure) {
    std::string cut = text;
    while (!cut.empty()) {
        if (measure(cut + "...") <= width) return cut + "...";
        do cut.pop_back();
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
        if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0xC0) cut.pop_back();
    }
    return "...";
}

}  // namespace

std::string CompactPath(const std::string& path, int width,
                        const std::function<int(const std::string&)>& measure) {
    if (measure(path) <= width) return path;
    const std::size_t lastSlash = path.rfind('/');
    if (lastSlash == std::string::npos || lastSlash == 0) return CutEnd(path, width, measure);
    const std::string last = path.substr(lastSlash);  // with its "/"
    // Keep as many leading characters as fit, ending at a folder boundary.
    std::string head = path.substr(0, lastSlash);
    while (true) {
        const std::size_t slash = head.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        head.resize(slash);
        const std::string candidate = head + "/..." + last;
        if (measure(candidate) <= width) return candidate;
    }
    const std::string root = path[0] == '/' ? "/..." : "...";
    if (measure(root + last) <= width) return root + last;
    return CutEnd(last.substr(1), width, measure);
}

std::string QuoteSpaces(const std::string& folder) {
    if (folder.find(' ') == std::string::npos) return folder;
    if (Characters(folder) + 2 >= kMaxPath) return folder;
    return "\"" + folder + "\"";
}

// ---- CDlgInstall ----

using namespace progress_page;

CDlgInstall::CDlgInstall(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::Progress, settings, ui) {}

bool CDlgInstall::OnInitDialog() {
    CWizardPage::OnInitDialog();
    dialog_->SetProgress(kProgress, 0);
    dialog_->Show(kProgress, false);
    return true;
}

bool CDlgInstall::DoDataExchange(bool save) {
    if (!save && !settings_.installed) WriteSummary();
    return true;
}

void CDlgInstall::WriteSummary() {
    dialog_->SetText(kLog, "");
    AppendLog(FormatMessageText(LoadCatalogString(1100), {ProductDisplayName(false)}) + "\r\n",
              false);
    AppendLog(LoadCatalogString(1122), true);
    AppendLog(
        FormatMessageText(LoadCatalogString(1123), {QuoteSpaces(settings_.installFolder)}) + "\r\n",
        false);
    if (settings_.startMenuShortcut) {
        AppendLog(
            FormatMessageText(LoadCatalogString(1124), {QuoteSpaces(settings_.startMenuFolder)}) +
                "\r\n",
            false);
    }
    if (settings_.desktopShortcut) AppendLog(LoadCatalogString(1125) + "\r\n", false);
    dialog_->ScrollToTop(kLog);
}

void CDlgInstall::AppendLog(const std::string& text, bool heading) {
    std::string line = text;
    if (text.empty() || heading) {
        int available = dialog_->TextAreaWidth(kLog) - 2;
        std::string middle;
        if (!text.empty()) {
            middle = " " + text + " ";
            available -= dialog_->TextWidth(middle);
        }
        const int dash = dialog_->TextWidth("-");
        const int n = dash > 0 ? available / dash : 0;
        line.clear();
        if (text.empty()) {
            if (n > 0) line.assign(static_cast<std::size_t>(n), '-');
        } else {
            if (n / 2 > 0) line.assign(static_cast<std::size_t>(n / 2), '-');
            line += middle;
            if ((n + 1) / 2 > 0) line.append(static_cast<std::size_t>((n + 1) / 2), '-');
        }
        line += "\r\n";
    }
    dialog_->AppendText(kLog, line);
}

void CDlgInstall::SetStatus(const std::string& text) {
    dialog_->SetText(kStatus, text);
}

void CDlgInstall::SetStatusPath(const std::string& text) {
    const int width = dialog_->ControlRect(kStatus).w;
    dialog_->SetText(kStatus, CompactPath(text, width, [this](const std::string& s) {
                         return dialog_->TextWidth(s);
                     }));
}

void CDlgInstall::ShowProgress() {
    dialog_->SetProgress(kProgress, 0);
    dialog_->Show(kProgress, true);
}

void CDlgInstall::SetProgress(uint64_t done, uint64_t total) {
    dialog_->SetProgress(kProgress, ProgressPercent(done, total));
}

void CDlgInstall::PumpEvents() {
    ui_.PumpEvents();
}

void CDlgInstall::SetTexts() {
    dialog_->SetText(kStatus,
                     FormatMessageText(LoadCatalogString(1108), {LoadCatalogString(1007)}));
}

void CDlgInstall::Stretch(int dw, int dh) {
    ApplyStretch(*dialog_, {{kLog, kProgress, kStatus}, {}, {kLog}, {kProgress, kStatus}}, dw, dh);
}

// ---- CDlgEnd ----

CDlgEnd::CDlgEnd(InstallSettings& settings, platform::UiToolkit& ui)
    : CWizardPage(dialog_id::End, settings, ui) {}

bool CDlgEnd::DoDataExchange(bool save) {
    if (!save && settings_.installed) dialog_->SetText(end_page::kInfo, LoadCatalogString(1120));
    return true;
}

void CDlgEnd::SetTexts() {
    dialog_->SetText(end_page::kInfo, "");
    dialog_->SetText(end_page::kStatus,
                     FormatMessageText(LoadCatalogString(1107), {LoadCatalogString(1004)}));
}

void CDlgEnd::Stretch(int dw, int dh) {
    ApplyStretch(*dialog_,
                 {{end_page::kInfo, end_page::kStatus}, {}, {end_page::kInfo}, {end_page::kStatus}},
                 dw, dh);
}

}  // namespace mw
