// A setup library for the DirectX step's tests, steered by the environment:
// MWTEST_DSETUP_VERSION and MWTEST_DSETUP_REVISION (hexadecimal / decimal)
// give what it reports, MWTEST_DSETUP_RESULT what the setup returns,
// MWTEST_DSETUP_NO_SETUP leaves the setup function out of reach. The setup
// calls back with reason 18 three times and writes the folder it was given
// to MWTEST_DSETUP_OUT when that is set.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
using Callback = uint32_t (*)(uint32_t, uint32_t, const char*, const char*, void*);
Callback g_callback = nullptr;

unsigned long Env(const char* name, unsigned long fallback, int base) {
    const char* v = std::getenv(name);
    return v ? std::strtoul(v, nullptr, base) : fallback;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t DirectXSetupGetVersion(
    uint32_t* version, uint32_t* revision) {
    *version = static_cast<uint32_t>(Env("MWTEST_DSETUP_VERSION", 0x00040009, 16));
    *revision = static_cast<uint32_t>(Env("MWTEST_DSETUP_REVISION", 904, 10));
    return 1;
}

extern "C" __attribute__((visibility("default"))) int32_t DirectXSetupSetCallback(Callback cb) {
    g_callback = cb;
    return 1;
}

extern "C" __attribute__((visibility("default"))) int32_t DirectXSetupW(void*, const char* folder,
                                                                        uint32_t flags) {
    if (std::getenv("MWTEST_DSETUP_NO_SETUP")) return -1;
    for (int i = 0; i < 3; ++i) {
        if (g_callback) g_callback(18, 0, nullptr, nullptr, nullptr);
    }
    if (const char* out = std::getenv("MWTEST_DSETUP_OUT")) {
        if (FILE* f = std::fopen(out, "w")) {
            std::fprintf(f, "%s %x", folder, flags);
            std::fclose(f);
        }
    }
    return static_cast<int32_t>(
        std::strtol(std::getenv("MWTEST_DSETUP_RESULT") ? std::getenv("MWTEST_DSETUP_RESULT") : "0",
                    nullptr, 10));
}
