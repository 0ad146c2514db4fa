#include "support/test_env.hpp"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mwtest {

ScratchDir::ScratchDir() {
    std::string base = std::string(MW_BUILD_DIR) + "/test-scratch";
    std::filesystem::create_directories(base);
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
}

std::string BinPath(const std::string& program) {
    return std::string(MW_BIN_DIR) + "/" + program;
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

}  // namespace mwtest
