#include "journal/journal.hpp"

#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "journal/install_log.hpp"
#include "journal/security.hpp"
#include "platform/case_fold.hpp"
#include "platform/file_system.hpp"
#include "platform/path.hpp"
#include "platform/registry.hpp"

namespace mw {
namespace {

using platform::FileInfo;
using platform::FileType;

// The file name of a saved registry key inside its own backup folder.
constexpr std::string_view kSavedKeyName = "key.hive";

// Status that tells "nothing there" from "cannot tell".
FileInfo StatusOf(const std::string& path, std::error_code& ec) {
    ec.clear();
    return platform::Files().Status(path, ec);
}

// Switches a privilege on for one registry call and afterwards back to what
// it was: root runs with every capability effective, and switching one off
// that was on would take from it the rights it needs for the rest.
class PrivilegeScope {
public:
    explicit PrivilegeScope(std::string_view name)
        : name_(name), wasEnabled_(PrivilegeEnabled(name)) {
        if (!wasEnabled_) EnablePrivilege(name_, true);
    }
    ~PrivilegeScope() {
        if (!wasEnabled_) EnablePrivilege(name_, false);
    }
    PrivilegeScope(const PrivilegeScope&) = delete;
    PrivilegeScope& operator=(const PrivilegeScope&) = delete;

private:
    std::string_view name_;
    bool wasEnabled_;
};

// For what must not be forgotten: only "nothing there" counts as gone.
bool MayExist(const std::string& path) {
    std::error_code ec;
    FileInfo info = StatusOf(path, ec);
    return ec || info.type != FileType::None;
}

// Absolute (against the current folder) and lexically normalised.
std::vector<std::string> NormalisedComponents(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::error_code ec;
        full = std::filesystem::current_path(ec).string() + "/" + full;
    }
    return platform::NormalPathElements(full);
}

// What the same-item test needs to know of one path.
struct ItemIdentity {
    std::string exact;  // the components as given
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string folded;  // absolute, normalised, case-folded (when it does not exist)
};

ItemIdentity Identify(const std::string& path) {
    ItemIdentity id;
    id.exact = path.starts_with('/') ? "/" : "";
    for (const std::string& part : platform::PathElements(path)) id.exact += part + "/";
    std::error_code ec;
    FileInfo info = StatusOf(path, ec);
    id.exists = !ec && info.type != FileType::None;
    id.device = info.device;
    id.inode = info.inode;
    if (!id.exists) {
        for (const std::string& part : NormalisedComponents(path)) {
            id.folded += "/" + platform::FoldFileName(part);
        }
    }
    return id;
}

bool Same(const ItemIdentity& a, const ItemIdentity& b) {
    if (a.exact == b.exact) return true;
    if (a.exists || b.exists) {
        return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
    }
    return a.folded == b.folded;
}

// The items of one kind that this installation recorded, indexed for the
// same-item test, so that carrying a long earlier log forward stays linear.
class ItemIndex {
public:
    void Add(const std::string& path) {
        ItemIdentity id = Identify(path);
        exact_.insert(id.exact);
        if (id.exists) {
            files_.insert({id.device, id.inode});
        } else {
            folded_.insert(id.folded);
        }
    }
    bool Contains(const std::string& path) const {
        ItemIdentity id = Identify(path);
        if (exact_.count(id.exact)) return true;
        if (id.exists) return files_.count({id.device, id.inode}) > 0;
        return folded_.count(id.folded) > 0;
    }

private:
    std::set<std::string> exact_;
    std::set<std::pair<dev_t, ino_t>> files_;
    std::set<std::string> folded_;
};

}  // namespace

bool IsSameItem(const std::string& a, const std::string& b) {
    return Same(Identify(a), Identify(b));
}

InstallJournal::InstallJournal(std::string productKeyName, std::string productText)
    : productKeyName_(std::move(productKeyName)), productText_(std::move(productText)) {}

// Backups that were neither restored nor disposed of stay where they are: they
// may be the only copy of what the installation replaced.
InstallJournal::~InstallJournal() = default;

std::string InstallJournal::ProductUninstallKey() const {
    return std::string(kUninstallKeyRoot) + "\\" + productKeyName_;
}

std::string InstallJournal::UninstallKeyText() const {
    return "HKEY_LOCAL_MACHINE\\" + ProductUninstallKey();
}

