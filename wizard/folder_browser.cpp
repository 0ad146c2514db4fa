#include "wizard/folder_browser.hpp"

#include <filesystem>
#include <utility>
#include <vector>

#include "app/app_services.hpp"
#include "app/errors.hpp"
#include "app/languages.hpp"
#include "app/user_path_text.hpp"
#include "platform/case_fold.hpp"
#include "platform/folder_listing.hpp"
#include "platform/message_box.hpp"
#include "platform/path.hpp"
#include "platform/roots.hpp"

namespace mw {

namespace {

namespace fs = std::filesystem;

// A trailing '/' goes, except the one of "/" itself.
std::string_view WithoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

// The root of an absolute path counts as its first element ("/a" has two):
// a typed tail matches below the root, never the root itself.
std::vector<std::string> Elements(std::string_view path) {
    std::vector<std::string> out = platform::PathElements(path);
    if (path.starts_with('/')) out.insert(out.begin(), "/");
    return out;
}

bool SameElement(const std::string& a, const std::string& b) {
    return platform::SameFileName(a, b);
}

// The first `count` elements, joined again.
std::string LeadingElements(const std::vector<std::string>& elements, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out = platform::JoinPath(out, elements[i]);
    return out;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    std::vector<std::string> p = Elements(path), f = Elements(folder);
    if (p.size() < f.size()) return false;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (p[i] != f[i]) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

std::size_t FolderTextLength(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

bool IsValidPathText(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
            c == '|') {
            return false;
        }
    }
    return true;
}

int TrailingMatch(std::string_view path, std::string_view tail) {
    if (FolderTextLength(path) > kMaxFolderChars || FolderTextLength(tail) > kMaxFolderChars) {
        return 0;
    }
    std::vector<std::string> p = Elements(path), t = Elements(tail);
    if (p.size() < 2 || t.empty() || t.size() > p.size()) return 0;
    for (std::size_t i = 1; i <= t.size(); ++i) {
        if (!SameElement(p[p.size() - i], t[t.size() - i])) return 0;
    }
    return static_cast<int>(t.size());
}

std::string CanonicalFolder(std::string_view path) {
    if (path.empty()) return {};
    std::string out = fs::path(path).lexically_normal().string();
    if (out == ".") return {};
    return std::string(WithoutTrailingSlash(out));
}

std::optional<std::string> RelativeFolderPath(std::string_view from, std::string_view to) {
    if (!from.starts_with('/') || !to.starts_with('/')) return std::nullopt;
    fs::path rel =
        fs::path(CanonicalFolder(to)).lexically_relative(fs::path(CanonicalFolder(from)));
    if (rel.empty()) return std::nullopt;
    return CanonicalFolder(rel.string());
}

std::string CombineFolderPath(std::string_view base, std::string_view more) {
    if (more.starts_with('/')) return CanonicalFolder(more);
    if (more.empty()) return CanonicalFolder(base);
    if (base.empty()) return CanonicalFolder(more);
    return CanonicalFolder((fs::path(base) / fs::path(more)).string());
}

FolderBrowser::FolderBrowser(std::string title) : title_(std::move(title)) {}

void FolderBrowser::SetRoot(std::string rootFolder) {
    rootFolder = CanonicalFolder(rootFolder);
    if (!rootFolder.starts_with('/')) return;
    rootItem_ = rootFolder;
    std::string parent = fs::path(rootFolder).parent_path().string();
    if (rootFolder != "/" && !parent.empty()) {
        rootParent_ = parent;
    } else {
        rootParent_.reset();
    }
}

void FolderBrowser::SetStart(std::string_view start, std::string_view subfolder) {
    currentPath_ = start.starts_with('/') ? std::string(start) : std::string();
    if (currentPath_.empty() && rootItem_) currentPath_ = *rootItem_;
    // The platform reads the user's folders once per process.
    if (currentPath_.empty()) currentPath_ = platform::DocumentsFolder();
    subfolder_ = IsValidPathText(subfolder) ? std::string(subfolder) : std::string();
    ApplySubfolder();
}

void FolderBrowser::ApplySubfolder() {
    if (subfolder_.empty()) return;
    if (TrailingMatch(currentPath_, subfolder_) == 0) {
        std::vector<std::string> sub = Elements(subfolder_);
        std::size_t skip = 0;
        for (std::size_t keep = sub.size() - 1; keep > 0; --keep) {
            int n = TrailingMatch(currentPath_, LeadingElements(sub, keep));
            if (n > 0) {
                skip = static_cast<std::size_t>(n);
                break;
            }
        }
        std::string rest;
        for (std::size_t i = skip; i < sub.size(); ++i) rest = platform::JoinPath(rest, sub[i]);
        std::string appended = CombineFolderPath(currentPath_, rest);
        if (FolderTextLength(appended) <= kMaxFolderChars) currentPath_ = std::move(appended);
    }
    if (rootParent_) {
        if (auto rel = RelativeFolderPath(*rootParent_, currentPath_)) currentPath_ = *rel;
    }
}

uint32_t FolderBrowser::ValidateTyped(std::string_view typed) {
    if (FolderTextLength(typed) > kMaxFolderChars) return kErrorFilenameTooLong;
    std::string text(WithoutTrailingSlash(Trim(typed)));
    // A line feed or a malformed text must not become part of a folder.
    if (!IsAcceptableUserPathText(text)) return kErrorBadPathname;
    if (text.empty()) {
        std::error_code ec;
        text = platform::CurrentFolder(ec);
        if (ec) return Win32ErrorFromErrno(ec.value());
    }
    std::string qualified;
    if (text.starts_with('/')) {
        qualified = CanonicalFolder(text);
    } else {
        // A relative text counts from the Start Menu in the Start-menu
        // chooser, from the current folder otherwise.
        std::string base;
        if (rootParent_) {
            base = *rootParent_;
        } else {
            std::error_code ec;
            base = platform::CurrentFolder(ec);
            if (ec) return Win32ErrorFromErrno(ec.value());
        }
        qualified = CombineFolderPath(base, text);
    }
    if (!qualified.starts_with('/')) return kErrorBadPathname;
    if (rootParent_ && !IsAtOrBelow(qualified, *rootParent_)) return kErrorBadPathname;
    if (!IsValidPathText(qualified)) return kErrorBadPathname;
    currentPath_ = std::move(qualified);
    validated_ = true;
    return 0;
}

void FolderBrowser::OnInitialized(BrowseDialog& dialog) {
    initialized_ = true;
    std::string show = rootParent_ ? CombineFolderPath(*rootParent_, currentPath_) : currentPath_;
    while (!show.empty() && !platform::IsExistingFolder(show)) {
        std::string parent = fs::path(show).parent_path().string();
        show = parent == show ? std::string() : parent;
    }
    if (!show.empty()) {
        dialog.SelectFolder(show);
        dialog.ExpandFolder(show);
    }
    if (!subfolder_.empty()) editBox_ = dialog.HasEditBox();
    if (!show.empty() && editBox_) dialog.SetEditText(currentPath_);
}

void FolderBrowser::OnSelectionChanged(BrowseDialog& dialog, const std::string& folder) {
    if (!initialized_) return;
    if (!folder.empty()) {
        currentPath_ = folder;
        ApplySubfolder();
    }
    if (editBox_) dialog.SetEditText(currentPath_);
    if (subfolder_.empty()) dialog.EnableOk(!folder.empty());
}

bool FolderBrowser::OnValidateFailed(BrowseDialog& dialog, const std::string& typed) {
    uint32_t error = ValidateTyped(typed);
    if (error == 0) return true;
    ShowBrowseError(dialog.Window(), error);
    return false;
}

bool FolderBrowser::Browse(platform::UiToolkit& ui, std::string_view start,
                           std::string_view subfolder) {
    initialized_ = false;
    validated_ = false;
    editBox_ = false;
    SetStart(start, subfolder);

    BrowseRequest request;
    request.owner = DefaultOwner();
    request.root = rootItem_.value_or("/");
    request.title = title_;
    request.editBox = !subfolder_.empty();
    std::optional<std::string> item = RunFolderDialog(ui, request, *this);
    if (!item) return false;
    if (!item->empty() && !validated_) currentPath_ = *item;
    return !item->empty();
}

void ShowBrowseError(platform::Window* owner, uint32_t code) {
    uint32_t type = platform::mb::IconExclamation;
    if (owner ? HasRightToLeftLayout(owner) : IsRightToLeft(LanguageFromUserDefault(0))) {
        type |= platform::mb::RtlReading;
    }
    platform::MessageBoxes().Show(owner, SystemErrorText(code, 0), std::string(), type);
}

std::string BrowseForFolder(platform::UiToolkit& ui, std::string_view start,
                            std::string_view subfolder, const std::string& title) {
    FolderBrowser browser(title);
    return browser.Browse(ui, start, subfolder) ? browser.currentPath() : std::string();
}

MenuFolderChoice BrowseForMenuFolder(platform::UiToolkit& ui, std::string_view start,
                                     std::string_view subfolder, const std::string& title) {
    FolderBrowser browser(title);
    // A programs folder that does not exist yet still roots the tree: the
    // shortcuts' folders are made below it when the product is installed.
    std::string programs = platform::SpecialFolder(platform::csidl::CommonPrograms);
    if (!programs.empty()) browser.SetRoot(programs);
    MenuFolderChoice choice;
    if (!browser.Browse(ui, start, subfolder)) return choice;
    choice.folder = browser.currentPath();
    choice.relative = choice.folder;
    if (browser.rootParent()) {
        if (auto rel = RelativeFolderPath(*browser.rootParent(), choice.folder)) {
            choice.relative = *rel;
        }
    }
    return choice;
}

}  // namespace mw
