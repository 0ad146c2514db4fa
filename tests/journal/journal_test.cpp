#include "journal/journal.hpp"

#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "journal/install_log.hpp"
#include "journal_fixture.hpp"
#include "platform/acl_handles.hpp"
#include "platform/file_system.hpp"
#include "platform/registry.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/tree_snapshot.hpp"

namespace {

namespace fs = std::filesystem;
using mw::JournalEntry;
using mw::PriorItem;
using mw::ShortcutSlot;
using Kind = mw::JournalEntryKind;
using mw::platform::RegValue;

const std::string kProductKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7";

void SetAcl(const std::string& path, const char* text) {
    const mw::platform::AclHandle acl(acl_from_text(text));
    ASSERT_TRUE(acl);
    ASSERT_EQ(acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl.get()), 0) << path;
}

void SetXattr(const std::string& path, const char* name, const std::string& value) {
    ASSERT_EQ(setxattr(path.c_str(), name, value.data(), value.size(), 0), 0) << path;
}

std::vector<std::pair<Kind, std::string>> Kinds(const std::list<JournalEntry>& entries) {
    std::vector<std::pair<Kind, std::string>> out;
    for (const auto& e : entries) out.emplace_back(e.kind, e.path);
    return out;
}

JournalEntry Entry(Kind kind, std::string path, bool succeeded = true, int32_t fileKind = -1) {
    JournalEntry e;
    e.kind = kind;
    e.path = std::move(path);
    e.succeeded = succeeded;
    e.fileKind = fileKind;
    return e;
}

class JournalTest : public mwtest::JournalFixture {
protected:
    // Writes a new file where the installation would, as the extractor does.
    void Install(const std::string& path, int32_t kind, const std::string& content,
                 bool copy = false) {
        ASSERT_TRUE(journal.RecordFile(path, kind, copy));
        fs::remove(path);
        mwtest::WriteFile(path, content);
        journal.MarkResult(true);
    }
};

// --------------------------------------------------------------- folders

TEST_F(JournalTest, CreateFoldersRecordsOnlyTheLevelsItMakes) {
    fs::create_directories(root + "/a");
    ASSERT_TRUE(journal.CreateFolders(root + "/a/b//c/"));
    EXPECT_EQ(Kinds(journal.CurrentEntries()),
              (std::vector<std::pair<Kind, std::string>>{{Kind::CreatedFolder, root + "/a/b"},
                                                         {Kind::CreatedFolder, root + "/a/b/c"}}));
    for (const auto& e : journal.CurrentEntries()) {
        EXPECT_TRUE(e.succeeded);
        EXPECT_EQ(e.fileKind, -1);
        EXPECT_EQ(e.backupPath, "");
    }
    EXPECT_FALSE(journal.Pending()) << "creating folders leaves the result alone";

    // An existing tree gives no entry at all.
    journal.SetCurrentEntriesForTesting({});
    ASSERT_TRUE(journal.CreateFolders(root + "/a/b/c"));
    EXPECT_TRUE(journal.CurrentEntries().empty());
}

// Refuses to create one chosen folder.
class RefusingFolder : public mw::platform::FaultyFileSystem {
public:
    RefusingFolder(mw::platform::FileSystem& inner, std::string refused)
        : FaultyFileSystem(inner), refused_(std::move(refused)) {}
    std::error_code CreateDirectory(const std::string& path) override {
        ++attempts;
        if (path == refused_) return std::make_error_code(std::errc::permission_denied);
        return FaultyFileSystem::CreateDirectory(path);
    }
    int attempts = 0;

private:
    std::string refused_;
};

TEST_F(JournalTest, CreateFoldersStopsAtTheFirstLevelItCannotMake) {
    RefusingFolder refusing(mw::platform::Files(), root + "/x/y");
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &refusing);
        EXPECT_FALSE(journal.CreateFolders(root + "/x/y/z"));
    }
    EXPECT_EQ(refusing.attempts, 2) << "no deeper level is tried";
    EXPECT_EQ(Kinds(journal.CurrentEntries()),
              (std::vector<std::pair<Kind, std::string>>{{Kind::CreatedFolder, root + "/x"}}));

    // A file in the way.
    mwtest::WriteFile(root + "/file", "x");
    EXPECT_FALSE(journal.CreateFolders(root + "/file/below/deeper"));
    EXPECT_EQ(journal.CurrentEntries().size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(root + "/file"));
}

// A path is never cut: a long one is created whole or not at all.
TEST_F(JournalTest, LongPathsAreNotShortened) {
    std::string deep = root;
    while (deep.size() < 600) deep += "/" + std::string(40, 'd');
    ASSERT_TRUE(journal.RecordFile(deep + "/file", 0, false));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(journal.CurrentEntries().back().path, deep + "/file");
    journal.RollBack();
    EXPECT_TRUE(fs::is_empty(root));
}

// --------------------------------------------------------------- files

