// The install journal: an in-memory record of every change an installation
// makes (folders, files, shortcuts, the uninstall key, the program's own
// registration, the DirectX update), each with a backup of what it replaced.
// A failed installation is undone from it (RollBack); a successful one is
// written out as the install log that the product's uninstaller reads
// (WriteLog). It also carries what the earlier installation's log said.
//
// Every file operation goes through platform::Files() and every registry
// operation through platform::MachineRegistry(). Nothing here throws or shows
// a message.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mw {

// The numbers are written to the install log.
enum class JournalEntryKind : int32_t {
    CreatedFolder = 0,
    InstalledFile = 1,
    ProgramShortcut = 2,
    UninstallShortcut = 3,
    DesktopShortcut = 4,
    UninstallKey = 5,
    ApplicationRegistration = 6,
    DirectXUpdate = 7,
};

// What became of the item that stood where a change was made. RollBack needs
// it to tell the installation's own files from those it found; it is not
// written to the log.
enum class PriorItem : uint8_t {
    None,         // nothing stood there: what stands there now is ours
    MovedAway,    // it was moved (or copied, then deleted) to backupPath
    LeftInPlace,  // it stays in place; backupPath holds a copy made before
    Untouchable,  // it could not be saved: nothing may replace or delete it
};

struct JournalEntry {
    JournalEntryKind kind = JournalEntryKind::CreatedFolder;
    std::string path;
    std::string backupPath;  // empty: no backup
    bool succeeded = false;
    int32_t fileKind = -1;  // PayloadKind for InstalledFile, else -1

    // Rollback bookkeeping (not in the log).
    PriorItem prior = PriorItem::None;
    // Where the saved item goes back: the entry's own path for files, the
    // earlier installation's shortcut for shortcuts.
    std::string restorePath;
    // Identity of a LeftInPlace item when it was copied.
    dev_t priorDevice = 0;
    ino_t priorInode = 0;
};

// An item that RollBack could not put back: where it belongs and where its
// backup stays, so that the user can recover it.
struct UnrestoredItem {
    std::string path;
    std::string backupPath;
    bool operator==(const UnrestoredItem&) const = default;
};

// The three shortcuts an installation makes.
enum class ShortcutSlot : uint8_t { StartMenuProgram, StartMenuUninstaller, Desktop };

class InstallJournal {
public:
    // The product's key name under the uninstall key ("Arbolux 7") and its
    // display name with version ("Arbolux 7.13c"), both from the product's
    // identity. An empty key name makes every uninstall-key operation a no-op,
    // so that no rollback can ever touch the uninstall key itself.
    InstallJournal(std::string productKeyName, std::string productText);
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    // What the earlier installation's log said (filled by ReadLog).
    std::string installPath;
    std::string shortcutPath;
    std::string previousProduct;

    // The earlier installation's entries (filled by ReadLog).
    const std::list<JournalEntry>& PreviousEntries() const { return previousEntries_; }
    // This installation's changes, oldest first. Only the Record... calls,
    // MarkResult, WithdrawShortcut, RollBack and WriteLog change them: the
    // order and the backups they hold are what RollBack relies on.
    const std::list<JournalEntry>& CurrentEntries() const { return currentEntries_; }
    // The last entry of CurrentEntries() waits for its result.
    bool Pending() const { return pending_; }

    // Tests only: the lists as a log read and a run of records would leave them.
    void SetPreviousEntriesForTesting(std::list<JournalEntry> entries) {
        previousEntries_ = std::move(entries);
    }
    void SetCurrentEntriesForTesting(std::list<JournalEntry> entries, bool pending = false) {
        currentEntries_ = std::move(entries);
        pending_ = pending;
    }

    // Reads the earlier installation's log; no path only empties the two
    // folders. `codePage` converts a log without byte order mark (the
    // interface language's ANSI code page). Never fails: whatever was read
    // before the log ended or stopped being valid stays.
    void ReadLog(const std::optional<std::string>& logPath, unsigned codePage);

