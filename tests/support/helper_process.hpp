// Drives build/bin/mwtest_helper from a test: starts it with pipes on its
// standard input and output, reads its lines, and ends it.
#pragma once

#include <string>
#include <vector>

#include "platform/process.hpp"

namespace mwtest {

class HelperProcess {
public:
    // Starts mwtest_helper with `args`; fails the calling test (ADD_FAILURE)
    // when it cannot be started.
    explicit HelperProcess(const std::vector<std::string>& args,
                           mw::platform::ProcessOptions options = {});
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // The next line of output without its newline; "<eof>" at the end and
    // "<timeout>" after 60 seconds without one (a hung helper fails the test
    // rather than the whole run).
    std::string ReadLine();
    void WriteLine(const std::string& line);
    // Closing its input tells a holding helper to let go and end.
    void CloseInput();
    // Waits for the end; the exit code.
    int Wait();
    void Kill();  // SIGKILL and reap
    bool started() const { return started_; }
    mw::platform::ChildProcess& process() { return child_; }

private:
    mw::platform::ChildProcess child_;
    int in_ = -1;
    int out_ = -1;
    bool started_ = false;
    std::string buffered_;
};

}  // namespace mwtest