TEST_F(JournalTest, ANewFileHasNoBackupAndRollBackRemovesItWithItsFolders) {
    fs::create_directories(root + "/existing");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    Install(root + "/existing/new/sub/file", 0, "payload");
    ASSERT_EQ(journal.CurrentEntries().size(), 3u);
    const JournalEntry& file = journal.CurrentEntries().back();
    EXPECT_EQ(file.kind, Kind::InstalledFile);
    EXPECT_EQ(file.fileKind, 0);
    EXPECT_EQ(file.backupPath, "");
    EXPECT_TRUE(file.succeeded);

    journal.RollBack();
    EXPECT_TRUE(journal.CurrentEntries().empty());
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

TEST_F(JournalTest, AReplacedFileComesBackExactlyAsItWas) {
    std::string path = root + "/program";
    mwtest::WriteFile(path, "old program");
    ASSERT_EQ(chmod(path.c_str(), 0555), 0);
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    SetAcl(path, "u::r-x,u:4321:rw-,g::r--,m::rw-,o::r--");
    SetXattr(path, "user.origin", "earlier installation");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);

    ASSERT_TRUE(journal.RecordFile(path, 0, false));
    const JournalEntry& entry = journal.CurrentEntries().back();
    EXPECT_EQ(entry.prior, PriorItem::MovedAway);
    ASSERT_NE(entry.backupPath, "");
    EXPECT_FALSE(fs::exists(path)) << "the old file is moved out of the way";
    // The backup is a "mw" name inside a private folder of the temporary folder.
    fs::path backup(entry.backupPath);
    EXPECT_TRUE(backup.filename().string().starts_with("mw"));
    EXPECT_EQ(backup.parent_path().parent_path(), fs::path(tmp));
    EXPECT_EQ(ModeOf(backup.parent_path()), 0700u);
    EXPECT_EQ(mwtest::ReadFile(entry.backupPath), "old program");

    mwtest::WriteFile(path, "new program, longer than the old one");
    journal.MarkResult(true);
    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u) << "no backup and no backup folder stays";
}

// Moving to a temporary folder on another file system falls back to a copy
// and a deletion, both ways, and still restores everything.
TEST_F(JournalTest, BackupsAcrossFileSystemsAreCopiedAndDeleted) {
    std::string path = root + "/data";
    mwtest::WriteFile(path, "original");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    SetAcl(path, "u::rw-,u:4321:r--,g::r--,m::r--,o::---");
    SetXattr(path, "user.keep", "yes");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);

    mwtest::TwoDevices twoDevices(mw::platform::Files(), tmp);
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &twoDevices);
        ASSERT_TRUE(journal.RecordFile(path, 0, false));
        EXPECT_EQ(twoDevices.crossings, 1);
        EXPECT_FALSE(fs::exists(path)) << "copied, then deleted";
        EXPECT_EQ(journal.CurrentEntries().back().prior, PriorItem::MovedAway);
        mwtest::WriteFile(path, "new");
        journal.MarkResult(true);
        journal.RollBack();
    }
    EXPECT_EQ(twoDevices.crossings, 2) << "the way back crosses too";
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

// The installation leaves an existing data file in place: the journal keeps a
// copy, and RollBack keeps the very file (it was never the installation's),
// taking back only what was granted on it.
TEST_F(JournalTest, ADataFileLeftInPlaceIsNeverDeleted) {
    std::string path = root + "/shared/settings.dat";
    fs::create_directories(root + "/shared");
    mwtest::WriteFile(path, "the user's settings");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);

    ASSERT_TRUE(journal.RecordFile(path, 3, true));
    journal.MarkResult(true);
    const JournalEntry& entry = journal.CurrentEntries().back();
    EXPECT_TRUE(entry.succeeded);
    EXPECT_EQ(entry.prior, PriorItem::LeftInPlace);
    EXPECT_EQ(mwtest::ReadFile(entry.backupPath), "the user's settings");
    // What the install sequence does with it: opens it to every user.
    SetAcl(path, "u::rw-,g::---,o::rw-");

    journal.RollBack();
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, st.st_ino) << "the same file, not a copy of it";
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

// The shared data folders are open to every user. Between RollBack's
// "unchanged since copy" check and its metadata copy, nobody swaps a second
// name of root's secret in (a hard link, as on a machine without protected
// hard links): the secret must not become nobody's, nor open to all.
TEST_F(JournalTest, ADataFileSwappedAfterItsCheckLendsItsRightsToNothingElse) {
    if (geteuid() != 0) GTEST_SKIP() << "the attack needs another user";
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    const std::string shared = root + "/shared", secret = root + "/secret";
    fs::create_directories(shared);
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    mwtest::WriteFile(secret, "root only");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string path = shared + "/settings.dat";
    mwtest::WriteFile(path, "nobody's settings");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(link(secret.c_str(), (shared + "/.planted").c_str()), 0);

    ASSERT_TRUE(journal.RecordFile(path, 3, true));
    journal.MarkResult(false);
    auto real = mw::platform::MakeRealFileSystem();
    mwtest::SwapBefore attacker(*real, [&] {
        EXPECT_EQ(mwtest::AsNobody([&] {
                      return rename((shared + "/.planted").c_str(), path.c_str()) == 0 ? 0 : 1;
                  }),
                  0);
    });
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &attacker);
        journal.RollBack();
    }
    ASSERT_TRUE(attacker.attacked());
    struct stat st;
    ASSERT_EQ(stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(mwtest::ReadFile(secret), "root only");
}

