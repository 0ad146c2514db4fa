#include "platform/secure_startup.hpp"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path.hpp"
#include "platform/roots.hpp"
#include "platform/trusted_path.hpp"

namespace mw::platform {

std::string SecureStartup() {
    ::umask(022);
    if (::geteuid() != 0) return {};
    const std::string& root = MachineRoot();
    // A machine root still to be made is judged by the folder it will be
    // made in: the nearest one that exists.
    std::string existing = root;
    struct stat st;
    while (!existing.empty() && existing != "/" && ::lstat(existing.c_str(), &st) != 0 &&
           errno == ENOENT) {
        existing = ParentPath(existing);
    }
    if (OnlyAdministratorCouldChange(existing)) return {};
    return "The machine root \"" + root +
           "\" (MW_ROOT) is not used: a user other than root could change it or a folder "
           "above it. Choose a folder that only root can write.";
}

}  // namespace mw::platform