JournalEntry& InstallJournal::Append(JournalEntryKind kind) {
    JournalEntry& entry = currentEntries_.emplace_back();
    entry.kind = kind;
    return entry;
}

// ------------------------------------------------------------------- recording

bool InstallJournal::CreateFolders(const std::string& folder) {
    auto& fs = platform::Files();
    bool absolute = folder.starts_with('/');
    std::string prefix;
    for (const std::string& part : platform::PathElements(folder)) {
        if (absolute || !prefix.empty()) prefix += '/';
        prefix += part;
        std::error_code ec;
        FileInfo info = StatusOf(prefix, ec);
        if (ec) return false;
        // A link is taken as the folder it stands for; whether it may be
        // followed is for the file system to decide when a level below it
        // is made.
        if (info.type == FileType::Directory || info.type == FileType::Symlink) continue;
        if (info.type != FileType::None) return false;
        if (fs.CreateDirectory(prefix)) return false;
        JournalEntry& entry = Append(JournalEntryKind::CreatedFolder);
        entry.path = prefix;
        entry.succeeded = true;
    }
    return true;
}

const std::string& InstallJournal::BackupFolder() {
    if (backupFolder_.empty()) {
        std::string folder;
        if (!platform::MakePrivateTempFolder("mw-backup-", folder)) backupFolder_ = folder;
    }
    return backupFolder_;
}

// A backup that cannot be deleted now is tried again when the journal lets
// go of its backup folder.
void InstallJournal::RemoveBackup(const std::string& backup) {
    auto& fs = platform::Files();
    if (fs.RemoveFile(backup) && MayExist(backup)) {
        strays_.push_back(backup);
        return;
    }
    const std::string parent = platform::ParentPath(backup);
    if (backup.ends_with(kSavedKeyName) && parent != backupFolder_ && !parent.empty()) {
        if (fs.RemoveDirectory(parent) && MayExist(parent)) strays_.push_back(parent);
    }
}

void InstallJournal::DropBackupFolder() {
    auto& fs = platform::Files();
    std::vector<std::string> left;
    for (const std::string& stray : strays_) {
        // Files first, then their folders (a saved key's own folder).
        std::error_code ec;
        bool folder = StatusOf(stray, ec).type == FileType::Directory;
        if ((folder ? fs.RemoveDirectory(stray) : fs.RemoveFile(stray)) && MayExist(stray)) {
            left.push_back(stray);
        } else if (!folder && stray.ends_with(kSavedKeyName)) {
            const std::string parent = platform::ParentPath(stray);
            if (fs.RemoveDirectory(parent) && MayExist(parent)) left.push_back(parent);
        }
    }
    strays_ = std::move(left);
    if (!backupFolder_.empty() && !fs.RemoveDirectory(backupFolder_)) backupFolder_.clear();
}

std::string InstallJournal::SaveItem(const std::string* path, bool copy, JournalEntry* entry) {
    auto& fs = platform::Files();
    const std::string& folder = BackupFolder();
    if (folder.empty()) return {};
    std::string name;
    if (!path) {
        // A name for a file still to be made (a saved registry key, which is
        // created exclusively): inside a folder of its own, so no name is
        // ever given up and taken again.
        if (fs.CreateUniqueDirectory(folder, "mw", name)) return {};
        return name + "/" + std::string(kSavedKeyName);
    }
    if (fs.CreateUniqueFile(folder, "mw", name)) return {};

    auto discard = [&] {
        RemoveBackup(name);
        return std::string();
    };
    std::error_code ec;
    FileInfo before = StatusOf(*path, ec);
    if (ec || before.type == FileType::None) return discard();
    if (copy) {
        if (fs.CopyFile(*path, name)) return discard();
        if (entry) {
            entry->prior = PriorItem::LeftInPlace;
            entry->priorDevice = before.device;
            entry->priorInode = before.inode;
        }
        return name;
    }
    ec = fs.Rename(*path, name);
    if (ec == std::errc::cross_device_link) {
        // Another file system: copy, then delete the original. When the
        // original cannot be deleted (a read-only folder, say) the item is
        // not out of the way: the copy goes and the entry fails, with the
        // original as it was.
        if (fs.CopyFile(*path, name)) return discard();
        ec = fs.RemoveFile(*path);
        if (ec && !MayExist(*path)) ec.clear();
    }
    if (ec) return discard();
    if (entry) entry->prior = PriorItem::MovedAway;
    return name;
}

