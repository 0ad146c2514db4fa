// Reading folders for a person choosing one: the subfolders a folder tree
// shows and whether a typed or remembered path names a folder. Nothing here
// changes the file system, so links are followed as a file manager follows
// them; whatever is later written into the chosen folder goes through the
// link-safe FileSystem.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace mw::platform {

// The names of the folders directly inside `folder` (links to folders
// included), without hidden ones (a leading '.'), sorted without regard to
// case. A folder that cannot be read gives its error and no names.
std::vector<std::string> ListSubfolders(const std::string& folder, std::error_code& ec);

// Whether ListSubfolders would give any name; stops at the first.
bool HasSubfolders(const std::string& folder, std::error_code& ec);

// True when `path` is an existing folder (or a link to one).
bool IsExistingFolder(const std::string& path);

// The process's current folder; empty with the error when it cannot be read.
std::string CurrentFolder(std::error_code& ec);

}  // namespace mw::platform
