#include <sys/stat.h>

#include "platform/file_system.hpp"

namespace mw::platform {

bool ExistsFollowingLinks(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace mw::platform
