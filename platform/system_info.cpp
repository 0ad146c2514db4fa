#include "platform/system_info.hpp"

#include <FL/Fl.H>

namespace mw::platform {

bool ProcessorSupportsSse2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return true;
#endif
}

uint32_t ToolkitVersion() {
    // major * 10000 + minor * 100 + patch
    const int v = Fl::api_version();
    if (v <= 0) return 0;
    const uint32_t major = static_cast<uint32_t>(v / 10000);
    const uint32_t minor = static_cast<uint32_t>((v / 100) % 100);
    return (major << 16) | (minor & 0xFFFF);
}

}  // namespace mw::platform
