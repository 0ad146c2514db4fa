#include "platform/access_control.hpp"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/capability.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/acl_handles.hpp"
#include "platform/os_error.hpp"
#include "platform/safe_path.hpp"

namespace mw::platform {

static_assert(static_cast<int>(Capability::DacOverride) == CAP_DAC_OVERRIDE);
static_assert(static_cast<int>(Capability::DacReadSearch) == CAP_DAC_READ_SEARCH);
static_assert(static_cast<int>(Capability::Fowner) == CAP_FOWNER);

namespace {

using Acl = AclHandle;
using Caps = CapsHandle;

bool SetPermset(acl_entry_t entry, unsigned perms) {
    acl_permset_t set;
    if (acl_get_permset(entry, &set) != 0 || acl_clear_perms(set) != 0) return false;
    if ((perms & 4) && acl_add_perm(set, ACL_READ) != 0) return false;
    if ((perms & 2) && acl_add_perm(set, ACL_WRITE) != 0) return false;
    if ((perms & 1) && acl_add_perm(set, ACL_EXECUTE) != 0) return false;
    return acl_set_permset(entry, set) == 0;
}

bool FindEntry(acl_t acl, acl_tag_t tag, acl_entry_t& found) {
    acl_entry_t entry;
    for (int id = ACL_FIRST_ENTRY; acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
        acl_tag_t t;
        if (acl_get_tag_type(entry, &t) == 0 && t == tag) {
            found = entry;
            return true;
        }
    }
    return false;
}

// Replaces the entry of `tag` (one of the unnamed classes) with `perms`,
// adding it when missing.
bool SetClass(acl_t* acl, acl_tag_t tag, unsigned perms) {
    acl_entry_t entry;
    if (!FindEntry(*acl, tag, entry)) {
        if (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, tag) != 0) return false;
    }
    return SetPermset(entry, perms);
}

unsigned PermsOf(acl_t acl, acl_tag_t tag, unsigned fallback) {
    acl_entry_t entry;
    acl_permset_t set;
    if (!FindEntry(acl, tag, entry) || acl_get_permset(entry, &set) != 0) return fallback;
    unsigned p = 0;
    if (acl_get_perm(set, ACL_READ) == 1) p |= 4;
    if (acl_get_perm(set, ACL_WRITE) == 1) p |= 2;
    if (acl_get_perm(set, ACL_EXECUTE) == 1) p |= 1;
    return p;
}

// errno after a failed libacl call, EINVAL when it left none.
std::error_code AclError() {
    return OsError(errno ? errno : EINVAL);
}

std::function<std::error_code(bool)> g_storeHook;

std::error_code StoreAcl(const std::string& path, acl_type_t type, acl_t acl) {
    if (g_storeHook)
        if (auto ec = g_storeHook(type == ACL_TYPE_DEFAULT)) return ec;
    return acl_set_file(path.c_str(), type, acl) == 0 ? std::error_code() : LastOsError();
}

std::vector<cap_value_t> Values(std::span<const Capability> caps) {
    std::vector<cap_value_t> values;
    for (Capability c : caps) values.push_back(static_cast<cap_value_t>(c));
    return values;
}

}  // namespace

std::error_code GrantOthersOnDescriptor(int fd, unsigned perms, bool inherit) {
    struct stat st;
    if (fstat(fd, &st) != 0) return LastOsError();
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return OsError(EINVAL);
    inherit = inherit && S_ISDIR(st.st_mode);
    // The descriptor's /proc name reaches the object itself even for O_PATH
    // descriptors, and the default ACL has no descriptor call at all.
    const std::string path = FdPath(fd);

    errno = 0;
    Acl oldAccess(acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
    if (!oldAccess) return AclError();
    Acl newAccess(acl_dup(oldAccess.get()));
    if (!newAccess || !SetClass(newAccess.out(), ACL_OTHER, perms) ||
        acl_valid(newAccess.get()) != 0)
        return AclError();

    Acl newDefault;
    if (inherit) {
        Acl oldDefault(acl_get_file(path.c_str(), ACL_TYPE_DEFAULT));
        if (!oldDefault) return AclError();
        if (acl_entries(oldDefault.get()) > 0) {
            newDefault.Reset(acl_dup(oldDefault.get()));
            if (!newDefault) return AclError();
        } else {
            // No default yet: new things get the folder's own owner and
            // group permissions, and the users' entry below.
            newDefault.Reset(acl_init(3));
            if (!newDefault ||
                !SetClass(newDefault.out(), ACL_USER_OBJ,
                          PermsOf(newAccess.get(), ACL_USER_OBJ, 7)) ||
                !SetClass(newDefault.out(), ACL_GROUP_OBJ,
                          PermsOf(newAccess.get(), ACL_GROUP_OBJ, 5)))
                return AclError();
        }
        if (!SetClass(newDefault.out(), ACL_OTHER, perms) || acl_valid(newDefault.get()) != 0)
            return AclError();
    }

    if (auto ec = StoreAcl(path, ACL_TYPE_ACCESS, newAccess.get())) return ec;
    if (inherit)
        if (auto ec = StoreAcl(path, ACL_TYPE_DEFAULT, newDefault.get())) {
            acl_set_file(path.c_str(), ACL_TYPE_ACCESS, oldAccess.get());
            return ec;
        }
    return {};
}

ScopedAclStoreHookForTesting::ScopedAclStoreHookForTesting(
    std::function<std::error_code(bool)> hook)
    : previous_(std::exchange(g_storeHook, std::move(hook))) {}

ScopedAclStoreHookForTesting::~ScopedAclStoreHookForTesting() {
    g_storeHook = std::move(previous_);
}

std::error_code CheckGrantTarget(int fd, uid_t owner) {
    struct stat st;
    if (fstat(fd, &st) != 0) return LastOsError();
    if (S_ISLNK(st.st_mode)) return OsError(ELOOP);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return OsError(EINVAL);
    if (st.st_uid != owner) return OsError(EPERM);
    if (S_ISREG(st.st_mode) && st.st_nlink != 1) return OsError(EMLINK);
    return {};
}

bool CapabilitiesEffective(std::span<const Capability> caps) {
    Caps state(cap_get_proc());
    if (!state) return false;
    for (cap_value_t cap : Values(caps)) {
        cap_flag_value_t effective = CAP_CLEAR;
        if (cap_get_flag(state.get(), cap, CAP_EFFECTIVE, &effective) != 0 || effective != CAP_SET)
            return false;
    }
    return true;
}

bool SetCapabilitiesEffective(std::span<const Capability> caps, bool on) {
    std::vector<cap_value_t> values = Values(caps);
    Caps state(cap_get_proc());
    if (!state) return false;
    for (cap_value_t cap : values) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(state.get(), cap, CAP_PERMITTED, &permitted) != 0 || permitted != CAP_SET)
            return false;
    }
    return cap_set_flag(state.get(), CAP_EFFECTIVE, static_cast<int>(values.size()), values.data(),
                        on ? CAP_SET : CAP_CLEAR) == 0 &&
           cap_set_proc(state.get()) == 0;
}

}  // namespace mw::platform
