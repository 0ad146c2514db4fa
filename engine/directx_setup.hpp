// The DirectX runtime update: the redistributable's setup library, written
// into the install sequence's work folder by the extraction, is loaded from
// there, checked for its version and run. The step is skipped silently when
// the library is missing, untrusted or too old, and when an earlier
// installation of another version updated the runtime already.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "journal/journal.hpp"

namespace mw {

namespace platform {
class SharedLibrary;
}

// The setup library's interface, with C linkage. Texts are UTF-8.
extern "C" {
// reason, message type, message text, name, extra information; answer 1.
using DirectXSetupCallbackFn = uint32_t (*)(uint32_t reason, uint32_t messageType,
                                            const char* message, const char* name, void* info);
// Non-zero on success.
using DirectXSetupGetVersionFn = int32_t (*)(uint32_t* version, uint32_t* revision);
using DirectXSetupSetCallbackFn = int32_t (*)(DirectXSetupCallbackFn callback);
// owner window (may be null), folder of the redistributable, flags; 0 or 1
// on success (1: a restart would be needed).
using DirectXSetupWFn = int32_t (*)(void* ownerWindow, const char* folder, uint32_t flags);
}

inline constexpr const char* kDirectXSetupLibraryName = "DSetup.dll";
inline constexpr uint32_t kDirectXMinimumVersion = 0x00040009;
inline constexpr uint32_t kDirectXMinimumRevision = 903;
inline constexpr uint32_t kDirectXSetupFlags = 0x10018;  // core, display and sound drivers
inline constexpr uint32_t kDirectXReasonProgress = 18;

// The accepted version: at least 0x00040009 and revision 903, both unsigned.
bool DirectXVersionAccepted(uint32_t version, uint32_t revision);

// Whether the step runs once a library is held: a reinstallation of the same
// version always runs it; otherwise an earlier log entry of a successful
// update skips it.
bool DirectXUpdateWanted(bool sameVersion, const std::list<JournalEntry>& previousEntries);

class DirectXSetupLibrary {
public:
    // Loads "DSetup.dll" of `folder` (name matched without regard to case)
    // and keeps it only when it is trusted and recent enough.
    explicit DirectXSetupLibrary(const std::string& folder);
    ~DirectXSetupLibrary();
    DirectXSetupLibrary(const DirectXSetupLibrary&) = delete;
    DirectXSetupLibrary& operator=(const DirectXSetupLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    // Runs the setup; `pump` is called for every progress callback (reason
    // 18). True when the setup reported 0 or 1.
    bool Run(const std::function<void()>& pump);

private:
    std::string folder_;
    std::unique_ptr<platform::SharedLibrary> module_;
};

}  // namespace mw
