// The folder chooser behind the Browse buttons of the folder and shortcut
// pages. It adds three things to a plain folder-browse dialog: the start
// folder is selected and expanded when the dialog opens; a subfolder (the
// product's folder name) is appended to whatever folder the user clicks,
// unless the clicked folder already ends with it; and, for the Start-menu
// choice, the tree is confined to the Start-menu programs folder and paths
// are shown relative to the Start Menu. A typed path that names no existing
// folder yet is checked and qualified here, so that a folder that is still to
// be made can be chosen.
//
// Paths use '/'; a path is absolute when it starts with '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mw::platform {
class UiToolkit;
class Window;
}  // namespace mw::platform

namespace mw {

// The longest folder text the pages and the chooser take, in characters.
inline constexpr std::size_t kMaxFolderChars = 260;
// HRESULT of a typed path longer than kMaxFolderChars (file name too long).
inline constexpr uint32_t kErrorFilenameTooLong = 0x800700CE;

// Number of characters (code points) of a UTF-8 text.
std::size_t FolderTextLength(std::string_view text);

// True when no character is a wild card ('*', '?') or invalid in a path
// ('"', '<', '>', '|', control characters).
bool IsValidPathText(std::string_view text);

// How many trailing elements of `path` are the elements of `tail`, compared
// without regard to case: the number of elements of `tail` when all of them
// match, else 0. A trailing '/' on either does not count; a path of a single
// element ("/" alone, or one relative name) never matches. Texts longer than
// kMaxFolderChars give 0.
int TrailingMatch(std::string_view path, std::string_view tail);

// Path rules of the pages and the chooser. "." and ".." elements are
// resolved; no trailing '/' except for "/" itself.
std::string CanonicalFolder(std::string_view path);
// The path from folder `from` to folder `to` (both absolute), canonicalised,
// empty when they are the same folder; nullopt when either is relative.
std::optional<std::string> RelativeFolderPath(std::string_view from, std::string_view to);
// `base` combined with `more`: an absolute `more` replaces `base`, an empty
// one gives `base`; the result is canonicalised.
std::string CombineFolderPath(std::string_view base, std::string_view more);

// ---- The folder-browse dialog, as the chooser drives it ----

// What the chooser may do to the open dialog.
class BrowseDialog {
public:
    virtual ~BrowseDialog() = default;
    // Selects the folder in the tree (filling the tree down to it), which
    // reports a selection change like a click; a folder outside the tree
    // changes nothing.
    virtual void SelectFolder(const std::string& path) = 0;
    virtual void ExpandFolder(const std::string& path) = 0;
    virtual bool HasEditBox() const = 0;
    // Puts the text into the edit box, all of it selected.
    virtual void SetEditText(const std::string& text) = 0;
    virtual void EnableOk(bool enable) = 0;
    // The dialog's window, owner of the error box.
    virtual platform::Window* Window() = 0;
};

// What the dialog reports to the chooser.
class BrowseEvents {
public:
    virtual ~BrowseEvents() = default;
    virtual void OnInitialized(BrowseDialog& dialog) = 0;
    // The folder of the newly selected item.
    virtual void OnSelectionChanged(BrowseDialog& dialog, const std::string& folder) = 0;
    // The user confirmed a typed text; true lets the dialog close.
    virtual bool OnValidateFailed(BrowseDialog& dialog, const std::string& typed) = 0;
};

struct BrowseRequest {
    platform::Window* owner = nullptr;
    std::string root;   // top of the tree: "/" or the chooser's root folder
    std::string title;  // text above the tree; none when empty
    bool editBox = false;
};

// Runs the folder-browse dialog (folder_dialog.hpp) of `ui` modally: the
// selected folder when the user confirmed, nullopt when cancelled.
std::optional<std::string> RunFolderDialog(platform::UiToolkit& ui, const BrowseRequest& request,
                                           BrowseEvents& events);

// ---- The chooser ----

class FolderBrowser final : public BrowseEvents {
public:
    explicit FolderBrowser(std::string title);

    // Confines the tree to `rootFolder` (an absolute folder) and
    // makes paths relative to its parent while the dialog shows them.
    void SetRoot(std::string rootFolder);

    // Runs the dialog of `ui` from `start` with `subfolder`; true when a
    // folder was chosen, which is then currentPath().
    bool Browse(platform::UiToolkit& ui, std::string_view start, std::string_view subfolder);

    // The start rules, without opening the dialog (Browse runs them first).
    void SetStart(std::string_view start, std::string_view subfolder);
    void ApplySubfolder();
    // Checks and qualifies a typed text; 0 when accepted (currentPath is the
    // qualified path then), else the error code to show.
    uint32_t ValidateTyped(std::string_view text);

    const std::string& currentPath() const { return currentPath_; }
    const std::string& subfolder() const { return subfolder_; }
    // The parent of the root folder; nullopt without a root.
    const std::optional<std::string>& rootParent() const { return rootParent_; }
    bool validated() const { return validated_; }

    void OnInitialized(BrowseDialog& dialog) override;
    void OnSelectionChanged(BrowseDialog& dialog, const std::string& folder) override;
    bool OnValidateFailed(BrowseDialog& dialog, const std::string& typed) override;

private:
    std::string currentPath_;
    std::string subfolder_;
    std::string title_;
    std::optional<std::string> rootItem_;
    std::optional<std::string> rootParent_;
    bool initialized_ = false;  // selections before the dialog's start count for nothing
    bool validated_ = false;    // a validated typed path wins over the returned item
    bool editBox_ = false;
};

// The error box of the chooser: the system's text of `code`, no caption of
// its own, the exclamation icon, right-to-left reading when the owner has
// that layout (without owner: when the user's default language reads so).
void ShowBrowseError(platform::Window* owner, uint32_t code);

// The chosen absolute folder, or empty text when cancelled.
std::string BrowseForFolder(platform::UiToolkit& ui, std::string_view start,
                            std::string_view subfolder, const std::string& title);

struct MenuFolderChoice {
    std::string folder;    // absolute; empty when cancelled
    std::string relative;  // relative to the Start Menu (or `folder` without one)
};
// The chooser rooted at the common Start-menu programs folder (when the
// platform has one; otherwise as BrowseForFolder).
MenuFolderChoice BrowseForMenuFolder(platform::UiToolkit& ui, std::string_view start,
                                     std::string_view subfolder, const std::string& title);

}  // namespace mw
