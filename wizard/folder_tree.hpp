// The folder tree of the folder chooser: a tree control that shows the real
// folders below one root and is filled lazily, one level when a folder is
// first expanded, so that opening the chooser costs a handful of folder
// reads however large the file system is.
#pragma once

#include <map>
#include <string>

#include "platform/controls.hpp"

namespace mw {

class CFolderTree {
public:
    CFolderTree(platform::Dialog& dialog, int treeId);

    // Empties the tree and shows `root` (an absolute folder) as its one top
    // item, not yet filled.
    void Reset(const std::string& root);
    // Reads the subfolders of `item` into the tree once.
    void Fill(platform::TreeItem item);
    // The item of `path`, filling the levels down to it; kTreeRoot when the
    // path is not an existing folder at or below the root.
    platform::TreeItem Reveal(const std::string& path);
    // The folder of an item; empty for none.
    std::string PathOf(platform::TreeItem item) const;
    platform::TreeItem top() const { return top_; }

private:
    struct Node {
        std::string path;
        bool filled = false;
    };
    platform::TreeItem Insert(platform::TreeItem parent, const std::string& path,
                              const std::string& text);

    platform::Dialog& dialog_;
    int treeId_;
    platform::TreeItem top_ = platform::kTreeRoot;
    std::map<platform::TreeItem, Node> nodes_;
};

}  // namespace mw
