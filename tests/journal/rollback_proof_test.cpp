// Proof that a rolled-back installation loses nothing: a journaled extraction
// of a small payload over a tree that holds an earlier installation's
// read-only files, a user's data file and a file of another user is failed at
// every file-system operation in turn, once and for good, and after RollBack
// the tree must be exactly as before.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_writer.hpp"
#include "journal/journal.hpp"
#include "journal/security.hpp"
#include "journal_fixture.hpp"
#include "journaled_extraction.hpp"
#include "platform/file_system.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/tree_snapshot.hpp"

namespace {

namespace fs = std::filesystem;
using mw::notification;
using mw::PayloadKind;

class RollbackProofTest : public mwtest::JournalFixture {
protected:
    void SetUp() override {
        JournalFixture::SetUp();
        install = root + "/opt/Meridan Works/Arbolux 7";
        // The earlier installation: a read-only program with an ACL and an
        // extended attribute, the user's data file, a language module that
        // belongs to another user, a folder that stays empty.
        fs::create_directories(install + "/Lang");
        mwtest::WriteFile(install + "/Arbolux", "earlier program");
        ASSERT_EQ(chmod((install + "/Arbolux").c_str(), 0555), 0);
        ASSERT_EQ(setxattr((install + "/Arbolux").c_str(), "user.mw", "1", 1, 0), 0);
        mwtest::WriteFile(install + "/settings.dat", "the user's own settings");
        ASSERT_EQ(chmod((install + "/settings.dat").c_str(), 0640), 0);
        mwtest::WriteFile(install + "/Lang/fr.dll", "earlier French");
        ASSERT_EQ(chown((install + "/Lang/fr.dll").c_str(), 1234, 1234), 0);
        fs::create_directories(root + "/opt/Meridan Works/empty");

        std::vector<mw::PayloadInput> inputs = {
            {1, "<InstallPath>", "bin\\Arbolux", Source("program", "new program")},
            {2, "<InstallPath>", "Uninstall", Source("uninstall", "new uninstaller")},
            {0, "<InstallPath>\\Lang", "fr.dll", Source("fr", "nouveau module")},
            {3, "<InstallPath>", "settings.dat", Source("settings", "default settings")},
            {3, "<InstallPath>\\Data", "new.dat", Source("new", "fresh data file")},
            {4, "<InstallPath>\\Textures\\Wood", "oak.png", Source("oak", std::string(5000, 'o'))},
        };
        std::ostringstream out;
        mw::WritePayload(inputs, out);
        payload = out.str();
        before = mwtest::SnapshotTree(root);
    }

    std::string Source(const std::string& name, const std::string& content) {
        std::string path = scratch / ("src-" + name);
        mwtest::WriteFile(path, content);
        return path;
    }

    bool Extract() {
        mw::PayloadSource source;
        source.OpenMemory(payload.data(), payload.size());
        mwtest::JournaledCallback callback(journal);
        return mw::Extract(source, install, "Arbolux Examples", "",
                           [&](const notification& n) { return callback(n); });
    }

    // One installation with `faults` in place of the file system: failed, it
    // is rolled back at once; completed, it is rolled back afterwards.
    void InstallAndRollBack(mw::platform::FaultyFileSystem& faults, bool healBeforeRollBack) {
        mw::platform::ScopedForTesting files(mw::platform::SetFilesForTesting, &faults);
        bool extracted = Extract();
        if (healBeforeRollBack) faults.ClearFault();
        (void)extracted;
        journal.RollBack();
    }

    std::string install;
    std::string payload;
    mwtest::TreeSnapshot before;
};

TEST_F(RollbackProofTest, EveryFailingOperationIsRolledBackCompletely) {
    if (geteuid() != 0) GTEST_SKIP() << "the tree holds a file of another user: needs root";
    for (bool twoDevices : {false, true}) {
        SCOPED_TRACE(twoDevices ? "temporary folder on another file system" : "one file system");
        mwtest::TwoDevices devices(mw::platform::Files(), tmp, twoDevices);
        mw::platform::FaultyFileSystem faults(devices);

        // Unfailed, the installation writes everything; counted, it tells
        // how many operations there are to fail.
        uint64_t operations = 0;
        {
            mw::platform::ScopedForTesting files(mw::platform::SetFilesForTesting, &faults);
            ASSERT_TRUE(Extract());
            operations = faults.Count();
        }
        EXPECT_EQ(mwtest::ReadFile(install + "/Arbolux"), "new program");
        EXPECT_EQ(mwtest::ReadFile(install + "/settings.dat"), "the user's own settings");
        journal.RollBack();
        ASSERT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
        ASSERT_EQ(TempItems(), 0u);
        ASSERT_GT(operations, 30u);

        std::set<std::string> failed;
        for (bool persistent : {false, true}) {
            for (uint64_t n = 1; n <= operations; ++n) {
                faults.ResetCount();
                faults.FailAt(n, ENOSPC, persistent);
                InstallAndRollBack(faults, true);
                failed.insert(faults.LastFailed());
                ASSERT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "")
                    << (persistent ? "from " : "only ") << "operation " << n << " ("
                    << faults.LastFailed() << ") failing";
                ASSERT_EQ(TempItems(), 0u)
                    << "operation " << n << " (" << faults.LastFailed() << ")\n"
                    << ListTemp();
                ASSERT_TRUE(journal.CurrentEntries().empty());
            }
        }
        // Granting the data files to all users is one of the operations.
        EXPECT_TRUE(failed.count("GrantAccess")) << "GrantAccess was never failed";
    }
}

}  // namespace