std::string InstallJournal::BackupToTemp(const std::optional<std::string>& path, bool copy) {
    return SaveItem(path ? &*path : nullptr, copy, nullptr);
}

// Saves what stands at `original` for `entry`. False (and the entry marked
// Untouchable) when something stands there that could not be saved.
bool InstallJournal::SaveFor(JournalEntry& entry, const std::string& original, bool copy) {
    entry.restorePath = original;
    std::error_code ec;
    FileInfo info = StatusOf(original, ec);
    if (!ec && info.type == FileType::None) return true;
    if (!ec) entry.backupPath = SaveItem(&original, copy, &entry);
    if (entry.backupPath.empty()) {
        entry.prior = PriorItem::Untouchable;
        return false;
    }
    return true;
}

bool InstallJournal::RecordFile(const std::string& path, int32_t payloadKind, bool copyBackup) {
    pending_ = true;
    bool ok = true;
    if (const std::string folder = platform::ParentPath(path); !folder.empty() && folder != "/")
        ok = CreateFolders(folder);
    JournalEntry& entry = Append(JournalEntryKind::InstalledFile);
    entry.path = path;
    entry.fileKind = payloadKind;
    if (!ok) {
        // Nothing may be written there; nothing there is touched.
        entry.restorePath = path;
        entry.prior = PriorItem::Untouchable;
        return false;
    }
    return SaveFor(entry, path, copyBackup);
}

bool InstallJournal::RecordShortcut(ShortcutSlot slot, const std::string& folder) {
    pending_ = true;
    bool ok = CreateFolders(folder);
    JournalEntryKind kind =
        slot == ShortcutSlot::StartMenuProgram       ? JournalEntryKind::ProgramShortcut
        : slot == ShortcutSlot::StartMenuUninstaller ? JournalEntryKind::UninstallShortcut
                                                     : JournalEntryKind::DesktopShortcut;
    JournalEntry& entry = Append(kind);
    for (const JournalEntry& earlier : previousEntries_) {
        if (earlier.kind != kind) continue;
        if (!earlier.path.empty()) ok = SaveFor(entry, earlier.path, false) && ok;
        break;
    }
    return ok;
}

bool InstallJournal::RecordUninstallKey(bool existedBefore) {
    pending_ = true;
    JournalEntry& entry = Append(JournalEntryKind::UninstallKey);
    if (!existedBefore || productKeyName_.empty()) return true;
    std::string name = SaveItem(nullptr, false, nullptr);
    if (!name.empty()) {
        std::error_code ec;
        {
            PrivilegeScope backup("SeBackupPrivilege");
            ec = platform::MachineRegistry().SaveKey(ProductUninstallKey(), name);
        }
        if (!ec) {
            entry.backupPath = name;
            entry.prior = PriorItem::MovedAway;
            return true;
        }
        RemoveBackup(name);
    }
    // The key was there and could not be saved: RollBack must not delete it.
    entry.prior = PriorItem::Untouchable;
    return false;
}

void InstallJournal::RecordRegistration() {
    pending_ = true;
    Append(JournalEntryKind::ApplicationRegistration);
}

void InstallJournal::RecordDirectXUpdate() {
    pending_ = true;
    Append(JournalEntryKind::DirectXUpdate);
}

void InstallJournal::MarkResult(bool succeeded, const std::optional<std::string>& text) {
    if (!pending_) return;
    pending_ = false;
    if (currentEntries_.empty()) return;
    currentEntries_.back().succeeded = succeeded;
    if (text) currentEntries_.back().path = *text;
}

bool InstallJournal::WasInstalledBefore(std::string_view path) const {
    for (const JournalEntry& entry : previousEntries_) {
        if (entry.kind == JournalEntryKind::InstalledFile && entry.succeeded &&
            entry.path == path) {
            return true;
        }
    }
    return false;
}

// -------------------------------------------------------------------- rollback

// Puts a saved item back at its place, replacing whatever stands there.
bool InstallJournal::Restore(const JournalEntry& entry) {
    auto& fs = platform::Files();
    std::error_code ec = fs.Rename(entry.backupPath, entry.restorePath);
    if (ec == std::errc::cross_device_link) {
        if (fs.CopyFile(entry.backupPath, entry.restorePath)) return false;
        RemoveBackup(entry.backupPath);
        return true;
    }
    return !ec;
}

