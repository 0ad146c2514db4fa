#include "journal/security.hpp"

#include <unistd.h>

#include <vector>

#include "platform/access_control.hpp"
#include "platform/case_fold.hpp"
#include "platform/file_system.hpp"

namespace mw {

SecurityId::SecurityId(int selector)
    : selector_(selector), valid_(selector >= Everyone && selector <= Users) {}

bool SecurityId::Contains(uid_t effectiveUid) const {
    if (!valid_) return false;
    return selector_ == Administrators ? effectiveUid == 0 : true;
}

bool ProcessIsMember(const SecurityId& group) {
    return group.Contains(geteuid());
}

namespace {

// The capabilities of a privilege; empty for a name we do not know.
std::vector<platform::Capability> CapabilitiesOf(std::string_view name) {
    using platform::Capability;
    if (platform::SamePrivilegeName(name, "SeBackupPrivilege")) return {Capability::DacReadSearch};
    if (platform::SamePrivilegeName(name, "SeRestorePrivilege"))
        return {Capability::DacOverride, Capability::Fowner};
    return {};
}

}  // namespace

bool PrivilegeEnabled(std::string_view name) {
    const std::vector<platform::Capability> caps = CapabilitiesOf(name);
    return !caps.empty() && platform::CapabilitiesEffective(caps);
}

bool EnablePrivilege(std::string_view name, bool enable) {
    const std::vector<platform::Capability> caps = CapabilitiesOf(name);
    return !caps.empty() && platform::SetCapabilitiesEffective(caps, enable);
}

unsigned PermissionsOfMask(uint32_t mask) {
    constexpr uint32_t kReadData = 0x1, kWriteData = 0x2, kAppendData = 0x4, kExecute = 0x20;
    constexpr uint32_t kGenericAll = 0x10000000, kGenericExecute = 0x20000000,
                       kGenericWrite = 0x40000000, kGenericRead = 0x80000000;
    unsigned p = 0;
    if (mask & (kReadData | kGenericRead | kGenericAll)) p |= 4;
    if (mask & (kWriteData | kAppendData | kGenericWrite | kGenericAll)) p |= 2;
    if (mask & (kExecute | kGenericExecute | kGenericAll)) p |= 1;
    return p;
}

bool GrantAccess(const std::string& path, uint32_t accessMask, uint8_t aceFlags) {
    const bool inherit = (aceFlags & (access::ObjectInherit | access::ContainerInherit)) != 0;
    return !platform::Files().GrantAccess(path, PermissionsOfMask(accessMask), inherit);
}

}  // namespace mw