// Should the file have been replaced after all, RollBack restores the copy.
TEST_F(JournalTest, AChangedDataFileIsRestoredFromItsCopy) {
    std::string path = root + "/settings.dat";
    mwtest::WriteFile(path, "user data");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    ASSERT_TRUE(journal.RecordFile(path, 3, true));
    journal.MarkResult(true);
    // Same file, other content.
    mwtest::WriteFile(path, "overwritten");
    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

// When a backup cannot be made, the entry fails before the file is touched
// and RollBack leaves the file alone.
TEST_F(JournalTest, AFileThatCannotBeSavedIsNeverTouched) {
    struct Case {
        const char* name;
        bool copy;
        const char* failing;  // the operation made to fail
    };
    const Case cases[] = {
        {"move refused", false, "Rename"},
        {"copy refused", true, "CopyFile"},
        {"no unique name", false, "CreateUniqueFile"},
        {"no backup folder", false, "CreateUniqueDirectory"},
        {"status unknown", false, "Status"},
    };
    std::string path = root + "/file";
    mwtest::WriteFile(path, "precious");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    mw::platform::FaultyFileSystem faulty(mw::platform::Files());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Find the number of the operation to fail.
        uint64_t target = 0;
        for (uint64_t n = 1; n < 50 && !target; ++n) {
            mw::InstallJournal probe("Arbolux 7", "Arbolux 7.13c");
            faulty.ResetCount();
            faulty.FailAt(n, EACCES);
            {
                const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting,
                                                           &faulty);
                probe.RecordFile(path, 0, c.copy);
                faulty.ClearFault();
                if (faulty.LastFailed() == c.failing && faulty.Failures() == 1) target = n;
                probe.RollBack();
            }
            // Whatever the probe did was undone.
            ASSERT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
        }
        ASSERT_NE(target, 0u);

        mw::InstallJournal j("Arbolux 7", "Arbolux 7.13c");
        faulty.ResetCount();
        faulty.FailAt(target, EACCES);
        {
            const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faulty);
            EXPECT_FALSE(j.RecordFile(path, 0, c.copy));
            faulty.ClearFault();
            EXPECT_EQ(j.CurrentEntries().back().prior, PriorItem::Untouchable);
            EXPECT_EQ(j.CurrentEntries().back().backupPath, "");
            EXPECT_EQ(mwtest::ReadFile(path), "precious");
            j.MarkResult(false);
            j.RollBack();
        }
        EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
        EXPECT_EQ(TempItems(), 0u);
    }
}

// The same file recorded twice: RollBack brings back the first state.
TEST_F(JournalTest, AFileWrittenTwiceIsUndoneInOrder) {
    std::string path = root + "/twice";
    mwtest::WriteFile(path, "before");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    Install(path, 0, "first");
    Install(path, 0, "second");
    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

TEST_F(JournalTest, RollBackOfAFailedWriteRemovesWhatWasWritten) {
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    ASSERT_TRUE(journal.RecordFile(root + "/d/half", 0, false));
    mwtest::WriteFile(root + "/d/half", "half of it");
    journal.MarkResult(false);
    EXPECT_FALSE(journal.CurrentEntries().back().succeeded);
    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
}

TEST_F(JournalTest, RollBackOfAnEmptyJournalChangesNothing) {
    journal.SetPreviousEntriesForTesting({Entry(Kind::InstalledFile, "/x", true, 0)});
    journal.SetCurrentEntriesForTesting({}, true);
    journal.installPath = "/i";
    mwtest::WriteFile(root + "/keep", "k");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(journal.PreviousEntries().size(), 1u);
    EXPECT_EQ(journal.installPath, "/i");
    EXPECT_TRUE(journal.Pending());
}

// RollBack goes on after a failure: a folder that cannot be removed (someone
// put a file in it) does not stop it.
TEST_F(JournalTest, RollBackNeverStopsEarly) {
    Install(root + "/a/f1", 0, "1");
    Install(root + "/b/f2", 0, "2");
    mwtest::WriteFile(root + "/b/foreign", "not ours");
    Install(root + "/c/f3", 0, "3");
    journal.RollBack();
    EXPECT_FALSE(fs::exists(root + "/a"));
    EXPECT_FALSE(fs::exists(root + "/c"));
    EXPECT_FALSE(fs::exists(root + "/b/f2"));
    EXPECT_TRUE(fs::exists(root + "/b/foreign"));
    EXPECT_TRUE(journal.CurrentEntries().empty());
}

// Fails every attempt to put something back at one path: a fault that is
// still there when RollBack runs.
class RefusingRestore : public mw::platform::FaultyFileSystem {
public:
    RefusingRestore(mw::platform::FileSystem& inner, std::string refused)
        : FaultyFileSystem(inner), refused_(std::move(refused)) {}
    std::error_code Rename(const std::string& from, const std::string& to) override {
        if (to == refused_) return std::make_error_code(std::errc::io_error);
        return FaultyFileSystem::Rename(from, to);
    }
    std::error_code CopyFile(const std::string& from, const std::string& to) override {
        if (to == refused_) return std::make_error_code(std::errc::io_error);
        return FaultyFileSystem::CopyFile(from, to);
    }

private:
    std::string refused_;
};

TEST_F(JournalTest, AnUndoThatFailsDuringRollBackKeepsItsBackupAndTheRestIsUndone) {
    for (const std::string name : {"a", "b", "c"})
        mwtest::WriteFile(root + "/" + name, "earlier " + name);
    Install(root + "/a", 0, "new a");
    Install(root + "/b", 0, "new b");
    Install(root + "/new/n", 0, "new n");
    Install(root + "/c", 0, "new c");
    std::string backupOfB;
    for (const auto& e : journal.CurrentEntries())
        if (e.path == root + "/b") backupOfB = e.backupPath;
    ASSERT_NE(backupOfB, "");

    RefusingRestore refusing(mw::platform::Files(), root + "/b");
    std::vector<mw::UnrestoredItem> unrestored;
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &refusing);
        unrestored = journal.RollBack();
    }
    EXPECT_EQ(unrestored, (std::vector<mw::UnrestoredItem>{{root + "/b", backupOfB}}));
    // The entries after and before the failed one are undone all the same.
    EXPECT_EQ(mwtest::ReadFile(root + "/a"), "earlier a");
    EXPECT_EQ(mwtest::ReadFile(root + "/c"), "earlier c");
    EXPECT_FALSE(fs::exists(root + "/new"));
    // What could not be put back stays in its backup, and only that.
    EXPECT_EQ(mwtest::ReadFile(backupOfB), "earlier b");
    EXPECT_EQ(TempItems(), 2u) << ListTemp();  // the backup and the folder that holds it
    EXPECT_TRUE(journal.CurrentEntries().empty());
}

