#include "product/uninstall.hpp"

#include <algorithm>

#include "app/identity.hpp"
#include "engine/payload_extractor.hpp"
#include "platform/elevation.hpp"
#include "platform/file_system.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/process.hpp"
#include "platform/registry.hpp"
#include "platform/trusted_path.hpp"
#include "product/registration.hpp"

namespace mw::product {
namespace {

using Kind = UninstallAction::Kind;
using platform::FileType;

bool IsBelow(const std::string& path, const std::string& folder) {
    if (folder == "/") return path.size() > 1 && path[0] == '/';
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Why(const std::error_code& ec) {
    return ec.message();
}

// Removes a file of the installation: only a regular file, never a link,
// folder or device someone put in its place.
std::error_code RemoveListedFile(const std::string& path) {
    std::error_code ec;
    const platform::FileInfo info = platform::Files().Status(path, ec);
    if (ec) return ec;
    if (info.type == FileType::None) return {};
    if (info.type != FileType::Regular)
        return platform::OsError(std::errc::operation_not_permitted);
    return platform::Files().RemoveFile(path);
}

std::error_code RemoveListedFolder(const std::string& path) {
    std::error_code ec;
    const platform::FileInfo info = platform::Files().Status(path, ec);
    if (ec) return ec;
    if (info.type == FileType::None) return {};
    if (info.type != FileType::Directory) return platform::OsError(std::errc::not_a_directory);
    return platform::Files().RemoveDirectory(path);
}

std::error_code Remove(const UninstallAction& action) {
    switch (action.kind) {
        case Kind::Shortcut:
            // A shortcut of ours is a desktop entry; anything else at its
            // place is not ours to remove.
            if (!EndsWith(action.path, ".desktop"))
                return platform::OsError(std::errc::operation_not_permitted);
            return RemoveListedFile(action.path);
        case Kind::File:
            return RemoveListedFile(action.path);
        case Kind::Folder:
            return RemoveListedFolder(action.path);
        case Kind::UninstallKey: {
            std::error_code ec = platform::MachineRegistry().DeleteTree(uninstallKey);
            return ec == std::errc::no_such_file_or_directory ? std::error_code() : ec;
        }
    }
    return {};
}

}  // namespace

std::string ItemName(const UninstallAction& action) {
    if (action.kind == Kind::UninstallKey)
        return "HKEY_LOCAL_MACHINE\\" + std::string(uninstallKey);
    return action.path;
}

UninstallPlan PlanUninstall(const std::list<JournalEntry>& entries, const std::string& logPath,
                            const std::string& selfPath, bool removeData) {
    UninstallPlan plan;
    std::vector<UninstallAction> shortcuts, files, folders, lastFolders;
    bool key = false, self = false;
    // Newest first: the log lists the entries in the order they were made.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const JournalEntry& entry = *it;
        if (!entry.succeeded) continue;  // nothing of it stayed on the machine
        switch (entry.kind) {
            case JournalEntryKind::ProgramShortcut:
            case JournalEntryKind::UninstallShortcut:
            case JournalEntryKind::DesktopShortcut:
                if (!entry.path.empty()) shortcuts.push_back({Kind::Shortcut, entry.path});
                break;
            case JournalEntryKind::InstalledFile: {
                if (entry.path.empty()) break;
                const auto fileKind = static_cast<PayloadKind>(entry.fileKind);
                // The redistributable lived in the installer's work folder,
                // which went with the installation.
                if (fileKind == PayloadKind::DirectXRedist) break;
                if (fileKind == PayloadKind::DataFile && !removeData) {
                    plan.kept.push_back(entry.path);
                    break;
                }
                if (fileKind == PayloadKind::Program && plan.program.empty())
                    plan.program = entry.path;
                if (entry.path == selfPath || entry.path == logPath)
                    self = self || entry.path == selfPath;
                else
                    files.push_back({Kind::File, entry.path});
                break;
            }
            case JournalEntryKind::CreatedFolder:
                if (!entry.path.empty()) folders.push_back({Kind::Folder, entry.path});
                break;
            case JournalEntryKind::UninstallKey:
                key = true;
                break;
            case JournalEntryKind::ApplicationRegistration:
                plan.registered = true;
                break;
            case JournalEntryKind::DirectXUpdate:
                break;
        }
    }
    // Duplicates (an update carries the earlier entries forward) act once.
    auto unique = [](std::vector<UninstallAction>& list) {
        std::vector<UninstallAction> out;
        for (auto& action : list)
            if (std::find(out.begin(), out.end(), action) == out.end())
                out.push_back(std::move(action));
        list = std::move(out);
    };
    unique(shortcuts);
    unique(files);
    unique(folders);

