#include "wizard/folder_dialog.hpp"

#include "app/app_services.hpp"
#include "app/errors.hpp"
#include "app/languages.hpp"
#include "wizard/page.hpp"

namespace mw {

namespace {

constexpr uint32_t kOkText = 1001;
constexpr uint32_t kCancelText = 1002;

}  // namespace

std::optional<std::string> RunFolderDialog(platform::UiToolkit& ui, const BrowseRequest& request,
                                           BrowseEvents& events) {
    CFolderDialog dialog(ui);
    return dialog.Run(request, events);
}

CFolderDialog::CFolderDialog(platform::UiToolkit& ui) : ui_(ui) {}

CFolderDialog::~CFolderDialog() = default;

std::optional<std::string> CFolderDialog::Run(const BrowseRequest& request, BrowseEvents& events) {
    std::optional<platform::DialogTemplate> layout = LoadWizardTemplate(folder_dialog::kTemplate);
    if (layout) dialog_ = ui_.CreateDialog(*layout, nullptr, request.owner);
    if (!dialog_) {
        // Said, not swallowed: a Browse button that silently does nothing
        // would look like a cancelled choice.
        ShowBrowseError(request.owner, kEFail);
        return std::nullopt;
    }
    events_ = &events;
    editBox_ = request.editBox;
    dialog_->SetWindowClass("FolderBrowser");
    dialog_->SetTitle(BuildTitle(true));
    dialog_->SetText(platform::cmd::Ok, LoadCatalogString(kOkText));
    dialog_->SetText(platform::cmd::Cancel, LoadCatalogString(kCancelText));
    dialog_->SetText(folder_dialog::kTitle, request.title);
    dialog_->Show(folder_dialog::kTitle, !request.title.empty());
    dialog_->Show(folder_dialog::kEdit, editBox_);
    dialog_->SetTextLimit(folder_dialog::kEdit, static_cast<int>(kMaxFolderChars));
    dialog_->SetDefaultButton(platform::cmd::Ok);

    tree_ = std::make_unique<CFolderTree>(*dialog_, folder_dialog::kTree);
    tree_->Reset(request.root);
    tree_->Fill(tree_->top());
    dialog_->ExpandTreeItem(folder_dialog::kTree, tree_->top(), true);
    dialog_->SetHandler([this](const platform::ControlEvent& event) { OnEvent(event); });
    events.OnInitialized(*this);
    dialog_->SetFocus(editBox_ ? folder_dialog::kEdit : folder_dialog::kTree);

    // Boxes opened while it runs belong to it.
    NoteTopLevelWindowShown(dialog_.get(), false);
    const int result = dialog_->RunModal();
    NoteTopLevelWindowHidden(dialog_.get());
    std::optional<std::string> chosen;
    if (result == platform::cmd::Ok) {
        platform::TreeItem selected = dialog_->SelectedTreeItem(folder_dialog::kTree);
        chosen = tree_->PathOf(selected == platform::kTreeRoot ? tree_->top() : selected);
    }
    dialog_->ShowDialog(false);
    events_ = nullptr;
    return chosen;
}

void CFolderDialog::OnEvent(const platform::ControlEvent& event) {
    using platform::Notify;
    if (event.id == folder_dialog::kTree) {
        if (event.what == Notify::ItemExpanding) {
            tree_->Fill(event.item);
        } else if (event.what == Notify::SelectionChanged && events_) {
            events_->OnSelectionChanged(
                *this, tree_->PathOf(dialog_->SelectedTreeItem(folder_dialog::kTree)));
        }
        return;
    }
    if (event.what != Notify::Clicked) return;
    if (event.id == platform::cmd::Ok) {
        if (!dialog_->IsEnabled(platform::cmd::Ok)) return;
        // Every confirmed text is checked, an existing folder's too, so that
        // the character rules and the Start-menu confinement always hold.
        if (editBox_ && events_ &&
            !events_->OnValidateFailed(*this, dialog_->Text(folder_dialog::kEdit))) {
            return;
        }
        // Without an edit box the choice is the selected folder, so there
        // must be one; a typed folder needs none.
        if (!editBox_ && dialog_->SelectedTreeItem(folder_dialog::kTree) == platform::kTreeRoot) {
            return;
        }
        dialog_->EndDialog(platform::cmd::Ok);
    } else if (event.id == platform::cmd::Cancel) {
        dialog_->EndDialog(platform::cmd::Cancel);
    }
}

void CFolderDialog::SelectFolder(const std::string& path) {
    platform::TreeItem item = tree_->Reveal(path);
    if (item == platform::kTreeRoot) return;
    for (platform::TreeItem up = dialog_->TreeParent(folder_dialog::kTree, item);
         up != platform::kTreeRoot; up = dialog_->TreeParent(folder_dialog::kTree, up)) {
        dialog_->ExpandTreeItem(folder_dialog::kTree, up, true);
    }
    dialog_->SelectTreeItem(folder_dialog::kTree, item);
    if (events_) events_->OnSelectionChanged(*this, tree_->PathOf(item));
}

void CFolderDialog::ExpandFolder(const std::string& path) {
    platform::TreeItem item = tree_->Reveal(path);
    if (item == platform::kTreeRoot) return;
    tree_->Fill(item);
    dialog_->ExpandTreeItem(folder_dialog::kTree, item, true);
}

void CFolderDialog::SetEditText(const std::string& text) {
    if (editBox_) dialog_->SetText(folder_dialog::kEdit, text);
}

void CFolderDialog::EnableOk(bool enable) {
    dialog_->Enable(platform::cmd::Ok, enable);
}

}  // namespace mw
