#include "platform/program_path.hpp"

#include <unistd.h>

#include <string_view>

namespace mw::platform {

std::string ProgramPath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (std::size_t(n) < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    // The kernel marks a file that was replaced or removed after start.
    constexpr std::string_view deleted = " (deleted)";
    if (buffer.ends_with(deleted)) buffer.resize(buffer.size() - deleted.size());
    return buffer;
}

}  // namespace mw::platform
