// Helpers shared by the tests: scratch folders and paths of built programs.
#pragma once

#include <string>
#include <vector>

namespace mwtest {

// Where a scratch folder is made.
enum class ScratchPlace {
    BuildTree,  // below the build tree's test scratch area
    // Below /home (root) or the user's own home: the user-folder rules refuse
    // anything in a machine folder (/tmp, /root, /var, ...), and a build tree
    // may well lie in one.
    OutsideMachineFolders,
};

// A fresh folder, removed by the destructor.
class ScratchDir {
public:
    explicit ScratchDir(ScratchPlace place = ScratchPlace::BuildTree);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string base_, path_;
};

// Makes a scratch folder usable as MW_ROOT for programs run as any user:
// the folder itself readable by all, run/lock open to all (as the machine's
// is), and a folder "out" where anyone may write what a test reads back.
void PrepareSharedMachineRoot(const ScratchDir& dir);

// Full path of a program in build/bin.
std::string BinPath(const std::string& program);

struct RunResult {
    int code = -1;  // exit code; -1 when killed by a signal
    std::string out, err;
};

// Runs a program (a path, or a name looked up in $PATH) and waits for it,
// with its output captured in files of a scratch folder of its own, so that
// the folders under test hold only what the program made.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinFile = "/dev/null");

// Whether this process may make a private mount namespace (root, and a
// kernel and container that allow unshare -m); tried in a child, so that the
// caller's own namespace stays as it is.
bool CanMakePrivateMountNamespace();

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// Resident kilobytes of this process's mapping that holds `address` (a test
// failure and -1 when none does).
long ResidentKbOfMappingAt(const void* address);

}  // namespace mwtest
