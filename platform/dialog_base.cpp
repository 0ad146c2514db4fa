#include "platform/dialog_base.hpp"

namespace mw::platform {

void DialogBase::Send(const ControlEvent& event) {
    if (handler_) {
        // The handler may end or even replace itself; keep it alive for the call.
        Handler handler = handler_;
        handler(event);
    } else if (running_ && event.what == Notify::Clicked &&
               (event.id == cmd::Ok || event.id == cmd::Cancel)) {
        EndDialog(event.id);
    }
    // A window that has just ended is not shown any more.
    DialogBase& top = TopLevelDialog();
    if (!top.ended_) top.Dump();
}

int DialogBase::InsertListItem(std::vector<ListItem>& items, int& selection, int position,
                               const ListItem& item) {
    const int count = static_cast<int>(items.size());
    if (position < 0 || position > count) position = count;
    items.insert(items.begin() + position, item);
    if (selection >= position) ++selection;
    return position;
}

std::string DialogBase::SelectedListText(const std::vector<ListItem>& items, int selection) {
    return selection >= 0 && selection < static_cast<int>(items.size()) ? items[selection].text
                                                                         : std::string();
}

DialogBase::Tree* DialogBase::FindTree(int id) {
    if (!IsTree(id)) return nullptr;
    return &trees_[id];
}

const DialogBase::Tree* DialogBase::FindTree(int id) const {
    auto it = trees_.find(id);
    return it == trees_.end() ? nullptr : &it->second;
}

const DialogBase::TreeNode* DialogBase::FindTreeNode(int id, TreeItem item) const {
    const Tree* tree = FindTree(id);
    if (!tree) return nullptr;
    auto it = tree->nodes.find(item);
    return it == tree->nodes.end() ? nullptr : &it->second;
}

TreeItem DialogBase::InsertTreeItem(int id, TreeItem parent, const std::string& text,
                                    bool hasChildren) {
    Tree* tree = FindTree(id);
    if (!tree || (parent != kTreeRoot && !tree->nodes.contains(parent))) return kTreeRoot;
    const TreeItem item = tree->next++;
    tree->nodes[item] = {parent, text, hasChildren, false, {}};
    if (parent == kTreeRoot) {
        tree->top.push_back(item);
    } else {
        TreeNode& p = tree->nodes[parent];
        p.children.push_back(item);
        p.hasChildren = true;
    }
    TreeItemInserted(id, parent, item, text, hasChildren);
    return item;
}

std::vector<TreeItem> DialogBase::TreeChildren(int id, TreeItem parent) const {
    const Tree* tree = FindTree(id);
    if (!tree) return {};
    if (parent == kTreeRoot) return tree->top;
    auto it = tree->nodes.find(parent);
    return it == tree->nodes.end() ? std::vector<TreeItem>{} : it->second.children;
}

TreeItem DialogBase::TreeParent(int id, TreeItem item) const {
    const Tree* tree = FindTree(id);
    if (!tree) return kTreeRoot;
    auto it = tree->nodes.find(item);
    return it == tree->nodes.end() ? kTreeRoot : it->second.parent;
}

std::string DialogBase::TreeItemText(int id, TreeItem item) const {
    const TreeNode* node = FindTreeNode(id, item);
    return node ? node->text : std::string();
}

void DialogBase::DeleteTreeChildren(int id, TreeItem parent) {
    Tree* tree = FindTree(id);
    if (!tree || (parent != kTreeRoot && !tree->nodes.contains(parent))) return;
    // Breadth first, so that every item comes after its parent.
    std::vector<TreeItem> doomed = TreeChildren(id, parent);
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        const std::vector<TreeItem>& more = tree->nodes[doomed[i]].children;
        doomed.insert(doomed.end(), more.begin(), more.end());
    }
    for (TreeItem item : doomed) {
        if (tree->selected == item) tree->selected = kTreeRoot;
        tree->nodes.erase(item);
    }
    if (parent == kTreeRoot) {
        tree->top.clear();
    } else {
        tree->nodes[parent].children.clear();
    }
    TreeItemsDeleted(id, parent, doomed);
}

void DialogBase::ExpandTreeItem(int id, TreeItem item, bool expanded) {
    if (!HasTreeItem(id, item)) return;
    NoteTreeExpansion(id, item, expanded);
    TreeItemExpanded(id, item, expanded);
}

bool DialogBase::IsTreeItemExpanded(int id, TreeItem item) const {
    const TreeNode* node = FindTreeNode(id, item);
    return node && node->expanded;
}

void DialogBase::SelectTreeItem(int id, TreeItem item) {
    if (item != kTreeRoot && !HasTreeItem(id, item)) return;
    if (!FindTree(id)) return;
    NoteTreeSelection(id, item);
    TreeItemSelected(id, item);
}

TreeItem DialogBase::SelectedTreeItem(int id) const {
    const Tree* tree = FindTree(id);
    return tree ? tree->selected : kTreeRoot;
}

bool DialogBase::HasTreeItem(int id, TreeItem item) const {
    return FindTreeNode(id, item) != nullptr;
}

bool DialogBase::TreeItemHasChildren(int id, TreeItem item) const {
    const TreeNode* node = FindTreeNode(id, item);
    return node && node->hasChildren;
}

void DialogBase::NoteTreeSelection(int id, TreeItem item) {
    if (Tree* tree = FindTree(id)) {
        if (item == kTreeRoot || tree->nodes.contains(item)) tree->selected = item;
    }
}

void DialogBase::NoteTreeExpansion(int id, TreeItem item, bool expanded) {
    if (Tree* tree = FindTree(id)) {
        if (auto it = tree->nodes.find(item); it != tree->nodes.end()) it->second.expanded = expanded;
    }
}

}  // namespace mw::platform