// --------------------------------------------------------------- results

TEST_F(JournalTest, MarkResultOnlyAnswersAPendingRecord) {
    journal.MarkResult(true, "ignored");
    EXPECT_TRUE(journal.CurrentEntries().empty());

    journal.RecordDirectXUpdate();
    journal.RecordRegistration();  // a second record while pending
    EXPECT_TRUE(journal.Pending());
    journal.MarkResult(true, "text");
    journal.MarkResult(false, "again");  // changes nothing
    ASSERT_EQ(journal.CurrentEntries().size(), 2u);
    EXPECT_FALSE(journal.CurrentEntries().front().succeeded);
    EXPECT_EQ(journal.CurrentEntries().front().path, "");
    EXPECT_TRUE(journal.CurrentEntries().back().succeeded);
    EXPECT_EQ(journal.CurrentEntries().back().path, "text");
    EXPECT_FALSE(journal.Pending());

    journal.RecordDirectXUpdate();
    journal.MarkResult(false);
    EXPECT_EQ(journal.CurrentEntries().back().path, "") << "no text keeps the path";
    for (const auto& e : journal.CurrentEntries()) EXPECT_EQ(e.fileKind, -1);
}

TEST_F(JournalTest, WasInstalledBeforeNeedsASuccessfulFileWithTheExactPath) {
    journal.SetPreviousEntriesForTesting({
        Entry(Kind::InstalledFile, "/opt/a/Data.cfg", true, 3),
        Entry(Kind::InstalledFile, "/opt/a/failed.cfg", false, 3),
        Entry(Kind::CreatedFolder, "/opt/a/folder"),
    });
    EXPECT_TRUE(journal.WasInstalledBefore("/opt/a/Data.cfg"));
    EXPECT_FALSE(journal.WasInstalledBefore("/opt/a/data.cfg"));
    EXPECT_FALSE(journal.WasInstalledBefore("/opt/a//Data.cfg"));
    EXPECT_FALSE(journal.WasInstalledBefore("/opt/a/failed.cfg"));
    EXPECT_FALSE(journal.WasInstalledBefore("/opt/a/folder"));
}

// --------------------------------------------------------------- shortcuts

TEST_F(JournalTest, TheEarlierShortcutIsMovedAwayAndComesBackToItsPlace) {
    std::string menu = root + "/menu";
    fs::create_directories(menu);
    std::string earlier = menu + "/Arbolux 7.desktop";
    mwtest::WriteFile(earlier, "[Desktop Entry]\nName=old\n");
    journal.SetPreviousEntriesForTesting({Entry(Kind::UninstallShortcut, menu + "/other.desktop"),
                               Entry(Kind::ProgramShortcut, earlier),
                               Entry(Kind::ProgramShortcut, menu + "/second.desktop")});
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);

    ASSERT_TRUE(journal.RecordShortcut(ShortcutSlot::StartMenuProgram, menu));
    EXPECT_FALSE(fs::exists(earlier));
    EXPECT_NE(journal.CurrentEntries().back().backupPath, "");
    std::string created = menu + "/Arbolux 7.13c.desktop";
    mwtest::WriteFile(created, "[Desktop Entry]\nName=new\n");
    journal.MarkResult(true, created);
    EXPECT_EQ(journal.CurrentEntries().back().kind, Kind::ProgramShortcut);

    // The other kinds: nothing earlier of the desktop kind.
    ASSERT_TRUE(journal.RecordShortcut(ShortcutSlot::Desktop, root + "/desk"));
    EXPECT_EQ(journal.CurrentEntries().back().kind, Kind::DesktopShortcut);
    EXPECT_EQ(journal.CurrentEntries().back().backupPath, "");
    journal.MarkResult(false);

    journal.RollBack();
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(TempItems(), 0u);
}

