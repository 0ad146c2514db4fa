// A small program the tests start to act as another process (or another
// user): it takes locks, counts itself in, hammers the registry store, shows
// what it inherited, and tries the elevation offer. Commands that hold
// something print one line when ready and then wait for stdin to close.
#include <dirent.h>
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/elevation.hpp"
#include "platform/locks.hpp"
#include "platform/registry.hpp"

using namespace mw::platform;

namespace {

void Say(const std::string& line) {
    std::cout << line << std::endl;  // flushed: the test reads line by line
}

// Handles "count" lines until stdin closes.
void Serve(InstanceCounter* counter) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "count" && counter) Say(std::to_string(counter->Count()));
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: mwtest_helper mutex NAME | count NAME | wait | fds | id | args ARGS... |\n"
                 "       exit CODE | reg-increment DB TIMES | reg-restore-loop DB KEY A B |\n"
                 "       elevate\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& cmd = args[0];

    if (cmd == "mutex" && args.size() == 2) {
        NamedMutex m(args[1], false, true);
        Say(!m.valid() ? "nohandle" : m.TryAcquire() ? "owned" : "busy");
        Serve(nullptr);
        return 0;
    }
    if (cmd == "wait" && args.size() == 1) {
        Say("ready");
        Serve(nullptr);
        return 0;
    }
    if (cmd == "count" && args.size() == 2) {
        InstanceCounter c(args[1]);
        Say("counted " + std::to_string(c.held()));
        Serve(&c);
        return 0;
    }
    if (cmd == "fds" && args.size() == 1) {
        DIR* d = ::opendir("/proc/self/fd");
        if (!d) return 1;
        int self = ::dirfd(d);
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.' || std::atoi(e->d_name) == self) continue;
            char target[4096];
            ssize_t n = ::readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target,
                                   sizeof target - 1);
            if (n < 0) continue;
            Say(std::string(e->d_name) + " " + std::string(target, static_cast<size_t>(n)));
        }
        ::closedir(d);
        return 0;
    }
    if (cmd == "id" && args.size() == 1) {
        gid_t groups[256];
        int n = ::getgroups(256, groups);
        std::string line = std::to_string(::getuid()) + " " + std::to_string(::geteuid()) + " " +
                           std::to_string(::getgid()) + " groups";
        for (int i = 0; i < n; ++i) line += " " + std::to_string(groups[i]);
        Say(line);
        Say(std::string("admin ") + (IsAdministrator() ? "1" : "0"));
        char cwd[4096];
        Say(std::string("cwd ") + (::getcwd(cwd, sizeof cwd) ? cwd : "?"));
        const char* probe = std::getenv("MW_PROBE");
        Say(std::string("probe ") + (probe ? probe : "(unset)"));
        return 0;
    }
    if (cmd == "args") {
        for (size_t i = 1; i < args.size(); ++i)
            Say(std::to_string(args[i].size()) + ":" + args[i]);
        return 0;
    }
    if (cmd == "exit" && args.size() == 2) return std::atoi(args[1].c_str());

    if (cmd == "reg-increment" && args.size() == 3) {
        std::error_code ec;
        auto reg = OpenRegistryAt(args[1], ec);
        if (!reg) {
            std::fprintf(stderr, "open: %s\n", ec.message().c_str());
            return 1;
        }
        const int times = std::atoi(args[2].c_str());
        for (int i = 0; i < times; ++i) {
            ec = reg->UpdateValue("Counter", "n", [](const std::optional<RegValue>& v) {
                uint32_t n = v ? v->DwordValue().value_or(0) : 0;
                return std::optional<RegValue>(RegValue::Dword(n + 1));
            });
            if (ec) {
                std::fprintf(stderr, "update %d: %s\n", i, ec.message().c_str());
                return 1;
            }
        }
        return 0;
    }
    if (cmd == "reg-restore-loop" && args.size() == 5) {
        std::error_code ec;
        auto reg = OpenRegistryAt(args[1], ec);
        if (!reg) return 1;
        for (unsigned i = 0;; ++i) {
            if ((ec = reg->RestoreKey(args[2], args[3 + i % 2]))) {
                std::fprintf(stderr, "restore: %s\n", ec.message().c_str());
                return 1;
            }
            if (i == 0) Say("ready");
        }
    }
    if (cmd == "elevate" && args.size() == 1) {
        if (auto code = OfferElevation({"elevate"})) {
            Say("ran " + std::to_string(*code));
            return *code;
        }
        Say("runs-on");
        return 0;
    }
    return Usage();
}
