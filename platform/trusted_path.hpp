// Whether a file could have been written, or put where it is, by nobody but
// the administrator. An elevated installer takes folders and a list of files
// to remove from an earlier installation's log; such a file is only believed
// when no other user could have planted or changed it. The same check guards
// what root would run or load: the installed program's registration run and
// the setup library are used only when it holds for their file.
#pragma once

#include <string>

namespace mw::platform {

// True when `path` is a regular file and neither it nor any folder on the way
// to it (links resolved, their targets included) could have been changed by a
// user other than root and this process's own user: each is owned by one of
// them and writable by no group and no other user. A folder writable by all
// but sticky (such as /tmp) counts only when the item below it belongs to
// one of them too, since the sticky bit keeps others from replacing it.
// Running as root, "this process's own user" is root: the check then holds
// only when no user other than root could have replaced the file or any
// folder above it. Group write bits count as others' (they also carry the
// mask of an access list that grants named users write).
bool OnlyAdministratorCouldWrite(const std::string& path);

// The same for a folder root works in (the machine root, the temporary folder
// of a backup): it and every folder above it pass the checks above, and
// nobody else may write in it (owned by root or this process's own user, no
// group or other write bit). With `stickyCounts`, a sticky folder open to all
// passes too: others may add names there but not replace the ones root makes.
bool OnlyAdministratorCouldChange(const std::string& folder, bool stickyCounts = false);

}  // namespace mw::platform
