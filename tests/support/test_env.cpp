#include "support/test_env.hpp"

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mwtest {

ScratchDir::ScratchDir(ScratchPlace place) {
    std::string base = std::string(MW_BUILD_DIR) + "/test-scratch";
    if (place == ScratchPlace::OutsideMachineFolders) {
        const char* home = std::getenv("HOME");
        base = geteuid() == 0 || !home || home[0] != '/'
                   ? std::string("/home/.mw-test-scratch")
                   : std::string(home) + "/.cache/mw-test-scratch";
        base_ = base;
    }
    std::filesystem::create_directories(base);
    // Open to all, whatever the umask: tests act as other users below it.
    if (!base_.empty() && geteuid() == 0) ::chmod(base.c_str(), 0755);
    std::string templ = base + "/t-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Tests may leave read-only files and folders behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(
            it->path(), std::filesystem::perms::owner_all,
            std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ec);
    }
    std::filesystem::remove_all(path_, ec);
    if (!base_.empty()) ::rmdir(base_.c_str());  // unless another test still uses it
}

void PrepareSharedMachineRoot(const ScratchDir& dir) {
    ::chmod(dir.path().c_str(), 0755);
    ::mkdir((dir / "run").c_str(), 0755);
    for (const char* open : {"run/lock", "out"}) {
        ::mkdir((dir / open).c_str(), 01777);
        ::chmod((dir / open).c_str(), 01777);  // whatever the umask
    }
}

std::string BinPath(const std::string& program) {
    return std::string(MW_BIN_DIR) + "/" + program;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinFile) {
    ScratchDir io;
    const std::string outFile = io / "stdout", errFile = io / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = ::open(stdinFile.c_str(), O_RDONLY);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(outFile);
    r.err = ReadFile(errFile);
    return r;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool CanMakePrivateMountNamespace() {
    if (geteuid() != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long ResidentKbOfMappingAt(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 &&
            line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
        } else if (inside && line.starts_with("Rss:")) {
            return std::stol(line.substr(4));
        }
    }
    ADD_FAILURE() << "no mapping holds the address";
    return -1;
}

}  // namespace mwtest
