#include "app/preconditions.hpp"

#include "platform/elevation.hpp"
#include "platform/system_info.hpp"

namespace mw {

uint32_t CommonControlsVersion() {
    return platform::ToolkitVersion();
}

bool IsAdministrator() {
    return platform::IsAdministrator();
}

std::string InstanceMutexName(std::string_view applicationId) {
    return std::string(applicationId) + ".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
}

std::string InstanceCounterName(std::string_view applicationId) {
    return std::string(applicationId) + ".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";
}

bool ProductIsRunning(InstanceCounter& counter) {
    // A count that cannot be read is no proof that the product has ended.
    const int32_t count = counter.Count();
    return count > 1 || count < 0;
}

}  // namespace mw
