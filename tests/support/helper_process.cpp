#include "support/helper_process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "support/test_env.hpp"

namespace mwtest {

HelperProcess::HelperProcess(const std::vector<std::string>& args,
                             mw::platform::ProcessOptions options) {
    ::signal(SIGPIPE, SIG_IGN);  // a helper that died must not take the test with it
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        ADD_FAILURE() << "pipe";
        return;
    }
    std::vector<std::string> argv{BinPath("mwtest_helper")};
    argv.insert(argv.end(), args.begin(), args.end());
    options.stdinFd = toChild[0];
    options.stdoutFd = fromChild[1];
    auto ec = child_.Start(argv, options);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (ec) {
        ADD_FAILURE() << "cannot start mwtest_helper: " << ec.message();
        return;
    }
    started_ = true;
}

HelperProcess::~HelperProcess() {
    CloseInput();
    if (out_ >= 0) ::close(out_);
    // ChildProcess kills and reaps what is still running.
}

std::string HelperProcess::ReadLine() {
    for (;;) {
        size_t nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        if (out_ < 0) return "<eof>";
        pollfd p{out_, POLLIN, 0};
        int r = ::poll(&p, 1, 60000);
        if (r == 0) return "<timeout>";
        if (r < 0) continue;
        char buf[4096];
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            ::close(out_);
            out_ = -1;
            if (!buffered_.empty()) {
                std::string rest = buffered_;
                buffered_.clear();
                return rest;
            }
            return "<eof>";
        }
        buffered_.append(buf, static_cast<size_t>(n));
    }
}

void HelperProcess::WriteLine(const std::string& line) {
    std::string data = line + "\n";
    if (in_ >= 0 && ::write(in_, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        ADD_FAILURE() << "write to helper";
}

void HelperProcess::CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

int HelperProcess::Wait() {
    CloseInput();
    int code = -1;
    if (auto ec = child_.Wait(code)) ADD_FAILURE() << "wait: " << ec.message();
    return code;
}

void HelperProcess::Kill() {
    child_.Signal(SIGKILL);
    int code;
    child_.Wait(code);
}

}  // namespace mwtest