// True when the file at `path` is still the one that was copied to `backup`:
// the same file, with the same content.
bool InstallJournal::UnchangedSinceCopy(const JournalEntry& entry) {
    std::error_code ec;
    FileInfo now = StatusOf(entry.restorePath, ec);
    if (ec || now.type != FileType::Regular || now.device != entry.priorDevice ||
        now.inode != entry.priorInode) {
        return false;
    }
    FileInfo copy = StatusOf(entry.backupPath, ec);
    if (ec || copy.type != FileType::Regular || copy.size != now.size) return false;
    auto& fs = platform::Files();
    std::unique_ptr<platform::InputFile> a = fs.OpenForRead(entry.restorePath, ec);
    if (!a || ec) return false;
    std::unique_ptr<platform::InputFile> b = fs.OpenForRead(entry.backupPath, ec);
    if (!b || ec) return false;
    std::vector<char> bufA(64 * 1024), bufB(64 * 1024);
    for (;;) {
        std::size_t gotA = 0, gotB = 0;
        if (a->Read(bufA.data(), bufA.size(), gotA)) return false;
        // Fill the second buffer to the same length.
        while (gotB < gotA) {
            std::size_t got = 0;
            if (b->Read(bufB.data() + gotB, gotA - gotB, got) || got == 0) return false;
            gotB += got;
        }
        if (gotA == 0) {
            std::size_t extra = 0;
            return !b->Read(bufB.data(), 1, extra) && extra == 0;
        }
        if (!std::equal(bufA.begin(), bufA.begin() + gotA, bufB.begin())) return false;
    }
}

void InstallJournal::UndoItem(JournalEntry& entry) {
    auto& fs = platform::Files();
    switch (entry.prior) {
        case PriorItem::Untouchable:
            // The installation wrote nothing there; for a shortcut, only what
            // stands at another path than the earlier one is ours.
            if (!entry.path.empty() && !IsSameItem(entry.path, entry.restorePath)) {
                fs.RemoveFile(entry.path);
            }
            return;
        case PriorItem::LeftInPlace:
            if (UnchangedSinceCopy(entry)) {
                // Undo what was granted on the file, keep the file itself.
                fs.CopyMetadata(entry.backupPath, entry.restorePath);
                RemoveBackup(entry.backupPath);
            } else if (Restore(entry)) {
                if (!entry.path.empty() && !IsSameItem(entry.path, entry.restorePath)) {
                    fs.RemoveFile(entry.path);
                }
            } else {
                unrestored_.push_back({entry.restorePath, entry.backupPath});
            }
            entry.backupPath.clear();
            return;
        case PriorItem::None:
        case PriorItem::MovedAway:
            if (!entry.path.empty()) fs.RemoveFile(entry.path);
            if (!entry.backupPath.empty() && entry.prior == PriorItem::MovedAway &&
                !Restore(entry)) {
                unrestored_.push_back({entry.restorePath, entry.backupPath});
            }
            entry.backupPath.clear();
            return;
    }
}

void InstallJournal::UndoUninstallKey(const JournalEntry& entry) {
    if (productKeyName_.empty() || entry.prior == PriorItem::Untouchable) return;
    platform::Registry& registry = platform::MachineRegistry();
    PrivilegeScope restore("SeRestorePrivilege");
    std::error_code ec;
    bool restored = false;
    if (registry.KeyExists(kUninstallKeyRoot, ec) && !ec) {
        std::string key = ProductUninstallKey();
        if (!entry.backupPath.empty()) {
            // The key existed before: bring its saved content back, also
            // when something removed it in the meantime.
            restored = !registry.CreateKey(key) && !registry.RestoreKey(key, entry.backupPath);
        } else {
            registry.DeleteTree(key);
        }
    }
    // The saved copy is all that is left of the earlier key until it is back
    // in place: it stays in the backup folder otherwise.
    if (restored) RemoveBackup(entry.backupPath);
}

void InstallJournal::WithdrawShortcut() {
    if (currentEntries_.empty()) return;
    JournalEntry& entry = currentEntries_.back();
    if (entry.kind != JournalEntryKind::ProgramShortcut &&
        entry.kind != JournalEntryKind::UninstallShortcut &&
        entry.kind != JournalEntryKind::DesktopShortcut) {
        return;
    }
    pending_ = false;
    unrestored_.clear();
    UndoItem(entry);
    if (!unrestored_.empty()) {
        // The earlier shortcut is neither back nor to be dropped: the entry
        // stays, failed, and its backup stays where it is.
        unrestored_.clear();
        entry.succeeded = false;
        return;
    }
    currentEntries_.pop_back();
}