// The new shortcut could not be made, so it never got a path: the earlier one
// goes back to its place, no entry of this installation stands for it, and
// the earlier log's entry is carried forward.
TEST_F(JournalTest, AShortcutThatWasNeverMadeGivesTheEarlierOneBack) {
    const std::string menu = root + "/menu";
    fs::create_directories(menu);
    const std::string earlier = menu + "/Arbolux 7.desktop";
    mwtest::WriteFile(earlier, "[Desktop Entry]\nName=old\n");
    journal.SetPreviousEntriesForTesting({Entry(Kind::ProgramShortcut, earlier)});
    journal.RecordDirectXUpdate();
    journal.MarkResult(true, "dx");
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);

    ASSERT_TRUE(journal.RecordShortcut(ShortcutSlot::StartMenuProgram, menu));
    ASSERT_FALSE(fs::exists(earlier));
    journal.MarkResult(false);
    ASSERT_EQ(journal.CurrentEntries().back().path, "");
    journal.WithdrawShortcut();

    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
    EXPECT_EQ(Kinds(journal.CurrentEntries()),
              (std::vector<std::pair<Kind, std::string>>{{Kind::DirectXUpdate, "dx"}}));
    EXPECT_FALSE(journal.Pending());
    ASSERT_TRUE(journal.WriteLog(root + "/Uninstall.ulog", root, menu));
    EXPECT_EQ(Kinds(journal.CurrentEntries()),
              (std::vector<std::pair<Kind, std::string>>{{Kind::ProgramShortcut, earlier},
                                                         {Kind::DirectXUpdate, "dx"}}));
}

// --------------------------------------------------------------- uninstall key

