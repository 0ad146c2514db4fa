// What the two toolkits' dialogs (the FLTK windows and the headless twin)
// have in common, kept in one place: how a control event reaches the
// dialog's handler, the end of a modal run, and the items of tree controls.
// A toolkit keeps its widgets in step through the tree hooks; the items
// themselves, their order, parents, texts, expansion and the selection, are
// kept here.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/controls.hpp"

namespace mw::platform {

class DialogBase : public Dialog {
public:
    void SetHandler(Handler handler) override { handler_ = std::move(handler); }
    void EndDialog(int result) override {
        ended_ = true;
        result_ = result;
    }

    TreeItem InsertTreeItem(int id, TreeItem parent, const std::string& text,
                            bool hasChildren) final;
    std::vector<TreeItem> TreeChildren(int id, TreeItem parent) const final;
    TreeItem TreeParent(int id, TreeItem item) const final;
    std::string TreeItemText(int id, TreeItem item) const final;
    void DeleteTreeChildren(int id, TreeItem parent) final;
    void ExpandTreeItem(int id, TreeItem item, bool expanded) final;
    bool IsTreeItemExpanded(int id, TreeItem item) const final;
    void SelectTreeItem(int id, TreeItem item) final;
    TreeItem SelectedTreeItem(int id) const final;

protected:
    // The top-level dialog this one belongs to (itself when it is one).
    virtual DialogBase& TopLevelDialog() = 0;
    // Whether control `id` of this dialog is a tree.
    virtual bool IsTree(int id) const = 0;

    // Hands the event to the handler; without one, OK and Cancel end a
    // running modal run with their id. Then the top-level window, unless
    // the event ended it, writes its dump record.
    void Send(const ControlEvent& event);

    // What a user did to a tree, as the toolkit saw it.
    bool HasTreeItem(int id, TreeItem item) const;
    bool TreeItemHasChildren(int id, TreeItem item) const;
    void NoteTreeSelection(int id, TreeItem item);
    void NoteTreeExpansion(int id, TreeItem item, bool expanded);

    // Hooks for the toolkit's widgets; the items are already as the call
    // says when they run.
    virtual void TreeItemInserted(int, TreeItem /*parent*/, TreeItem /*item*/,
                                  const std::string& /*text*/, bool /*hasChildren*/) {}
    virtual void TreeItemsDeleted(int, TreeItem /*parent*/, const std::vector<TreeItem>&) {}
    virtual void TreeItemExpanded(int, TreeItem, bool) {}
    virtual void TreeItemSelected(int, TreeItem) {}

    // The rules of a list's items, for the toolkits' own lists: an item
    // inserted at `position` (out of range: at the end) moves the selection
    // down when it lands at or above it; the text of the selected item ("" for
    // none). InsertListItem gives the position the item got.
    static int InsertListItem(std::vector<ListItem>& items, int& selection, int position,
                              const ListItem& item);
    static std::string SelectedListText(const std::vector<ListItem>& items, int selection);

    Handler handler_;
    bool running_ = false, ended_ = false;
    int result_ = 0;

private:
    struct TreeNode {
        TreeItem parent = kTreeRoot;
        std::string text;
        bool hasChildren = false;
        bool expanded = false;
        std::vector<TreeItem> children;
    };
    struct Tree {
        std::map<TreeItem, TreeNode> nodes;
        std::vector<TreeItem> top;  // the items below the root, in order
        TreeItem next = 1;
        TreeItem selected = kTreeRoot;
    };
    Tree* FindTree(int id);
    const Tree* FindTree(int id) const;
    const TreeNode* FindTreeNode(int id, TreeItem item) const;
    std::map<int, Tree> trees_;
};

}  // namespace mw::platform
