// The runtime setup library of the demo product. On this platform there is
// no runtime to install: the library checks that the redistributable is
// complete, reports progress through the caller's callback and records the
// runtime's version in the machine registry, which is what a later
// installation or the product would look at.
#include "product/setup_library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.hpp"

#define MW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kVersion = 0x00040009;
constexpr uint32_t kRevision = 904;
constexpr std::string_view kRuntimeKey = "Software\\Microsoft\\DirectX";
constexpr std::string_view kRuntimeVersion = "4.09.00.0904";

constexpr int32_t kSuccess = 0;
constexpr int32_t kSourceFileNotFound = -8;
constexpr int32_t kGeneralFailure = -9;

// The redistributable's files beside this library.
constexpr std::array<const char*, 5> kRedistributable = {
    "dsetup32.dll",
    "dxdllreg_x86.cab",
    "dxupdate.cab",
    "Jun2010_D3DCompiler_43_x86.cab",
    "Jun2010_d3dx9_43_x86.cab",
};

std::atomic<DSETUP_CALLBACK> g_callback{nullptr};

void Progress(const char* message, const char* name) {
    if (DSETUP_CALLBACK callback = g_callback.load())
        callback(DSETUP_CB_MSG_PROGRESS, 0, message, name, nullptr);
}

std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

// The names in `folder` (the archive and the file system may differ in
// case, so names are matched without regard to it).
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

bool HasRegularFile(const std::string& folder, const std::vector<std::string>& names,
                    const char* wanted) {
    for (const std::string& name : names) {
        if (::strcasecmp(name.c_str(), wanted) != 0) continue;
        struct stat st {};
        const std::string path = folder + "/" + name;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
    }
    return false;
}

bool RecordRuntime() {
    using mw::platform::RegValue;
    mw::platform::Registry& registry = mw::platform::MachineRegistry();
    if (registry.CreateKey(kRuntimeKey)) return false;
    return !registry.SetValue(kRuntimeKey, "Version", RegValue::String(kRuntimeVersion));
}

}  // namespace

MW_EXPORT int DirectXSetupGetVersion(uint32_t* version, uint32_t* revision) {
    if (!version || !revision) return 0;
    *version = kVersion;
    *revision = kRevision;
    return 1;
}

MW_EXPORT int DirectXSetupSetCallback(DSETUP_CALLBACK callback) {
    g_callback.store(callback);
    return 1;
}

MW_EXPORT int32_t DirectXSetupW(void* /*owner*/, const char* sourceFolder, uint32_t /*flags*/) {
    try {
        std::string folder = sourceFolder && *sourceFolder ? sourceFolder : OwnFolder();
        Progress("Checking the redistributable", folder.c_str());
        const std::vector<std::string> names = FolderNames(folder);
        for (const char* file : kRedistributable) {
            if (!HasRegularFile(folder, names, file)) return kSourceFileNotFound;
            Progress("Checking the redistributable", file);
        }
        Progress("Updating the runtime", nullptr);
        if (!RecordRuntime()) return kGeneralFailure;
        Progress("Runtime up to date", nullptr);
        return kSuccess;
    } catch (...) {
        // Nothing may cross the C boundary.
        return kGeneralFailure;
    }
}