TEST_F(JournalTest, AKeyThatDidNotExistIsDeletedByRollBack) {
    ASSERT_FALSE(registry->CreateKey(kProductKey + "\\Sub"));
    ASSERT_FALSE(
        registry->CreateKey("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
    journal.RecordUninstallKey(false);
    EXPECT_EQ(journal.CurrentEntries().back().backupPath, "");
    ASSERT_FALSE(registry->SetValue(kProductKey, "DisplayName", RegValue::String("Arbolux")));
    journal.MarkResult(true);
    journal.RollBack();
    std::error_code ec;
    EXPECT_FALSE(registry->KeyExists(kProductKey, ec));
    EXPECT_TRUE(
        registry->KeyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other", ec));
}

TEST_F(JournalTest, AKeyThatExistedIsSavedAndRestored) {
    ASSERT_FALSE(registry->CreateKey(kProductKey + "\\Old"));
    ASSERT_FALSE(registry->SetValue(kProductKey, "DisplayName", RegValue::String("Arbolux 7.12")));
    ASSERT_FALSE(registry->SetValue(kProductKey, "MwLanguage", RegValue::Dword(1036)));

    ASSERT_TRUE(journal.RecordUninstallKey(true));
    const std::string backup = journal.CurrentEntries().back().backupPath;
    ASSERT_NE(backup, "");
    EXPECT_TRUE(fs::is_regular_file(backup));
    EXPECT_TRUE(fs::path(backup).parent_path().filename().string().starts_with("mw"));

    ASSERT_FALSE(registry->SetValue(kProductKey, "DisplayName", RegValue::String("Arbolux 7.13c")));
    ASSERT_FALSE(registry->DeleteTree(kProductKey + "\\Old"));
    ASSERT_FALSE(registry->CreateKey(kProductKey + "\\New"));
    journal.MarkResult(true);
    journal.RollBack();

    std::error_code ec;
    EXPECT_EQ(registry->GetValue(kProductKey, "DisplayName", ec), RegValue::String("Arbolux 7.12"));
    EXPECT_EQ(registry->GetValue(kProductKey, "MwLanguage", ec), RegValue::Dword(1036));
    EXPECT_TRUE(registry->KeyExists(kProductKey + "\\Old", ec));
    EXPECT_FALSE(registry->KeyExists(kProductKey + "\\New", ec));
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(TempItems(), 0u);
}

// With the uninstall root out of reach, the earlier key cannot be put back:
// its saved copy is kept instead of being deleted with the rest.
TEST_F(JournalTest, UninstallKeyRollBackKeepsTheSavedCopyWhenTheRootIsUnreachable) {
    ASSERT_FALSE(registry->CreateKey(kProductKey));
    ASSERT_FALSE(registry->SetValue(kProductKey, "DisplayName", RegValue::String("Arbolux 7.12")));
    ASSERT_TRUE(journal.RecordUninstallKey(true));
    const std::string backup = journal.CurrentEntries().back().backupPath;
    ASSERT_NE(backup, "");
    ASSERT_FALSE(registry->DeleteTree(mw::kUninstallKeyRoot));
    journal.MarkResult(true);
    journal.RollBack();

    ASSERT_TRUE(fs::is_regular_file(backup));
    // The copy still holds the earlier key.
    ASSERT_FALSE(registry->CreateKey(kProductKey));
    ASSERT_FALSE(registry->RestoreKey(kProductKey, backup));
    std::error_code ec;
    EXPECT_EQ(registry->GetValue(kProductKey, "DisplayName", ec), RegValue::String("Arbolux 7.12"));
    fs::remove_all(fs::path(backup).parent_path());
}

// A registry whose saves fail: the key that existed is then left alone by
// RollBack instead of being deleted with everything in it.
class NoSaveRegistry : public mw::platform::Registry {
public:
    explicit NoSaveRegistry(mw::platform::Registry& inner) : inner_(inner) {}
    bool KeyExists(std::string_view k, std::error_code& ec) override {
        return inner_.KeyExists(k, ec);
    }
    std::error_code CreateKey(std::string_view k) override { return inner_.CreateKey(k); }
    std::optional<RegValue> GetValue(std::string_view k, std::string_view n,
                                     std::error_code& ec) override {
        return inner_.GetValue(k, n, ec);
    }
    std::error_code SetValue(std::string_view k, std::string_view n, const RegValue& v) override {
        return inner_.SetValue(k, n, v);
    }
    std::error_code DeleteValue(std::string_view k, std::string_view n) override {
        return inner_.DeleteValue(k, n);
    }
    std::error_code DeleteTree(std::string_view k) override { return inner_.DeleteTree(k); }
    std::vector<std::string> SubKeys(std::string_view k, std::error_code& ec) override {
        return inner_.SubKeys(k, ec);
    }
    std::vector<std::string> ValueNames(std::string_view k, std::error_code& ec) override {
        return inner_.ValueNames(k, ec);
    }
    std::error_code SaveKey(std::string_view, const std::string&) override {
        return std::make_error_code(std::errc::no_space_on_device);
    }
    std::error_code RestoreKey(std::string_view k, const std::string& f) override {
        return inner_.RestoreKey(k, f);
    }
    std::error_code UpdateValue(std::string_view k, std::string_view n,
                                const ValueUpdate& u) override {
        return inner_.UpdateValue(k, n, u);
    }

private:
    mw::platform::Registry& inner_;
};

// The privileges are switched on around the registry calls and then back to
// what they were: root keeps the capabilities it runs with.
TEST_F(JournalTest, SavingAndRestoringTheKeyLeavesTheCapabilitiesAsTheyWere) {
    auto effective = [] {
        const mw::platform::CapsHandle c(cap_get_proc());
        const mw::platform::CapsText text(cap_to_text(c.get(), nullptr));
        return std::string(text ? text.get() : "<error>");
    };
    const std::string before = effective();
    ASSERT_FALSE(registry->CreateKey(kProductKey));
    ASSERT_TRUE(journal.RecordUninstallKey(true));
    EXPECT_EQ(effective(), before);
    journal.MarkResult(true);
    journal.RollBack();
    EXPECT_EQ(effective(), before);
}

TEST_F(JournalTest, AKeyThatCannotBeSavedIsNotDeleted) {
    ASSERT_FALSE(registry->CreateKey(kProductKey));
    ASSERT_FALSE(registry->SetValue(kProductKey, "DisplayName", RegValue::String("Arbolux 7.12")));
    NoSaveRegistry failing(*registry);
    const mw::platform::ScopedForTesting machine(&mw::platform::SetMachineRegistryForTesting,
                                                 &failing);
    EXPECT_FALSE(journal.RecordUninstallKey(true));
    EXPECT_EQ(journal.CurrentEntries().back().backupPath, "");
    journal.MarkResult(false);
    journal.RollBack();
    std::error_code ec;
    EXPECT_EQ(registry->GetValue(kProductKey, "DisplayName", ec), RegValue::String("Arbolux 7.12"));
    EXPECT_EQ(TempItems(), 0u);
}

TEST_F(JournalTest, WithoutAProductKeyNameTheUninstallKeyIsNeverTouched) {
    const std::string uninstall = std::string(mw::kUninstallKeyRoot);
    ASSERT_FALSE(registry->CreateKey(uninstall + "\\Other"));
    mw::InstallJournal nameless("", "Arbolux 7.13c");
    nameless.RecordUninstallKey(false);
    nameless.RollBack();
    std::error_code ec;
    EXPECT_TRUE(registry->KeyExists(uninstall + "\\Other", ec));
}

// --------------------------------------------------------------- WriteLog

TEST_F(JournalTest, WriteLogCarriesTheEarlierEntriesAheadOfTheNewOnes) {
    std::string dir = root + "/inst";
    fs::create_directories(dir);
    journal.SetPreviousEntriesForTesting({
        Entry(Kind::CreatedFolder, dir),                            // made again: dropped
        Entry(Kind::InstalledFile, dir + "/only-before", true, 0),  // carried
        Entry(Kind::InstalledFile, dir + "/both", true, 0),         // dropped
        Entry(Kind::DesktopShortcut, "/desk/old.desktop"),          // none now: carried
        Entry(Kind::DirectXUpdate, "old dx", false),                // one now: dropped
        Entry(Kind::ProgramShortcut, "/m/old.desktop"),             // one now: dropped
        Entry(Kind::DirectXUpdate, "older dx", true),               // dropped
    });
    journal.SetCurrentEntriesForTesting({
        Entry(Kind::CreatedFolder, dir),
        Entry(Kind::InstalledFile, dir + "/both", true, 0),
        Entry(Kind::ProgramShortcut, "/m/new.desktop"),
        Entry(Kind::DirectXUpdate, "dx", true),
    });
    ASSERT_TRUE(journal.WriteLog(dir + "/Uninstall.ulog", dir, "/m"));
    EXPECT_TRUE(journal.PreviousEntries().empty());
    EXPECT_EQ(Kinds(journal.CurrentEntries()), (std::vector<std::pair<Kind, std::string>>{
                                                 {Kind::InstalledFile, dir + "/only-before"},
                                                 {Kind::DesktopShortcut, "/desk/old.desktop"},
                                                 {Kind::CreatedFolder, dir},
                                                 {Kind::InstalledFile, dir + "/both"},
                                                 {Kind::ProgramShortcut, "/m/new.desktop"},
                                                 {Kind::DirectXUpdate, "dx"},
                                             }));
    auto back = mw::InstallLogFile::Read(dir + "/Uninstall.ulog", 1252);
    EXPECT_EQ(back.entries.size(), 6u);
}

// Of two earlier entries of a kind that this installation did not make, only
// the later is carried: the earlier one is the same as a carried entry.
TEST_F(JournalTest, WriteLogKeepsOneEarlierEntryPerKindAndItem) {
    journal.SetPreviousEntriesForTesting({
        Entry(Kind::DesktopShortcut, "/d/first.desktop"),
        Entry(Kind::InstalledFile, "/gone/x", true, 0),
        Entry(Kind::DesktopShortcut, "/d/second.desktop"),
        Entry(Kind::InstalledFile, "/gone/X", true, 0),
    });
    ASSERT_TRUE(journal.WriteLog(root + "/l.ulog", "/i", "/m"));
    EXPECT_EQ(Kinds(journal.CurrentEntries()), (std::vector<std::pair<Kind, std::string>>{
                                                 {Kind::DesktopShortcut, "/d/second.desktop"},
                                                 {Kind::InstalledFile, "/gone/X"},
                                             }));
}

TEST_F(JournalTest, SameItemTest) {
    fs::create_directories(root + "/real/sub");
    mwtest::WriteFile(root + "/real/file", "x");
    fs::create_directory_symlink(root + "/real", root + "/link");
    fs::create_hard_link(root + "/real/file", root + "/real/hard");
    struct Case {
        const char* name;
        std::string a, b;
        bool same;
    };
    const std::string r = root;
    const Case cases[] = {
        {"equal texts", r + "/real/file", r + "/real/file", true},
        {"doubled and trailing slashes", r + "//real/file/", r + "/real//file", true},
        {"the same file through a link", r + "/link/file", r + "/real/file", true},
        {"hard links name one file", r + "/real/hard", r + "/real/file", true},
        {"other case of an existing file", r + "/real/FILE", r + "/real/file", false},
        {"only one exists", r + "/real/file", r + "/real/missing", false},
        {"two folders", r + "/real", r + "/real/sub", false},
        {"neither exists, other case", r + "/gone/Datei", r + "/GONE/datei", true},
        {"neither exists, dots", r + "/gone/./a/../b", r + "/gone/b", true},
        {"neither exists, German sharp s", r + "/gone/STRASSE", r + "/gone/straße", true},
        {"neither exists, different", r + "/gone/a", r + "/gone/b", false},
        {"neither exists, different depth", r + "/gone/a", r + "/gone/a/a", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mw::IsSameItem(c.a, c.b), c.same);
        EXPECT_EQ(mw::IsSameItem(c.b, c.a), c.same);
    }
}

// WriteLog ends the installation: every backup goes, also when the log
// cannot be written.
TEST_F(JournalTest, WriteLogDeletesEveryBackup) {
    for (bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "log written" : "log not written");
        mw::InstallJournal j("Arbolux 7", "Arbolux 7.13c");
        std::string dir = root + (writable ? "/w" : "/n");
        fs::create_directories(dir);
        mwtest::WriteFile(dir + "/prog", "old");
        mwtest::WriteFile(dir + "/data", "user");
        ASSERT_FALSE(registry->CreateKey(kProductKey));
        ASSERT_TRUE(j.RecordFile(dir + "/prog", 0, false));
        mwtest::WriteFile(dir + "/prog", "new");
        j.MarkResult(true);
        ASSERT_TRUE(j.RecordFile(dir + "/data", 3, true));
        j.MarkResult(true);
        ASSERT_TRUE(j.RecordUninstallKey(true));
        j.MarkResult(true);
        EXPECT_GT(TempItems(), 0u);
        std::string log = writable ? dir + "/Uninstall.ulog" : dir + "/missing/Uninstall.ulog";
        EXPECT_EQ(j.WriteLog(log, dir, "/m"), writable);
        for (const auto& e : j.CurrentEntries()) EXPECT_EQ(e.backupPath, "");
        EXPECT_EQ(TempItems(), 0u);
        EXPECT_EQ(mwtest::ReadFile(dir + "/prog"), "new");
        EXPECT_EQ(mwtest::ReadFile(dir + "/data"), "user");
    }
}

// Backup names are made by exclusive creation in a folder only we can write:
// many backups never share a name.
TEST_F(JournalTest, BackupNamesAreUniqueAndPrivate) {
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        std::string path = root + "/f" + std::to_string(i);
        mwtest::WriteFile(path, std::to_string(i));
        std::string backup = journal.BackupToTemp(path, i % 2 == 0);
        ASSERT_NE(backup, "");
        EXPECT_TRUE(names.insert(backup).second);
        EXPECT_EQ(mwtest::ReadFile(backup), std::to_string(i));
        EXPECT_EQ(fs::exists(path), i % 2 == 0) << "a copy leaves the original";
    }
    std::string reserved = journal.BackupToTemp(std::nullopt, false);
    ASSERT_NE(reserved, "");
    EXPECT_FALSE(fs::exists(reserved)) << "a name for a file still to be made";
    EXPECT_TRUE(fs::is_directory(fs::path(reserved).parent_path()));
    EXPECT_EQ(ModeOf(fs::path(reserved).parent_path().parent_path()), 0700u);
    EXPECT_EQ(journal.BackupToTemp(root + "/missing", false), "");
}

}  // namespace

