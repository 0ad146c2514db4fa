#include "platform/system_info.hpp"

#include <atomic>

namespace mw::platform {

bool ProcessorSupportsSse2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return true;
#endif
}

namespace {
std::atomic<uint32_t> g_toolkitVersion{0};
}  // namespace

uint32_t ToolkitVersion() {
    return g_toolkitVersion.load();
}

void SetToolkitVersion(uint32_t version) {
    g_toolkitVersion.store(version);
}

}  // namespace mw::platform
