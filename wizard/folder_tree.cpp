#include "wizard/folder_tree.hpp"

#include <filesystem>
#include <system_error>

#include "platform/folder_listing.hpp"
#include "wizard/folder_browser.hpp"

namespace mw {

namespace {

// Whether a folder shows an expander: it has at least one subfolder, or it
// exists but cannot be read (expanding it then simply shows nothing).
bool MayHaveSubfolders(const std::string& path) {
    std::error_code ec;
    if (platform::HasSubfolders(path, ec)) return true;
    return ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory;
}

}  // namespace

CFolderTree::CFolderTree(platform::Dialog& dialog, int treeId) : dialog_(dialog), treeId_(treeId) {}

platform::TreeItem CFolderTree::Insert(platform::TreeItem parent, const std::string& path,
                                       const std::string& text) {
    platform::TreeItem item =
        dialog_.InsertTreeItem(treeId_, parent, text, MayHaveSubfolders(path));
    if (item != platform::kTreeRoot) nodes_[item] = {path, false};
    return item;
}

void CFolderTree::Reset(const std::string& root) {
    dialog_.DeleteTreeChildren(treeId_, platform::kTreeRoot);
    nodes_.clear();
    const std::string path = CanonicalFolder(root);
    std::string name = std::filesystem::path(path).filename().string();
    top_ = Insert(platform::kTreeRoot, path, name.empty() ? path : name);
}

void CFolderTree::Fill(platform::TreeItem item) {
    auto it = nodes_.find(item);
    if (it == nodes_.end() || it->second.filled) return;
    it->second.filled = true;
    const std::string folder = it->second.path;
    std::error_code ec;
    for (const std::string& name : platform::ListSubfolders(folder, ec)) {
        Insert(item, CombineFolderPath(folder, name), name);
    }
}

platform::TreeItem CFolderTree::Reveal(const std::string& path) {
    if (top_ == platform::kTreeRoot) return platform::kTreeRoot;
    const std::string target = CanonicalFolder(path);
    std::optional<std::string> rel = RelativeFolderPath(nodes_[top_].path, target);
    if (!rel || (!rel->empty() && *std::filesystem::path(*rel).begin() == "..")) {
        return platform::kTreeRoot;
    }
    platform::TreeItem item = top_;
    for (const auto& element : std::filesystem::path(*rel)) {
        if (element.empty()) continue;
        Fill(item);
        platform::TreeItem next = platform::kTreeRoot;
        for (platform::TreeItem child : dialog_.TreeChildren(treeId_, item)) {
            if (dialog_.TreeItemText(treeId_, child) == element.string()) {
                next = child;
                break;
            }
        }
        if (next == platform::kTreeRoot) return platform::kTreeRoot;
        item = next;
    }
    return item;
}

std::string CFolderTree::PathOf(platform::TreeItem item) const {
    auto it = nodes_.find(item);
    return it == nodes_.end() ? std::string() : it->second.path;
}

}  // namespace mw