namespace {

// --------------------------------------------------------------- the user's home

// Runs `body` in a child process whose target user is nobody with `home`;
// the child's exit code is the number of the first failed check.
int InChildAsTarget(const std::string& home, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        mw::platform::SetTargetUserForTesting({65534, 65534, "nobody", home});
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

uid_t OwnerOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Below the target user's home the journal acts as that user: the folders it
// makes are the user's, an earlier shortcut goes to root's private backup and
// comes back the user's, and no link the user planted leads it elsewhere.
TEST(JournalInHome, ActsAsTheUserAndFollowsNoPlantedLink) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    // Below /tmp: the user must be able to reach its home.
    char templ[] = "/tmp/mw-home-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string dir = templ;
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    const std::string home = dir + "/home";
    const std::string victim = dir + "/victim";
    fs::create_directories(home + "/Desktop");
    fs::create_directories(victim);
    fs::create_directories(dir + "/tmp");
    mwtest::WriteFile(victim + "/passwd", "root's file");
    mwtest::WriteFile(home + "/Desktop/Arbolux.desktop", "earlier shortcut");
    ASSERT_EQ(chmod((home + "/Desktop/Arbolux.desktop").c_str(), 0750), 0);
    for (const char* p : {"", "/Desktop", "/Desktop/Arbolux.desktop"}) {
        ASSERT_EQ(chown((home + p).c_str(), 65534, 65534), 0);
    }
    // What the user planted: a link to root's folder, a link to root's file.
    fs::create_directory_symlink(victim, home + "/Linked");
    fs::create_symlink(victim + "/passwd", home + "/Desktop/evil");
    ASSERT_EQ(lchown((home + "/Linked").c_str(), 65534, 65534), 0);
    ASSERT_EQ(lchown((home + "/Desktop/evil").c_str(), 65534, 65534), 0);
    const mwtest::TreeSnapshot before = mwtest::SnapshotTree(dir);

    int rc = InChildAsTarget(home, [&] {
        setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
        mw::InstallJournal journal("Arbolux 7", "Arbolux 7.13c");
        journal.SetPreviousEntriesForTesting(
            {Entry(Kind::DesktopShortcut, home + "/Desktop/Arbolux.desktop")});
        // The earlier desktop shortcut is moved out of the way, into a
        // folder of the user's that did not exist.
        if (!journal.RecordShortcut(ShortcutSlot::Desktop, home + "/Desktop/Apps/Arbolux")) return 1;
        if (fs::exists(home + "/Desktop/Arbolux.desktop")) return 2;
        if (OwnerOf(home + "/Desktop/Apps") != 65534) return 3;
        if (OwnerOf(home + "/Desktop/Apps/Arbolux") != 65534) return 4;
        mwtest::WriteFile(home + "/Desktop/Apps/Arbolux/new.desktop", "new shortcut");
        journal.MarkResult(true, home + "/Desktop/Apps/Arbolux/new.desktop");
        // A folder through the user's link: nothing may appear in root's.
        if (journal.RecordFile(home + "/Linked/sub/file", 0, false)) return 5;
        if (fs::exists(victim + "/sub")) return 6;
        // A link where a file goes is moved away itself, never followed.
        if (!journal.RecordFile(home + "/Desktop/evil", 0, false)) return 7;
        if (mwtest::ReadFile(victim + "/passwd") != "root's file") return 8;
        journal.MarkResult(false);
        journal.RollBack();
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(dir)), "");
    fs::remove_all(dir);
}

// The user's user-dirs.dirs names the temporary folder (open to all, as /tmp
// is) as the desktop. Had root taken that for a folder of the user's, the
// backup folder would have been made as the user, root's program moved into
// it and given to the user, and the user's edit of it put back into the
// install folder by RollBack.
TEST(JournalInHome, AUserFolderNamingTheTemporaryFolderGetsNoneOfRootsFiles) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    char templ[] = "/tmp/mw-home-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string dir = templ;
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    const std::string home = dir + "/home", tmp = dir + "/tmp", install = dir + "/opt/Arbolux";
    fs::create_directories(home + "/.config");
    fs::create_directories(tmp);
    fs::create_directories(install);
    ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
    for (const char* p : {"", "/.config"}) ASSERT_EQ(chown((home + p).c_str(), 65534, 65534), 0);
    mwtest::WriteFile(home + "/.config/user-dirs.dirs",
                      "XDG_DESKTOP_DIR=\"" + tmp + "\"\nXDG_DOCUMENTS_DIR=\"" + tmp + "\"\n");
    const std::string program = install + "/Arbolux";
    mwtest::WriteFile(program, "root's program");
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);

    int rc = InChildAsTarget(home, [&] {
        setenv("TMPDIR", tmp.c_str(), 1);
        mw::platform::ResetRootsForTesting();
        mw::platform::SetTargetUserForTesting({65534, 65534, "nobody", home});
        if (mw::platform::IsBelowTargetUserFolders(tmp + "/x")) return 1;
        mw::InstallJournal journal("Arbolux 7", "Arbolux 7.13c");
        if (!journal.RecordFile(program, 1, false)) return 2;
        const std::string backup = journal.CurrentEntries().back().backupPath;
        if (OwnerOf(backup) != 0) return 3;  // root's program stays root's
        if (OwnerOf(fs::path(backup).parent_path()) != 0) return 4;
        // nobody cannot reach the backup to change it.
        const int edited = mwtest::AsNobody([&] {
            int fd = open(backup.c_str(), O_WRONLY | O_TRUNC);
            if (fd < 0) return 0;
            (void)!write(fd, "nobody's", 8);
            close(fd);
            return 1;
        });
        if (edited != 0) return 5;
        mwtest::WriteFile(program, "new program");
        journal.MarkResult(false);
        journal.RollBack();
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(mwtest::ReadFile(program), "root's program");
    EXPECT_EQ(OwnerOf(program), 0u);
    fs::remove_all(dir);
}

}  // namespace
