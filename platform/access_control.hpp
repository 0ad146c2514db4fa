// POSIX ACLs and capabilities, the Linux side of access rights and
// privileges: the only unit that calls libacl for grants and libcap for the
// process's capabilities. The journal's privileges and access rights speak
// the Windows terms and come here for the system calls; grants by path go
// through the file-system seam (FileSystem::GrantAccess), so that tests can
// fail them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <span>
#include <system_error>

namespace mw::platform {

// Gives every user of the machine (the ACL's "other" class) exactly `perms`
// (4 read, 2 write, 1 execute) on the open regular file or folder `fd` (any
// descriptor, O_PATH included): the earlier "other" entry is replaced, every
// other entry stays. With `inherit` on a folder, the default ACL gets the
// same entry (made from the folder's owner and group entries when there was
// none). Both ACLs are built before the first is stored; when the second
// cannot be stored the first is put back. ENOTSUP on a file system without
// ACLs.
std::error_code GrantOthersOnDescriptor(int fd, unsigned perms, bool inherit);

// Whether root may change the access rights of the object open at `fd`: a
// regular file or a folder (a link gives ELOOP, anything else EINVAL) of
// `owner` (EPERM otherwise), and a file with no second name (EMLINK): in a
// folder that other users can write, a name may have been swapped for a hard
// link to a file of someone else's since it was written.
std::error_code CheckGrantTarget(int fd, uid_t owner);

// For tests of the second store's failure, which no file system gives on
// demand: while the guard lives, `hook` is asked before each ACL is stored
// (true for the default ACL) and an error it returns is that store's result.
class ScopedAclStoreHookForTesting {
public:
    explicit ScopedAclStoreHookForTesting(std::function<std::error_code(bool defaultAcl)> hook);
    ~ScopedAclStoreHookForTesting();
    ScopedAclStoreHookForTesting(const ScopedAclStoreHookForTesting&) = delete;
    ScopedAclStoreHookForTesting& operator=(const ScopedAclStoreHookForTesting&) = delete;

private:
    std::function<std::error_code(bool)> previous_;
};

// The capabilities the installer's privileges stand for (the values are the
// kernel's).
enum class Capability : int { DacOverride = 1, DacReadSearch = 2, Fowner = 3 };

// Whether every one of `caps` is in the process's effective set.
bool CapabilitiesEffective(std::span<const Capability> caps);
// Raises or lowers `caps` in the effective set; false, changing nothing, when
// one of them is not permitted.
bool SetCapabilitiesEffective(std::span<const Capability> caps, bool on);

}  // namespace mw::platform