    auto keeps = [&](const std::string& folder) {
        return std::any_of(plan.kept.begin(), plan.kept.end(),
                           [&](const std::string& kept) { return IsBelow(kept, folder); });
    };
    std::vector<UninstallAction> early;
    for (UninstallAction& folder : folders) {
        if (keeps(folder.path)) {
            plan.kept.push_back(folder.path);
        } else if (IsBelow(logPath, folder.path) || (self && IsBelow(selfPath, folder.path))) {
            lastFolders.push_back(std::move(folder));
        } else {
            early.push_back(std::move(folder));
        }
    }
    // Folders are removed innermost first whatever order they were made in.
    auto deepestFirst = [](std::vector<UninstallAction>& list) {
        auto depth = [](const std::string& path) {
            return std::count(path.begin(), path.end(), '/');
        };
        std::stable_sort(list.begin(), list.end(), [&](const auto& a, const auto& b) {
            return depth(a.path) > depth(b.path);
        });
    };
    deepestFirst(early);
    deepestFirst(lastFolders);

    for (auto* group : {&shortcuts, &files, &early})
        plan.actions.insert(plan.actions.end(), group->begin(), group->end());
    if (key) plan.actions.push_back({Kind::UninstallKey, {}});
    plan.actions.push_back({Kind::File, logPath});
    if (self) plan.actions.push_back({Kind::File, selfPath});
    plan.actions.insert(plan.actions.end(), lastFolders.begin(), lastFolders.end());
    return plan;
}

UninstallReport CarryOut(const UninstallPlan& plan) {
    UninstallReport report;
    bool unregistered = false;
    if (!plan.program.empty()) {
        const std::string item = plan.program + " /Unregister";
        std::error_code ec;
        const platform::FileInfo info = platform::Files().Status(plan.program, ec);
        if (ec || info.type != FileType::Regular) {
            if (ec)
                report.failed.emplace_back(item, Why(ec));
            else if (info.type != FileType::None)
                report.failed.emplace_back(item, "not a regular file");
            else if (plan.registered)
                report.failed.emplace_back(item, "the program is missing");
        } else if (platform::IsAdministrator() &&
                   !platform::OnlyAdministratorCouldWrite(plan.program)) {
            // Root runs nothing that another user could have replaced.
            report.failed.emplace_back(item,
                                       "the program could have been replaced by another user");
        } else {
            platform::ProcessOptions options;
            options.workingFolder = platform::ParentPath(plan.program);
            int code = 0;
            if (auto started = platform::RunProcess({plan.program, "/Unregister"}, code, options))
                report.failed.emplace_back(item, Why(started));
            else if (code != kRegistrationDone)
                report.failed.emplace_back(item, "ended with exit code " + std::to_string(code));
            else
                unregistered = true;
        }
    }
    std::vector<const UninstallAction*> notEmpty;
    for (const UninstallAction& action : plan.actions) {
        const std::error_code ec = Remove(action);
        if (!ec)
            report.removed.push_back(ItemName(action));
        else if (action.kind == Kind::Folder && ec == std::errc::directory_not_empty)
            notEmpty.push_back(&action);
        else
            report.failed.emplace_back(ItemName(action), Why(ec));
    }
    // The desktop's caches go last: once our entries are gone, a cache that
    // would describe nothing is removed, which may empty folders of ours.
    if (unregistered) RefreshAssociations();
    for (const UninstallAction* action : notEmpty) {
        if (const std::error_code ec = Remove(*action))
            report.failed.emplace_back(ItemName(*action), Why(ec));
        else
            report.removed.push_back(ItemName(*action));
    }
    return report;
}

}  // namespace mw::product
