// Starting other programs: an argument vector (no shell, no quoting), an
// optional other user, and the exit code. Exit codes are 8 bit: a program
// that ends with -10 is seen as 246. A program killed by a signal is seen
// as 128 + the signal number.
//
// The child gets nothing it should not: every descriptor above 2 is closed
// on exec (whatever flags it was opened with), signal dispositions and the
// signal mask are reset, and only what the options say is passed on.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace mw::platform {

struct ProcessOptions {
    // Run as this user: its uid, its primary group and its supplementary
    // groups (needs root).
    std::optional<uid_t> user;
    // Working folder; empty: the caller's.
    std::string workingFolder;
    // Replaces the whole environment ("NAME=value" entries); nullopt: the
    // caller's environment.
    std::optional<std::vector<std::string>> environment;
    // Descriptors to give the child as its standard input, output and error;
    // -1: the caller's.
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
};

class ChildProcess {
public:
    ChildProcess() = default;
    // A child still running is killed and reaped: nothing started outlives
    // the object that started it, unless Detach was called.
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program: a path (with '/') used as it is, or a name
    // looked up in $PATH. Fails with the reason the program could not be
    // started (ENOENT, EACCES, EPERM for the user change, ...).
    std::error_code Start(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    // Waits for the end (only once).
    std::error_code Wait(int& exitCode);
    // The same, and whether the program ended by itself (exit) rather than
    // by a signal: 246 may come from either.
    std::error_code Wait(int& exitCode, bool& exitedNormally);
    // true with the exit code when it has ended; false while it runs.
    bool TryWait(int& exitCode, std::error_code& ec);
    std::error_code Signal(int signal);
    void Detach() { pid_ = -1; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Start and wait.
std::error_code RunProcess(const std::vector<std::string>& argv, int& exitCode,
                           const ProcessOptions& options = {});

// The full path of a program name from $PATH (a name with '/' is returned as
// it is when it is an executable file); empty when none is found.
std::string FindProgram(const std::string& name);

}  // namespace mw::platform
