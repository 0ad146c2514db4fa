// A full description of a folder tree for tests that must prove a procedure
// left a tree exactly as it found it: every item's type, mode, owner, size,
// content, link target, ACL and extended attributes.
#pragma once

#include <map>
#include <string>

namespace mwtest {

struct TreeItem {
    char type = '?';  // 'f' file, 'd' folder, 'l' link, 'o' other
    unsigned mode = 0;
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned long long size = 0;
    std::string content;  // a file's bytes, a link's target
    std::string acl;      // access and default ACL in text form, "" without
    std::string xattrs;   // "name=value;" for every attribute, sorted
    bool operator==(const TreeItem&) const = default;
};

// Keyed by the path relative to the root ("" is the root itself).
using TreeSnapshot = std::map<std::string, TreeItem>;

TreeSnapshot SnapshotTree(const std::string& root);

// A readable list of the differences, empty when there are none.
std::string DiffTrees(const TreeSnapshot& before, const TreeSnapshot& after);

}  // namespace mwtest
