// What a program that may run as root does first, seen from outside: mwtool
// run as root under a machine root another user could have prepared, and
// under the caller's umask 0.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// mwtool through sh, so that MW_ROOT and the umask are the caller's.
mwtest::RunResult Mwtool(const std::string& mwRoot, const std::string& args,
                         const char* umask = "022") {
    return mwtest::RunProgram(
        "sh", {"-c", std::string("umask ") + umask + "; MW_ROOT='" + mwRoot + "' exec '" +
                         mwtest::BinPath("mwtool") + "' " + args});
}

// A machine root in a folder another user owns (or one that user could
// rename away and replace) would have let that user point root's lock
// folders, registry store and installed files wherever they liked.
TEST(SecureStartup, RootRefusesAMachineRootAnotherUserCouldChange) {
    if (geteuid() != 0) GTEST_SKIP() << "the check is root's";
    mwtest::ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string theirs = dir / "theirs", open = dir / "open", mine = dir / "mine";
    for (const std::string& d : {theirs + "/root", open + "/root", mine + "/root"})
        fs::create_directories(d);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const std::string set = "reg set 'Software\\Meridan Works' n dword 1";
    struct Case {
        std::string root;
        bool used;
    } cases[] = {
        {theirs + "/root", false},          // root's folder in nobody's
        {theirs + "/root/not-yet", false},  // to be made there
        {open + "/root", false},            // in a folder open to all
        {mine + "/root", true},
        {mine + "/root/not-yet", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        const auto r = Mwtool(c.root, set);
        const bool refused =
            r.err.find("\"" + c.root + "\" (MW_ROOT) is not used") != std::string::npos;
        EXPECT_EQ(refused, !c.used) << r.err;
        if (refused) {
            EXPECT_EQ(r.code, 1);
        }
        EXPECT_FALSE(fs::exists(theirs + "/root/var")) << "nothing made where it was refused";
        EXPECT_FALSE(fs::exists(open + "/root/var"));
    }
    const auto r = Mwtool(mine + "/root", set);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(mine + "/root/var/lib/mw/registry.db"));

    // The installer stops the same way, before any lock or folder is made.
    const auto installer = mwtest::RunProgram(
        "env", {"MW_HEADLESS=1", "MW_NO_ELEVATION=1", "MW_ROOT=" + theirs + "/root",
                mwtest::BinPath("InstallArbolux7.13c")});
    EXPECT_EQ(installer.code, 1);
    EXPECT_NE(installer.err.find("(MW_ROOT) is not used"), std::string::npos) << installer.err;
    EXPECT_FALSE(fs::exists(theirs + "/root/run"));
}

// With the caller's umask 0, extracted files and folders would have been
// 0666 and 0777, the program writable by every user.
TEST(SecureStartup, ModesDoNotFollowTheCallersUmask) {
    mwtest::ScratchDir dir;
    fs::create_directories(dir / "files");
    mwtest::WriteFile(dir / "files/Arbolux.exe", "program");
    mwtest::WriteFile(dir / "files/data.cfg", "data");
    mwtest::WriteFile(dir / "manifest.tsv",
                      "1\t<InstallPath>\tfiles/Arbolux.exe\n"
                      "0\t<InstallPath>\\Data\tfiles/data.cfg\n");
    const std::string archive = dir / "payload.bz2", install = dir / "install";
    ASSERT_EQ(
        Mwtool(dir / "root", "payload create '" + archive + "' '" + (dir / "manifest.tsv") + "'")
            .code,
        0);
    const auto r = Mwtool(
        dir / "root",
        "payload extract '" + archive + "' --install-folder '" + install + "' --quiet", "000");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ModeOf(install), 0755u);
    EXPECT_EQ(ModeOf(install + "/Data"), 0755u);
    EXPECT_EQ(ModeOf(install + "/Arbolux.exe"), 0755u);
    EXPECT_EQ(ModeOf(install + "/Data/data.cfg"), 0644u);
}

}  // namespace
