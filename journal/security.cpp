#include "journal/security.hpp"

#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/safe_path.hpp"

namespace mw {

namespace {

// Frees an ACL object (libacl's acl_t) at the end of a scope.
class Acl {
public:
    explicit Acl(acl_t acl = nullptr) : acl_(acl) {}
    ~Acl() {
        if (acl_) acl_free(acl_);
    }
    Acl(const Acl&) = delete;
    Acl& operator=(const Acl&) = delete;
    acl_t get() const { return acl_; }
    acl_t* out() { return &acl_; }
    explicit operator bool() const { return acl_ != nullptr; }

private:
    acl_t acl_;
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

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

}  // namespace

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
std::vector<cap_value_t> CapabilitiesOf(std::string_view name) {
    if (EqualsIgnoringAsciiCase(name, "SeBackupPrivilege")) return {CAP_DAC_READ_SEARCH};
    if (EqualsIgnoringAsciiCase(name, "SeRestorePrivilege")) return {CAP_DAC_OVERRIDE, CAP_FOWNER};
    return {};
}

}  // namespace

bool PrivilegeEnabled(std::string_view name) {
    std::vector<cap_value_t> caps = CapabilitiesOf(name);
    if (caps.empty()) return false;
    cap_t state = cap_get_proc();
    if (!state) return false;
    bool enabled = true;
    for (cap_value_t cap : caps) {
        cap_flag_value_t effective = CAP_CLEAR;
        if (cap_get_flag(state, cap, CAP_EFFECTIVE, &effective) != 0 || effective != CAP_SET)
            enabled = false;
    }
    cap_free(state);
    return enabled;
}

bool EnablePrivilege(std::string_view name, bool enable) {
    std::vector<cap_value_t> caps = CapabilitiesOf(name);
    if (caps.empty()) return false;
    cap_t state = cap_get_proc();
    if (!state) return false;
    bool ok = true;
    for (cap_value_t cap : caps) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(state, cap, CAP_PERMITTED, &permitted) != 0 || permitted != CAP_SET)
            ok = false;
    }
    ok = ok &&
         cap_set_flag(state, CAP_EFFECTIVE, static_cast<int>(caps.size()), caps.data(),
                      enable ? CAP_SET : CAP_CLEAR) == 0 &&
         cap_set_proc(state) == 0;
    cap_free(state);
    return ok;
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

bool GrantAccessFd(int fd, uint32_t accessMask, uint8_t aceFlags) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
    // The descriptor's /proc name reaches the object itself even for O_PATH
    // descriptors, and the default ACL has no descriptor call at all.
    const std::string path = platform::FdPath(fd);
    const unsigned perms = PermissionsOfMask(accessMask);

    Acl oldAccess(acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
    if (!oldAccess) return false;
    Acl newAccess(acl_dup(oldAccess.get()));
    if (!newAccess || !SetClass(newAccess.out(), ACL_OTHER, perms) ||
        acl_valid(newAccess.get()) != 0)
        return false;

    const bool inherit =
        S_ISDIR(st.st_mode) && (aceFlags & (access::ObjectInherit | access::ContainerInherit)) != 0;
    Acl newDefault;
    if (inherit) {
        Acl oldDefault(acl_get_file(path.c_str(), ACL_TYPE_DEFAULT));
        if (!oldDefault) return false;
        if (acl_entries(oldDefault.get()) > 0) {
            *newDefault.out() = acl_dup(oldDefault.get());
            if (!newDefault) return false;
        } else {
            // No default yet: new things get the folder's own owner and
            // group permissions, and the users' entry below.
            *newDefault.out() = acl_init(3);
            if (!newDefault ||
                !SetClass(newDefault.out(), ACL_USER_OBJ,
                          PermsOf(newAccess.get(), ACL_USER_OBJ, 7)) ||
                !SetClass(newDefault.out(), ACL_GROUP_OBJ,
                          PermsOf(newAccess.get(), ACL_GROUP_OBJ, 5)))
                return false;
        }
        if (!SetClass(newDefault.out(), ACL_OTHER, perms) || acl_valid(newDefault.get()) != 0)
            return false;
    }

    if (acl_set_file(path.c_str(), ACL_TYPE_ACCESS, newAccess.get()) != 0) return false;
    if (inherit && acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, newDefault.get()) != 0) {
        acl_set_file(path.c_str(), ACL_TYPE_ACCESS, oldAccess.get());
        return false;
    }
    return true;
}

bool GrantAccess(const std::string& path, uint32_t accessMask, uint8_t aceFlags) {
    platform::TargetUserScope scope(path);
    if (scope.error()) return false;
    platform::UniqueFd fd;
    if (platform::OpenNoFollow(path, O_PATH, fd)) return false;
    return GrantAccessFd(fd.get(), accessMask, aceFlags);
}

}  // namespace mw
