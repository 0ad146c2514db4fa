// The one rule for operating-system failures: an errno value becomes an
// error_code of the system category, whichever layer met it, so that the
// error message shows the same failure in the same form everywhere.
#pragma once

#include <cerrno>
#include <system_error>

namespace mw::platform {

inline std::error_code OsError(int e) {
    return std::error_code(e, std::system_category());
}
inline std::error_code OsError(std::errc e) {
    return OsError(static_cast<int>(e));
}
// The failure the last system call left in errno.
inline std::error_code LastOsError() {
    return OsError(errno);
}

}  // namespace mw::platform
