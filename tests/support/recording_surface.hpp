// An install surface that keeps a transcript of every call, for tests of the
// install sequence: the log as the page would show it (headings as "----"),
// the status lines in order, and each call as one line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/install_surface.hpp"

namespace mwtest {

class RecordingSurface : public mw::InstallSurface {
public:
    void AppendLog(const std::string& text, bool heading) override {
        calls.push_back("AppendLog(" + text + (heading ? ", heading)" : ")"));
        log += heading || text.empty() ? "----" + text + "----\r\n" : text;
    }
    void SetStatus(const std::string& text) override {
        calls.push_back("SetStatus(" + text + ")");
        statuses.push_back(text);
    }
    void SetStatusPath(const std::string& text) override {
        calls.push_back("SetStatusPath(" + text + ")");
        statuses.push_back(text);
    }
    void ShowProgress() override {
        calls.push_back("ShowProgress");
        progress = 0;
    }
    void SetProgress(uint64_t done, uint64_t total) override {
        progress = mw::ProgressPercent(done, total);
    }
    void PumpEvents() override { ++pumps; }
    void ShowWaitCursor(bool shown) override { waitCursor += shown ? 1 : -1; }

    // The log split into its lines (CR LF removed).
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t at; (at = log.find("\r\n", start)) != std::string::npos; start = at + 2) {
            lines.push_back(log.substr(start, at - start));
        }
        if (start < log.size()) lines.push_back(log.substr(start));
        return lines;
    }
    const std::string& status() const {
        static const std::string none;
        return statuses.empty() ? none : statuses.back();
    }

    std::vector<std::string> calls;
    std::vector<std::string> statuses;
    std::string log;
    int progress = -1;
    int pumps = 0;
    int waitCursor = 0;
};

}  // namespace mwtest
