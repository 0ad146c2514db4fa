// Whether a file could have been written, or put where it is, by nobody but
// the administrator. An elevated installer takes folders and a list of files
// to remove from an earlier installation's log; such a file is only believed
// when no other user could have planted or changed it.
#pragma once

#include <string>

namespace mw::platform {

// True when `path` is a regular file and neither it nor any folder on the way
// to it (links resolved, their targets included) could have been changed by a
// user other than root and this process's own user: each is owned by one of
// them and writable by no group and no other user. A folder writable by all
// but sticky (such as /tmp) counts only when the item below it belongs to
// one of them too, since the sticky bit keeps others from replacing it.
bool OnlyAdministratorCouldWrite(const std::string& path);

}  // namespace mw::platform
