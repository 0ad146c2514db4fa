// Subcommands of mwtool register themselves here, one file each.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mwtool {

using Args = std::vector<std::string>;
// Returns the process exit code.
using Handler = std::function<int(const Args& args)>;

struct Command {
    Command(const char* name, const char* usage, Handler handler);
};

}  // namespace mwtool
