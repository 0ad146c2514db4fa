#include "engine/shortcuts.hpp"

#include "app/languages.hpp"
#include "engine/install_surface.hpp"
#include "engine/tokens.hpp"
#include "journal/journal.hpp"
#include "platform/file_system.hpp"
#include "platform/path.hpp"
#include "platform/roots.hpp"

namespace mw {
namespace {

constexpr uint32_t kMsgShortcuts = 1117;
constexpr uint32_t kMsgOk = 1011;
constexpr uint32_t kMsgFailed = 1012;

bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// A value of type string: the backslash is the one character to escape.
std::string StringValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// One argument of Exec: always quoted, with the characters that are special
// inside quotes escaped, "%" doubled (it starts a field code), and the
// string rule applied on top.
std::string ExecArgument(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return StringValue(quoted);
}

}  // namespace

std::vector<ShortcutRequest> PlanShortcuts(const ShortcutInputs& in) {
    std::vector<ShortcutRequest> plan;
    if (in.startMenuShortcut) {
        plan.push_back(
            {ShortcutSlot::StartMenuProgram, in.programPath, in.startMenuFolder, in.programName});
        plan.push_back({ShortcutSlot::StartMenuUninstaller, in.uninstallerPath, in.startMenuFolder,
                        in.uninstallerName});
    }
    if (in.desktopShortcut) {
        plan.push_back({ShortcutSlot::Desktop, in.programPath, in.desktopFolder, in.programName});
    }
    return plan;
}

std::optional<std::string> DesktopEntryText(const std::string& target,
                                            const std::string& workingFolder,
                                            const std::string& name) {
    if (HasControlCharacter(target) || HasControlCharacter(workingFolder) ||
        HasControlCharacter(name)) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           StringValue(name) + "\nExec=" + ExecArgument(target) +
           "\nPath=" + StringValue(workingFolder) + "\nTryExec=" + StringValue(target) + "\n";
}

bool CreateShortcut(const std::string& target, const std::string& folder,
                    const std::optional<std::string>& name, std::string* linkPath,
                    bool executable) {
    const std::string workingFolder = platform::ParentPath(target);
    if (workingFolder.empty()) return false;
    std::string linkName;
    if (name) {
        linkName = *name;
    } else {
        linkName = target.substr(target.rfind('/') + 1);
        const std::size_t dot = linkName.rfind('.');
        if (dot != std::string::npos && dot > 0) linkName.resize(dot);
    }
    if (linkName.empty() || linkName.find('/') != std::string::npos || folder.empty()) {
        return false;
    }
    const std::optional<std::string> text = DesktopEntryText(target, workingFolder, linkName);
    if (!text || HasControlCharacter(folder)) return false;
    const std::string link = platform::JoinPath(folder, linkName + ".desktop");

    auto& fs = platform::Files();
    std::error_code ec;
    std::unique_ptr<platform::OutputFile> out = fs.OpenForWrite(link, ec);
    if (!out || ec) return false;
    ec = out->Write(text->data(), text->size());
    std::error_code closed = out->Close();
    if (!ec) ec = closed;
    if (!ec) ec = fs.SetMode(link, executable ? 0755 : 0644);
    if (ec) {
        fs.RemoveFile(link);
        return false;
    }
    if (linkPath) *linkPath = link;
    return true;
}

std::string DesktopFolder() {
    std::string folder = platform::SpecialFolder(platform::csidl::CommonDesktopDirectory);
    if (folder.empty()) folder = platform::SpecialFolder(platform::csidl::DesktopDirectory);
    return folder;
}

bool RunShortcutStep(InstallSurface& surface, InstallJournal& journal,
                     const ShortcutInputs& inputs) {
    bool result = true;
    const std::string text = LoadCatalogString(kMsgShortcuts);
    surface.SetStatus(text);
    surface.AppendLog(text, false);
    for (const ShortcutRequest& request : PlanShortcuts(inputs)) {
        // An earlier shortcut that could not be moved out of the way is not
        // overwritten.
        bool made = journal.RecordShortcut(request.slot, request.folder);
        std::string link;
        made = made && CreateShortcut(request.target, request.folder, request.name, &link,
                                      request.slot == ShortcutSlot::Desktop);
        if (made) {
            journal.MarkResult(true, link);
        } else {
            result = false;
            journal.MarkResult(false);
            journal.WithdrawShortcut();
        }
    }
    surface.AppendLog(LoadCatalogString(result ? kMsgOk : kMsgFailed) + "\r\n", false);
    return result;
}

}  // namespace mw
