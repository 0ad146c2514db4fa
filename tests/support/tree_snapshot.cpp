#include "support/tree_snapshot.hpp"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/acl_handles.hpp"
#include "support/test_env.hpp"

namespace mwtest {
namespace {

std::string AclText(const std::string& path, acl_type_t type) {
    const mw::platform::AclHandle acl(acl_get_file(path.c_str(), type));
    if (!acl) return {};
    const mw::platform::AclText text(
        acl_to_any_text(acl.get(), nullptr, ',', TEXT_ABBREVIATE | TEXT_NUMERIC_IDS));
    return text ? text.get() : "";
}

std::string Xattrs(const std::string& path) {
    ssize_t n = llistxattr(path.c_str(), nullptr, 0);
    if (n <= 0) return {};
    std::vector<char> names(static_cast<size_t>(n));
    n = llistxattr(path.c_str(), names.data(), names.size());
    if (n <= 0) return {};
    std::map<std::string, std::string> values;
    for (ssize_t i = 0; i < n;) {
        std::string name(names.data() + i);
        i += static_cast<ssize_t>(name.size()) + 1;
        // ACLs are compared in their own field.
        if (name.rfind("system.posix_acl_", 0) == 0) continue;
        ssize_t m = lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        std::string value(m > 0 ? static_cast<size_t>(m) : 0, '\0');
        if (m > 0) lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        values[name] = value;
    }
    std::string out;
    for (const auto& [name, value] : values) out += name + "=" + value + ";";
    return out;
}

TreeItem Describe(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat failed: " + path);
    TreeItem item;
    item.mode = st.st_mode & 07777;
    item.uid = st.st_uid;
    item.gid = st.st_gid;
    if (S_ISREG(st.st_mode)) {
        item.type = 'f';
        item.size = static_cast<unsigned long long>(st.st_size);
        item.content = ReadFile(path);
    } else if (S_ISDIR(st.st_mode)) {
        item.type = 'd';
    } else if (S_ISLNK(st.st_mode)) {
        item.type = 'l';
        item.content = std::filesystem::read_symlink(path).string();
        return item;
    } else {
        item.type = 'o';
    }
    item.acl = AclText(path, ACL_TYPE_ACCESS);
    if (item.type == 'd') {
        std::string def = AclText(path, ACL_TYPE_DEFAULT);
        if (!def.empty()) item.acl += " default:" + def;
    }
    item.xattrs = Xattrs(path);
    return item;
}

std::string Show(const TreeItem& i) {
    std::ostringstream s;
    s << i.type << " mode=" << std::oct << i.mode << std::dec << " owner=" << i.uid << ":" << i.gid
      << " size=" << i.size << " acl=[" << i.acl << "] xattrs=[" << i.xattrs << "]";
    if (i.type == 'l') s << " -> " << i.content;
    if (i.type == 'f') s << " content=" << std::hash<std::string>{}(i.content);
    return s.str();
}

}  // namespace

TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot snap;
    snap[""] = Describe(root);
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string rel = std::filesystem::relative(it->path(), root).string();
        snap[rel] = Describe(it->path().string());
    }
    return snap;
}

std::string DiffTrees(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::string out;
    for (const auto& [path, item] : before) {
        auto it = after.find(path);
        if (it == after.end()) {
            out += "missing: /" + path + " (" + Show(item) + ")\n";
        } else if (!(it->second == item)) {
            out += "changed: /" + path + "\n  before " + Show(item) + "\n  after  " +
                   Show(it->second) + "\n";
        }
    }
    for (const auto& [path, item] : after) {
        if (!before.count(path)) out += "added: /" + path + " (" + Show(item) + ")\n";
    }
    return out;
}

}  // namespace mwtest
