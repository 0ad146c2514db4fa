#include "engine/directx_setup.hpp"

#include "platform/shared_library.hpp"

namespace mw {
namespace {

// The setup library calls back on this thread only, while Run waits for it.
thread_local const std::function<void()>* t_pump = nullptr;

extern "C" uint32_t SetupCallback(uint32_t reason, uint32_t, const char*, const char*, void*) {
    // Nothing may unwind through the library's frames.
    try {
        if (reason == kDirectXReasonProgress && t_pump && *t_pump) (*t_pump)();
    } catch (...) {
    }
    return 1;
}

}  // namespace

bool DirectXVersionAccepted(uint32_t version, uint32_t revision) {
    return version >= kDirectXMinimumVersion && revision >= kDirectXMinimumRevision;
}

bool DirectXUpdateWanted(bool sameVersion, const std::list<JournalEntry>& previousEntries) {
    if (sameVersion) return true;
    for (const JournalEntry& entry : previousEntries) {
        if (entry.kind == JournalEntryKind::DirectXUpdate && entry.succeeded) return false;
    }
    return true;
}

DirectXSetupLibrary::DirectXSetupLibrary(const std::string& folder) : folder_(folder) {
    if (folder.empty()) return;
    const std::string path = platform::FindFileIgnoringCase(folder, kDirectXSetupLibraryName);
    if (path.empty()) return;
    std::error_code ec;
    std::unique_ptr<platform::SharedLibrary> library = platform::SharedLibrary::Load(path, ec);
    if (!library) return;
    auto getVersion =
        reinterpret_cast<DirectXSetupGetVersionFn>(library->Symbol("DirectXSetupGetVersion"));
    uint32_t version = 0, revision = 0;
    if (!getVersion || getVersion(&version, &revision) == 0 ||
        !DirectXVersionAccepted(version, revision)) {
        return;
    }
    module_ = std::move(library);
}

DirectXSetupLibrary::~DirectXSetupLibrary() = default;

bool DirectXSetupLibrary::Run(const std::function<void()>& pump) {
    if (!module_) return false;
    auto setCallback =
        reinterpret_cast<DirectXSetupSetCallbackFn>(module_->Symbol("DirectXSetupSetCallback"));
    auto setup = reinterpret_cast<DirectXSetupWFn>(module_->Symbol("DirectXSetupW"));
    if (!setCallback || !setup) return false;
    setCallback(&SetupCallback);
    const std::function<void()>* previous = t_pump;
    t_pump = &pump;
    const int32_t result = setup(nullptr, folder_.c_str(), kDirectXSetupFlags);
    t_pump = previous;
    // The library may keep the callback; it must not outlive the module, and
    // nothing calls it once the setup has returned.
    setCallback(nullptr);
    return result == 0 || result == 1;
}

}  // namespace mw