std::vector<UnrestoredItem> InstallJournal::RollBack() {
    auto& fs = platform::Files();
    unrestored_.clear();
    while (!currentEntries_.empty()) {
        JournalEntry& entry = currentEntries_.back();
        switch (entry.kind) {
            case JournalEntryKind::CreatedFolder:
                fs.RemoveDirectory(entry.path);
                break;
            case JournalEntryKind::InstalledFile:
            case JournalEntryKind::ProgramShortcut:
            case JournalEntryKind::UninstallShortcut:
            case JournalEntryKind::DesktopShortcut:
                UndoItem(entry);
                break;
            case JournalEntryKind::UninstallKey:
                UndoUninstallKey(entry);
                break;
            case JournalEntryKind::ApplicationRegistration:
            case JournalEntryKind::DirectXUpdate:
                break;
        }
        currentEntries_.pop_back();
    }
    DropBackupFolder();
    return std::exchange(unrestored_, {});
}

// ---------------------------------------------------------------------- the log

void InstallJournal::ReadLog(const std::optional<std::string>& logPath, unsigned codePage) {
    installPath.clear();
    shortcutPath.clear();
    if (!logPath) return;
    InstallLogContents contents = InstallLogFile::Read(*logPath, codePage);
    auto isFolder = [](const std::string& path) {
        std::error_code ec;
        return !path.empty() && StatusOf(path, ec).type == FileType::Directory && !ec;
    };
    if (!contents.product.empty()) previousProduct = contents.product;
    if (isFolder(contents.installPath)) installPath = contents.installPath;
    if (isFolder(contents.shortcutPath)) shortcutPath = contents.shortcutPath;
    previousEntries_.splice(previousEntries_.end(), contents.entries);
}

bool InstallJournal::WriteLog(const std::string& logPath, const std::string& installFolder,
                              const std::string& startMenuFolder) {
    // Carry the earlier entries forward, keeping their order, ahead of this
    // installation's; drop those that this installation repeats.
    ItemIndex folders, files;
    std::set<JournalEntryKind> kinds;
    if (!previousEntries_.empty()) {
        for (const JournalEntry& current : currentEntries_) {
            kinds.insert(current.kind);
            if (current.kind == JournalEntryKind::CreatedFolder) folders.Add(current.path);
            if (current.kind == JournalEntryKind::InstalledFile) files.Add(current.path);
        }
    }
    while (!previousEntries_.empty()) {
        auto taken = std::prev(previousEntries_.end());
        bool duplicate;
        if (taken->kind == JournalEntryKind::CreatedFolder) {
            duplicate = folders.Contains(taken->path);
        } else if (taken->kind == JournalEntryKind::InstalledFile) {
            duplicate = files.Contains(taken->path);
        } else {
            duplicate = kinds.count(taken->kind) > 0;
        }
        if (duplicate) {
            previousEntries_.erase(taken);
        } else {
            // A carried entry counts for the earlier ones still to come.
            kinds.insert(taken->kind);
            if (taken->kind == JournalEntryKind::CreatedFolder) folders.Add(taken->path);
            if (taken->kind == JournalEntryKind::InstalledFile) files.Add(taken->path);
            currentEntries_.splice(currentEntries_.begin(), previousEntries_, taken);
        }
    }

    for (JournalEntry& entry : currentEntries_) {
        if (entry.kind == JournalEntryKind::UninstallKey) entry.path = UninstallKeyText();
        if (entry.kind == JournalEntryKind::ApplicationRegistration) {
            entry.path = std::string(InstallLogFile::kApplicationRegistrationText);
        }
    }
    std::string product = productText_;
    if (!previousProduct.empty()) product += " -- Update (" + previousProduct + ")";
    bool written =
        InstallLogFile::Write(logPath, product, installFolder, startMenuFolder, currentEntries_);

    // The installation is final: the backups go, whether or not the log
    // could be written.
    for (JournalEntry& entry : currentEntries_) {
        if (entry.backupPath.empty()) continue;
        RemoveBackup(entry.backupPath);
        entry.backupPath.clear();
    }
    DropBackupFolder();
    return written;
}

}  // namespace mw
