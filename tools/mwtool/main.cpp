// mwtool: the project's maintenance tool. Each subcommand lives in its own
// file and registers itself with a static Command object.
#include <cstdio>
#include <map>
#include <string>

#include "command.hpp"
#include "platform/secure_startup.hpp"

namespace mwtool {
namespace {
struct Entry {
    std::string usage;
    Handler handler;
};
std::map<std::string, Entry>& Table() {
    static std::map<std::string, Entry> table;
    return table;
}
}  // namespace

Command::Command(const char* name, const char* usage, Handler handler) {
    Table()[name] = Entry{usage, std::move(handler)};
}

}  // namespace mwtool

int main(int argc, char** argv) {
    if (std::string refused = mw::platform::SecureStartup(); !refused.empty()) {
        std::fprintf(stderr, "mwtool: %s\n", refused.c_str());
        return 1;
    }
    auto& table = mwtool::Table();
    if (argc < 2 || table.find(argv[1]) == table.end()) {
        std::fprintf(stderr, "usage: mwtool COMMAND ...\n");
        for (const auto& [name, entry] : table) std::fprintf(stderr, "  %s\n", entry.usage.c_str());
        return 2;
    }
    mwtool::Args args(argv + 2, argv + argc);
    try {
        return table[argv[1]].handler(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mwtool %s: %s\n", argv[1], e.what());
        return 1;
    }
}
