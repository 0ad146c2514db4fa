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
    return counter.Count() > 1;
}

}  // namespace mw
