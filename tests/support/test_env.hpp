// Helpers shared by the tests: scratch folders and paths of built programs.
#pragma once

#include <string>

namespace mwtest {

// A fresh folder below the build tree's test scratch area; removed by the
// destructor.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

// Full path of a program in build/bin.
std::string BinPath(const std::string& program);

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

}  // namespace mwtest
