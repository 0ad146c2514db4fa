// The surface on which the install sequence reports its work: the progress
// page's operations as one interface, so that the sequence runs the same in
// the wizard, in the unattended console install and in tests (a transcript
// of calls). The engine reaches the user only through it.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace mw {

class InstallSurface {
public:
    virtual ~InstallSurface() = default;

    // Appends `text` to the log. A heading, or an empty text, becomes a full
    // line of dashes with the text in its middle, ended by CR LF; any other
    // text is appended unchanged (a caller that wants a line break includes
    // CR LF itself, so a result word can complete a line).
    virtual void AppendLog(const std::string& text, bool heading) = 0;
    // The status line shows the text.
    virtual void SetStatus(const std::string& text) = 0;
    // The status line shows the text, shortened in the middle the way a path
    // is, so that it fits.
    virtual void SetStatusPath(const std::string& text) = 0;
    // The progress bar goes to 0 and becomes visible.
    virtual void ShowProgress() = 0;
    // The progress bar shows ProgressPercent(done, total).
    virtual void SetProgress(uint64_t done, uint64_t total) = 0;
    // Run while a long step works on this thread (the DirectX setup's
    // progress callback): the wizard processes its pending window events so
    // that it repaints; a surface without a window does nothing.
    virtual void PumpEvents() = 0;
    // The wait cursor, shown during the sequence and during the shell's
    // association update; a surface without a window does nothing.
    virtual void ShowWaitCursor(bool /*shown*/) {}

    // The installed program's and uninstaller's full paths: emptied when the
    // sequence starts, filled during extraction, read by the later steps.
    std::string programPath;
    std::string uninstallerPath;
};

// done × 100 ÷ total rounded half up, but 99 instead of 100 while done is
// still below total; 0 for a total of 0.
inline int ProgressPercent(uint64_t done, uint64_t total) {
    if (total == 0) return 0;
    const int percent = static_cast<int>(
        std::floor(static_cast<double>(done) * 100.0 / static_cast<double>(total) + 0.5));
    if (percent >= 100 && done < total) return 99;
    return percent > 100 ? 100 : percent;
}

}  // namespace mw
