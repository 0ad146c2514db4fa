#include "platform/process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/os_error.hpp"

extern char** environ;

namespace mw::platform {
namespace {

std::error_code Errno(int e) {
    return OsError(e);
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Marks every descriptor from 3 up close-on-exec. Runs in the forked child:
// async-signal-safe calls only.
void CloseOnExecFrom3() {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) == 0) return;
#endif
    long max = ::sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 3; fd < max; ++fd) {
        int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

[[noreturn]] void ChildFail(int pipeFd) {
    int e = errno;
    ssize_t ignored = ::write(pipeFd, &e, sizeof e);
    (void)ignored;
    ::_exit(127);
}

}  // namespace

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty entry would mean the working folder: never searched.
        if (!dir.empty() && dir[0] == '/') {
            std::string candidate = dir + "/" + name;
            if (IsExecutableFile(candidate)) return candidate;
        }
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        this->~ChildProcess();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

std::error_code ChildProcess::Start(const std::vector<std::string>& argv,
                                    const ProcessOptions& options) {
    if (pid_ > 0) return OsError(std::errc::device_or_resource_busy);
    if (argv.empty()) return OsError(std::errc::invalid_argument);
    const std::string program = FindProgram(argv[0]);
    if (program.empty()) return OsError(std::errc::no_such_file_or_directory);

    // Everything the child needs is prepared here: after fork only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    char** envp = environ;
    if (options.environment) {
        for (const auto& e : *options.environment) env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        envp = env.data();
    }
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    if (options.user) {
        uid = *options.user;
        std::vector<char> buf(16384);
        passwd pw, *found = nullptr;
        if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
            return OsError(std::errc::invalid_argument);
        gid = pw.pw_gid;
        int n = 64;
        groups.resize(static_cast<size_t>(n));
        if (::getgrouplist(pw.pw_name, gid, groups.data(), &n) < 0) {
            groups.resize(static_cast<size_t>(n));
            if (::getgrouplist(pw.pw_name, gid, groups.data(), &n) < 0) n = 0;
        }
        groups.resize(static_cast<size_t>(n));
        if (groups.empty()) groups.push_back(gid);
    }

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return Errno(errno);
    pid_t pid = ::fork();
    if (pid < 0) {
        int e = errno;
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        return Errno(e);
    }
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
        const int redirect[3] = {options.stdinFd, options.stdoutFd, options.stderrFd};
        for (int target = 0; target < 3; ++target) {
            if (redirect[target] >= 0 && redirect[target] != target &&
                ::dup2(redirect[target], target) < 0)
                ChildFail(errPipe[1]);
            if (redirect[target] == target) {
                int flags = ::fcntl(target, F_GETFD);
                if (flags >= 0) ::fcntl(target, F_SETFD, flags & ~FD_CLOEXEC);
            }
        }
        if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0)
            ChildFail(errPipe[1]);
        if (options.user) {
            if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
                ::setuid(uid) != 0)
                ChildFail(errPipe[1]);
        }
        CloseOnExecFrom3();
        ::execve(program.c_str(), args.data(), envp);
        ChildFail(errPipe[1]);
    }
    ::close(errPipe[1]);
    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(errPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(errPipe[0]);
    if (got > 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return Errno(childErrno ? childErrno : ECHILD);
    }
    pid_ = pid;
    return {};
}

std::error_code ChildProcess::Wait(int& exitCode) {
    bool exitedNormally = false;
    return Wait(exitCode, exitedNormally);
}

std::error_code ChildProcess::Wait(int& exitCode, bool& exitedNormally) {
    if (pid_ <= 0) return OsError(std::errc::no_child_process);
    int status;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) return Errno(errno);
    }
    pid_ = -1;
    exitCode = ExitCodeOf(status);
    exitedNormally = WIFEXITED(status);
    return {};
}

bool ChildProcess::TryWait(int& exitCode, std::error_code& ec) {
    ec.clear();
    if (pid_ <= 0) {
        ec = OsError(std::errc::no_child_process);
        return false;
    }
    int status;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r < 0) {
        ec = Errno(errno);
        return false;
    }
    if (r == 0) return false;
    pid_ = -1;
    exitCode = ExitCodeOf(status);
    return true;
}

std::error_code ChildProcess::Signal(int signal) {
    if (pid_ <= 0) return OsError(std::errc::no_child_process);
    return ::kill(pid_, signal) == 0 ? std::error_code() : Errno(errno);
}

std::error_code RunProcess(const std::vector<std::string>& argv, int& exitCode,
                           const ProcessOptions& options) {
    ChildProcess child;
    if (auto ec = child.Start(argv, options)) return ec;
    return child.Wait(exitCode);
}

}  // namespace mw::platform
