// End-to-end proof that a rolled-back installation loses nothing, on real file
// systems: as root, in a private mount namespace (unshare -m), a journaled
// extraction into a tmpfs that holds an earlier installation fails because
// the disk fills up, a folder is read-only or a file's CRC-32 differs, and is
// rolled back. A snapshot made with the system's own tools before and after
// (types, modes, owners, sizes, SHA-256 of contents, link targets, ACLs,
// extended attributes, and a dump of the registry store) must be the same.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/crc32.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_writer.hpp"
#include "journal/journal.hpp"
#include "journaled_extraction.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;
namespace io = boost::iostreams;

struct ArchiveFile {
    int32_t kind;
    std::string directory;  // as stored, with a token
    std::string name;
    std::string content;
    bool wrongCrc = false;
};

// A payload archive as the build makes it, with the CRC-32 of chosen files
// spoiled.
std::string BuildArchive(const std::vector<ArchiveFile>& files) {
    std::vector<mw::PayloadEntry> entries;
    std::string contents;
    for (const ArchiveFile& f : files) {
        mw::PayloadEntry e;
        e.source = "src\\" + f.name;
        e.destination = f.directory;
        e.kind = static_cast<mw::PayloadKind>(f.kind);
        e.size = f.content.size();
        mw::Crc32 crc;
        crc.Update(f.content.data(), f.content.size());
        e.crc = crc.Value() ^ (f.wrongCrc ? 0x00010000u : 0u);
        entries.push_back(e);
        contents += f.content;
    }
    std::istringstream plain(mw::EncodePayloadTable(entries) + contents);
    std::ostringstream packed;
    io::filtering_ostream out;
    out.push(io::bzip2_compressor(io::bzip2_params(9)));
    out.push(packed);
    io::copy(plain, out);
    return packed.str();
}

// Runs a shell command line; false when it does not exit with 0.
bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// What the snapshot is made with; a missing tool is a failure, not a skip.
const char* const kTools[] = {"bash",     "find",    "sort",     "stat",   "sha256sum",
                              "readlink", "getfacl", "getfattr", "setfacl"};

// The snapshot script: every item below the folder, in a fixed order, with
// everything the rollback must have put back; then the registry store.
std::string SnapshotCommand(const std::string& root, const std::string& machine,
                            const std::string& out) {
    std::string mwtool = Quote(mwtest::BinPath("mwtool"));
    return "bash -c " +
           Quote(
               "set -euo pipefail; cd " + Quote(root) +
               "; find . -print0 | LC_ALL=C sort -z | while IFS= read -r -d '' p; do "
               "stat -c '%n|%F|%a|%u|%g|%s' -- \"$p\"; "
               "if [ -L \"$p\" ]; then echo \"link -> $(readlink -- \"$p\")\"; "
               "else getfacl -n -p -c -- \"$p\" 2>/dev/null | sed 's/^/  acl /'; "
               "getfattr -h -d -m - -e hex --absolute-names -- \"$p\" 2>/dev/null | "
               "grep -v '^#' | grep -v '^$' | sed 's/^/  xattr /' || true; fi; "
               "if [ -f \"$p\" ] && [ ! -L \"$p\" ]; then sha256sum -- \"$p\" | cut -d' ' -f1; fi; "
               "done > " +
               Quote(out) + "; echo '[registry]' >> " + Quote(out) + "; MW_ROOT=" + Quote(machine) +
               " " + mwtool + " reg export '' >> " + Quote(out));
}

struct Scenario {
    const char* name;
    std::string installSize;  // size of the tmpfs that holds the installation
    bool tempOnSameDisk;      // backups beside the installation instead of on a tmpfs of their own
    bool readOnlyLang;        // the language folder is a read-only mount
    std::vector<ArchiveFile> files;
    bool extracts;  // the extraction succeeds (it is then rolled back all the same)
};

class RollbackEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting file systems needs root";
        if (!mwtest::CanMakePrivateMountNamespace())
            GTEST_SKIP() << "no private mount namespace can be made here (unshare -m refused)";
        for (const char* tool : kTools) {
            ASSERT_TRUE(Shell(std::string("command -v ") + tool + " >/dev/null"))
                << "the snapshot needs \"" << tool << "\", which is not installed";
        }
    }

    // Runs one scenario in a child process with its own mount namespace; the
    // two snapshots are left in the scratch folder for the comparison.
    void Run(const Scenario& s) {
        const std::string work = scratch.path();
        const std::string machine = work + "/machine";
        const std::string temp = s.tempOnSameDisk ? machine + "/tmp" : work + "/tmp";
        const std::string install = machine + "/opt/Meridan Works/Arbolux 7";
        const std::string archive = BuildArchive(s.files);
        fs::create_directories(machine);
        fs::create_directories(work + "/tmp");

        pid_t pid = fork();
        if (pid == 0) {
            auto fail = [&](const std::string& why) {
                mwtest::WriteFile(work + "/child-error", why);
                _exit(1);
            };
            if (unshare(CLONE_NEWNS) != 0) fail("unshare");
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("private /");
            std::string options = "size=" + s.installSize + ",mode=0755";
            if (mount("tmpfs", machine.c_str(), "tmpfs", 0, options.c_str()) != 0) fail("tmpfs");
            if (!s.tempOnSameDisk &&
                mount("tmpfs", temp.c_str(), "tmpfs", 0, "size=64m,mode=0755") != 0) {
                fail("temporary tmpfs");
            }
            // The earlier installation: a read-only program with an ACL and an
            // extended attribute, the user's data file, a language module of
            // another user, a shortcut link, its uninstall key.
            fs::create_directories(install + "/Lang");
            fs::create_directories(machine + "/tmp");
            mwtest::WriteFile(install + "/Arbolux", "earlier program");
            mwtest::WriteFile(install + "/settings.dat", "the user's settings");
            mwtest::WriteFile(install + "/Lang/fr.dll", "earlier French module");
            mwtest::WriteFile(install + "/Uninstall", "earlier uninstaller");
            fs::create_symlink("Arbolux", install + "/arbolux-link");
            if (chmod((install + "/Arbolux").c_str(), 0555) != 0 ||
                chmod((install + "/Uninstall").c_str(), 0555) != 0 ||
                chmod((install + "/settings.dat").c_str(), 0640) != 0 ||
                chown((install + "/Lang/fr.dll").c_str(), 1234, 1234) != 0 ||
                setxattr((install + "/Arbolux").c_str(), "user.origin", "7.12", 4, 0) != 0) {
                fail("earlier installation");
            }
            if (!Shell("setfacl -m u:4321:r-x " + Quote(install + "/Arbolux"))) fail("setfacl");
            if (!Shell("MW_ROOT=" + Quote(machine) + " " + Quote(mwtest::BinPath("mwtool")) +
                       " reg set 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                       "Arbolux 7' DisplayName sz 'Arbolux 7.12'")) {
                fail("registry");
            }
            if (s.readOnlyLang && (mount((install + "/Lang").c_str(), (install + "/Lang").c_str(),
                                         nullptr, MS_BIND, nullptr) != 0 ||
                                   mount(nullptr, (install + "/Lang").c_str(), nullptr,
                                         MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)) {
                fail("read-only folder");
            }
            if (!Shell(SnapshotCommand(machine, machine, work + "/before")))
                fail("snapshot before");

            setenv("MW_ROOT", machine.c_str(), 1);
            setenv("TMPDIR", temp.c_str(), 1);
            mw::platform::ResetRootsForTesting();
            bool extracted;
            {
                mw::InstallJournal journal("Arbolux 7", "Arbolux 7.13c");
                mw::PayloadSource source;
                source.OpenMemory(archive.data(), archive.size());
                mwtest::JournaledCallback callback(journal);
                extracted = mw::Extract(source, install, "Arbolux Examples", "",
                                        [&](const mw::notification& n) { return callback(n); });
                mwtest::WriteFile(work + "/extracted", extracted ? "yes" : "no");
                journal.RollBack();
            }
            if (!Shell(SnapshotCommand(machine, machine, work + "/after"))) fail("snapshot after");
            // Nothing of the backups stays in the temporary folder.
            if (!fs::is_empty(temp)) fail("the temporary folder is not empty");
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        std::string error;
        if (fs::exists(work + "/child-error")) error = mwtest::ReadFile(work + "/child-error");
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << error;
        EXPECT_EQ(mwtest::ReadFile(work + "/extracted"), s.extracts ? "yes" : "no");
        std::string before = mwtest::ReadFile(work + "/before");
        std::string after = mwtest::ReadFile(work + "/after");
        EXPECT_NE(before.find("[registry]"), std::string::npos);
        EXPECT_NE(before.find("Arbolux 7.12"), std::string::npos);
        EXPECT_NE(before.find("user.origin"), std::string::npos);
        EXPECT_NE(before.find("user:4321:r-x"), std::string::npos);
        EXPECT_EQ(before, after);
    }

    mwtest::ScratchDir scratch;
};

std::vector<ArchiveFile> Payload(bool wrongCrcOnTexture = false, std::size_t bigSize = 0) {
    std::vector<ArchiveFile> files = {
        {1, "<InstallPath>", "Arbolux", "new program"},
        {2, "<InstallPath>", "Uninstall", "new uninstaller"},
        {3, "<InstallPath>", "settings.dat", "default settings"},
        {3, "<InstallPath>\\Data", "fresh.dat", "a new data file"},
        {0, "<InstallPath>\\Lang", "fr.dll", "nouveau module"},
        {4, "<InstallPath>\\Textures", "oak.png", std::string(20000, 'o'), wrongCrcOnTexture},
    };
    if (bigSize)
        files.push_back({4, "<InstallPath>\\Textures", "big.png", std::string(bigSize, 'b')});
    files.push_back({0, "<InstallPath>\\Lang", "de.dll", "neues Modul"});
    return files;
}

TEST_F(RollbackEndToEnd, TheDiskFillsUp) {
    Run({"disk full", "1m", false, false, Payload(false, 4 << 20), false});
}

TEST_F(RollbackEndToEnd, TheDiskFillsUpWithTheBackupsOnIt) {
    Run({"disk full, backups on it", "1m", true, false, Payload(false, 4 << 20), false});
}

TEST_F(RollbackEndToEnd, AFolderIsReadOnly) {
    Run({"read-only folder", "16m", false, true, Payload(), false});
}

TEST_F(RollbackEndToEnd, AFileHasTheWrongChecksum) {
    Run({"CRC mismatch", "16m", false, false, Payload(true), false});
}

TEST_F(RollbackEndToEnd, ACompleteExtractionIsRolledBackAsWell) {
    Run({"nothing fails", "16m", false, false, Payload(), true});
}

}  // namespace