    // Records a payload file before it is written. Returns false when the
    // file must not be written: its folder could not be made, or something
    // stands at the path that could not be saved (the entry then keeps that
    // item out of every later change, and the caller fails the step).
    bool RecordFile(const std::string& path, int32_t payloadKind, bool copyBackup);
    // Returns false when the earlier installation's shortcut of that kind
    // stands in the way and could not be moved away.
    bool RecordShortcut(ShortcutSlot slot, const std::string& folder);
    // Call after the product's uninstall key was created or opened and before
    // its values are written; `existedBefore` says whether the key was there
    // before this installation (then it is saved for RollBack).
    // False when the key existed and could not be saved (RollBack then leaves
    // it alone).
    bool RecordUninstallKey(bool existedBefore);
    void RecordRegistration();
    void RecordDirectXUpdate();
    void MarkResult(bool succeeded, const std::optional<std::string>& text = std::nullopt);
    // For a shortcut that could not be made: undoes the newest entry (a
    // shortcut) as RollBack would and forgets it, so that the earlier
    // installation's shortcut of that kind is back in place and its entry of
    // the earlier log is carried forward. When the earlier shortcut cannot be
    // put back, its backup is kept.
    void WithdrawShortcut();

    // True when the earlier log lists `path` (exactly) as a file it installed.
    bool WasInstalledBefore(std::string_view path) const;

    // Undoes every recorded change, newest first; never stops early. Returns
    // the replaced files and shortcuts that could not be put back; their
    // backups are kept (never deleted).
    std::vector<UnrestoredItem> RollBack();
    // Carries the earlier entries forward, writes the log, then deletes every
    // backup. True when the log was written completely.
    bool WriteLog(const std::string& logPath, const std::string& installFolder,
                  const std::string& startMenuFolder);

    // Creates the missing levels of `folder`, recording each one made.
    // Returns false when a level could not be made.
    bool CreateFolders(const std::string& folder);
    // Saves the item at `path` (moved away, or copied when `copy`) under a new
    // unique name in the journal's private backup folder; without a path only
    // makes the (empty) file. Returns the backup's path, empty on failure
    // (the item is then exactly as it was).
    std::string BackupToTemp(const std::optional<std::string>& path, bool copy);

    // The registry key of the product below the uninstall key.
    std::string ProductUninstallKey() const;
    // The text the log gives an UninstallKey entry.
    std::string UninstallKeyText() const;

private:
    JournalEntry& Append(JournalEntryKind kind);
    std::string SaveItem(const std::string* path, bool copy, JournalEntry* entry);
    bool SaveFor(JournalEntry& entry, const std::string& original, bool copy);
    bool Restore(const JournalEntry& entry);
    bool UnchangedSinceCopy(const JournalEntry& entry);
    void UndoItem(JournalEntry& entry);
    void UndoUninstallKey(const JournalEntry& entry);
    void RemoveBackup(const std::string& backup);
    void DropBackupFolder();
    const std::string& BackupFolder();

    std::list<JournalEntry> previousEntries_;
    std::list<JournalEntry> currentEntries_;
    bool pending_ = false;
    std::string productKeyName_;
    std::string productText_;
    std::string backupFolder_;                // private folder of this journal's backups
    std::vector<std::string> strays_;         // backups whose deletion failed, tried again
    std::vector<UnrestoredItem> unrestored_;  // filled by UndoItem during RollBack
};

// The same-item test used when the earlier entries are carried forward: equal
// paths, else the same existing file or folder, else (when neither exists)
// equal after being made absolute and normalised, ignoring case.
bool IsSameItem(const std::string& a, const std::string& b);

// The registry path of the system's uninstall key (below HKEY_LOCAL_MACHINE).
inline constexpr std::string_view kUninstallKeyRoot =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

}  // namespace mw
