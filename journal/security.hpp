// Privileges and access rights: switching a privilege of the process on or
// off around the calls that need it, and opening a file or folder to every
// user of the machine. On Linux a privilege is a set of capabilities and an
// access entry is a POSIX ACL entry (the system calls are in
// platform/access_control.hpp); nothing here shows a message or throws:
// every failure comes back as false with nothing changed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace mw {

// The well-known groups by their selector values. On Linux:
// - Everyone (0): every process of the machine;
// - Administrators (1): the processes whose effective user id is 0 (root);
// - Users (2): every user of the machine, which in a POSIX ACL is the
//   "other" class (o::), the one entry that applies to all of them.
class SecurityId {
public:
    enum Selector : int { Everyone = 0, Administrators = 1, Users = 2 };

    // An unknown selector gives an invalid identifier.
    explicit SecurityId(int selector);

    bool IsValid() const { return valid_; }
    int selector() const { return selector_; }
    // The group names the ACL's "other" class (Everyone, Users).
    bool IsOtherClass() const { return valid_ && selector_ != Administrators; }
    // Whether a process with this effective user id belongs to the group.
    bool Contains(uid_t effectiveUid) const;
    bool operator==(const SecurityId& other) const {
        return valid_ && other.valid_ && selector_ == other.selector_;
    }

private:
    int selector_;
    bool valid_;
};

// Whether this process belongs to the group (Administrators: running as root).
bool ProcessIsMember(const SecurityId& group);

// "SeBackupPrivilege" is CAP_DAC_READ_SEARCH; "SeRestorePrivilege" is
// CAP_DAC_OVERRIDE with CAP_FOWNER. Raises (or lowers) them in the effective
// set. True when the privilege is now in the requested state; an unknown name
// or a capability the process is not permitted gives false, changing nothing.
bool EnablePrivilege(std::string_view name, bool enable);

// Whether the privilege is enabled now (all its capabilities effective); false
// for an unknown name. Root starts with every capability effective: a caller
// that switches a privilege on for one call switches it off afterwards only
// when it was off before, or root would lose the rights it runs with.
bool PrivilegeEnabled(std::string_view name);

// The Windows access masks and entry flags the callers pass.
namespace access {
inline constexpr uint32_t FileAllAccess = 0x1F01FF;        // folders of the shared data
inline constexpr uint32_t FileReadWriteDelete = 0x13019F;  // user-editable data files
inline constexpr uint8_t ObjectInherit = 0x1;
inline constexpr uint8_t ContainerInherit = 0x2;
}  // namespace access

// The permission bits (4 read, 2 write, 1 execute) a Windows access mask
// grants: read data or generic read gives r, write or append data or generic
// write gives w, execute or generic execute gives x; generic all gives rwx.
unsigned PermissionsOfMask(uint32_t accessMask);

// Gives the Users group (the ACL's "other" class) exactly the permissions of
// `accessMask` on the file or folder: the earlier "other" entry is replaced,
// every other entry stays. On a folder, with an inheritance flag, the default
// ACL gets the same "other" entry, so files and folders created in it later
// inherit it (a default ACL is made from the folder's owner and group entries
// when there was none). The new ACLs are built completely before the first is
// stored, and when the second cannot be stored the first is put back.
// False on any failure: the path does not exist, is a link (never followed),
// lies below a link someone else could have planted, or its file system has
// no ACLs, or the object is not a plain file or folder of the user the call
// runs as with a single name (a hard link planted in a folder others can
// write). Below the target user's folders it runs as that user. Goes through
// the file-system seam (platform::Files()).
bool GrantAccess(const std::string& path, uint32_t accessMask, uint8_t aceFlags);

}  // namespace mw
