// The install surface of the unattended install: the page's log goes to
// standard output line by line as the page would show it (a heading is a
// line of dashes across 60 columns with the text in its middle), and the last
// status line goes to standard error when the installation is over.
#pragma once

#include <cstdio>
#include <string>

#include "engine/install_surface.hpp"

namespace mwtool {

inline constexpr std::size_t kConsoleColumns = 60;

// The heading line for `text` (without a line end): `columns` minus the
// text's width with a space on each side, half the dashes on the left, the
// extra one on the right; a text wider than that keeps its spaces only.
std::string DashedHeading(const std::string& text, std::size_t columns = kConsoleColumns);

class ConsoleSurface : public mw::InstallSurface {
public:
    ConsoleSurface(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}
    ~ConsoleSurface() override { Flush(); }

    void AppendLog(const std::string& text, bool heading) override;
    void SetStatus(const std::string& text) override { status_ = text; }
    void SetStatusPath(const std::string& text) override { status_ = text; }
    void ShowProgress() override {}
    void SetProgress(uint64_t, uint64_t) override {}
    void PumpEvents() override {}

    // Writes what is left of the current line, then the status line to
    // standard error.
    void Finish();
    const std::string& status() const { return status_; }

private:
    void Flush();

    std::FILE* out_;
    std::FILE* err_;
    std::string line_;
    std::string status_;
};

}  // namespace mwtool
