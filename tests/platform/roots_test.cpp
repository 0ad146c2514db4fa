// Machine root, target user and the user's folders, with the environment of
// each case set up in this process (each test runs in its own process).
#include "platform/roots.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "support/test_env.hpp"

namespace mw::platform {
namespace {

// Sets environment variables for one case and puts the old values back.
class Env {
public:
    Env(std::initializer_list<std::pair<const char*, std::optional<std::string>>> vars) {
        for (auto& [name, value] : vars) {
            const char* old = getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
        ResetRootsForTesting();
    }
    ~Env() {
        for (auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        ResetRootsForTesting();
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(MachineRoot, FollowsMwRootWhenAbsolute) {
    struct Case {
        std::optional<std::string> mwRoot;
        std::string root, optFolder;
    } cases[] = {
        {std::nullopt, "/", "/opt"},
        {"", "/", "/opt"},
        {"relative/dir", "/", "/opt"},
        {"/srv/stage", "/srv/stage", "/srv/stage/opt"},
        {"/srv/stage//", "/srv/stage", "/srv/stage/opt"},
        {"/", "/", "/opt"},
    };
    for (const auto& c : cases) {
        Env env{{"MW_ROOT", c.mwRoot}};
        SCOPED_TRACE(c.mwRoot.value_or("<unset>"));
        EXPECT_EQ(MachineRoot(), c.root);
        EXPECT_EQ(UnderMachineRoot("opt"), c.optFolder);
        EXPECT_EQ(UnderMachineRoot("/opt"), c.optFolder);
    }
}

TEST(TempFolder, TmpdirWhenAbsoluteElseTmpBelowMachineRoot) {
    struct Case {
        std::optional<std::string> tmpdir, mwRoot;
        std::string expected;
    } cases[] = {
        {std::nullopt, std::nullopt, "/tmp"},
        {"/var/tmp/", std::nullopt, "/var/tmp"},
        {"tmp-relative", "/stage", "/stage/tmp"},
        {"", "/stage", "/stage/tmp"},
        // Root takes no folder it cannot check.
        {"/scratch/t", "/stage", geteuid() == 0 ? "/stage/tmp" : "/scratch/t"},
    };
    for (const auto& c : cases) {
        Env env{{"TMPDIR", c.tmpdir}, {"MW_ROOT", c.mwRoot}};
        EXPECT_EQ(TempFolder(), c.expected) << c.tmpdir.value_or("<unset>");
    }
}

// A TMPDIR that another user could change would have held root's private
// work folders (the journal's backups of root's files).
TEST(TempFolder, RootTakesTmpdirOnlyWhenNoOtherUserCouldChangeIt) {
    if (geteuid() != 0) GTEST_SKIP() << "giving folders to another user needs root";
    mwtest::ScratchDir scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    struct Case {
        const char* name;
        mode_t mode;
        uid_t owner;
        bool taken;
    } cases[] = {
        {"root's", 0700, 0, true},
        {"root's, sticky and open to all", 01777, 0, true},
        {"root's, open to all", 0777, 0, false},
        {"nobody's", 0700, 65534, false},
        {"nobody's, sticky and open to all", 01777, 65534, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tmp = scratch / std::to_string(n++);
        ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
        ASSERT_EQ(chmod(tmp.c_str(), c.mode), 0);
        ASSERT_EQ(chown(tmp.c_str(), c.owner, c.owner), 0);
        Env env{{"TMPDIR", tmp}, {"MW_ROOT", "/stage"}};
        EXPECT_EQ(TempFolder(), c.taken ? tmp : "/stage/tmp");
    }
    // Below a folder of nobody's, root's own folder is no safer.
    const std::string theirs = scratch / "theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((theirs + "/tmp").c_str(), 0700), 0);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    Env env{{"TMPDIR", theirs + "/tmp"}, {"MW_ROOT", "/stage"}};
    EXPECT_EQ(TempFolder(), "/stage/tmp");
}

TEST(TargetUser, RootActsForTheUserWhoAskedForElevation) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    struct Case {
        std::optional<std::string> pkexec, sudo;
        uid_t uid;
        std::string home;  // empty: the home of the passwd entry
    } cases[] = {
        {"65534", std::nullopt, 65534, "/nonexistent"},
        {std::nullopt, "65534", 65534, "/nonexistent"},
        {"65534", "0", 65534, "/nonexistent"},
        {"0", "65534", 0, "/scratch/roothome"},  // root asked for itself
        {"abc", "65534", 65534, "/nonexistent"},
        {"65534x", std::nullopt, 0, "/scratch/roothome"},
        {"4294967295", std::nullopt, 0, "/scratch/roothome"},
        {"", "", 0, "/scratch/roothome"},
        {std::nullopt, std::nullopt, 0, "/scratch/roothome"},
    };
    for (const auto& c : cases) {
        // HOME belongs to the process's own user (root here): it must not
        // become the home of another target user.
        Env env{{"PKEXEC_UID", c.pkexec}, {"SUDO_UID", c.sudo}, {"HOME", "/scratch/roothome/"}};
        SCOPED_TRACE(c.pkexec.value_or("-") + " / " + c.sudo.value_or("-"));
        const TargetUser& u = CurrentTargetUser();
        EXPECT_EQ(u.uid, c.uid);
        EXPECT_EQ(u.home, c.home);
        if (c.uid == 65534) {
            EXPECT_EQ(u.name, "nobody");
            EXPECT_EQ(u.gid, 65534u);
        }
    }
}

TEST(TargetUser, PlainUserIsItsOwnTargetAndHomeFollowsHOME) {
    // A child that drops root, as a normal user's run would be.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        setenv("PKEXEC_UID", "0", 1);  // ignored: not root
        setenv("HOME", "/home/else/", 1);
        ResetRootsForTesting();
        const TargetUser& u = CurrentTargetUser();
        if (u.uid != 65534) _exit(11);
        if (u.home != "/home/else") _exit(12);
        setenv("HOME", "not/absolute", 1);
        ResetRootsForTesting();
        if (CurrentTargetUser().home != "/nonexistent") _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(UserDirs, ParsedNotRunLastCountingLineWins) {
    const std::string home = "/home/ann";
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"plain", "XDG_DESKTOP_DIR=\"$HOME/Desk\"\n", "/home/ann/Desk"},
        {"absolute", "XDG_DESKTOP_DIR=\"/data/desk/\"\n", "/data/desk"},
        {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", "/home/ann"},
        {"home bare", "XDG_DESKTOP_DIR=\"$HOME\"\n", "/home/ann"},
        {"last wins", "XDG_DESKTOP_DIR=\"$HOME/A\"\nXDG_DESKTOP_DIR=\"$HOME/B\"\n", "/home/ann/B"},
        {"comment and blanks",
         "# XDG_DESKTOP_DIR=\"$HOME/No\"\n\n  XDG_DESKTOP_DIR = \"$HOME/Yes\"  # note\n",
         "/home/ann/Yes"},
        {"escapes", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", "/home/ann/My \"Desk\""},
        {"crlf", "XDG_DESKTOP_DIR=\"$HOME/Win\"\r\n", "/home/ann/Win"},
        {"no newline at end", "XDG_DESKTOP_DIR=\"$HOME/End\"", "/home/ann/End"},
        {"other key only", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", ""},
        {"key prefix of another", "XDG_DESKTOP_DIRX=\"$HOME/X\"\n", ""},
        {"empty file", "", ""},
        // Hostile or malformed lines never count; an earlier good line stands.
        {"command substitution",
         "XDG_DESKTOP_DIR=\"$HOME/Ok\"\nXDG_DESKTOP_DIR=\"$(touch /tmp/pwned)\"\n", "/home/ann/Ok"},
        {"backticks", "XDG_DESKTOP_DIR=\"`id`\"\n", ""},
        {"other variable", "XDG_DESKTOP_DIR=\"$USER/x\"\n", ""},
        {"relative", "XDG_DESKTOP_DIR=\"Desktop\"\n", ""},
        {"unquoted", "XDG_DESKTOP_DIR=$HOME/Desk\n", ""},
        {"unterminated", "XDG_DESKTOP_DIR=\"$HOME/Desk\n", ""},
        {"trailing command", "XDG_DESKTOP_DIR=\"$HOME/Desk\"; rm -rf ~\n", ""},
        {"dot dot escape", "XDG_DESKTOP_DIR=\"$HOME/Ok\"\nXDG_DESKTOP_DIR=\"$HOME/../../etc\"\n",
         "/home/ann/Ok"},
        {"dot element", "XDG_DESKTOP_DIR=\"/data/./x\"\n", ""},
        {"control character", std::string("XDG_DESKTOP_DIR=\"$HOME/a\x01\"\n"), ""},
        {"export prefix", "export XDG_DESKTOP_DIR=\"$HOME/Exp\"\n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseUserDir(c.text, "XDG_DESKTOP_DIR", home), c.expected) << c.name;
}

TEST(SpecialFolders, TableOfTheLinuxCounterparts) {
    mwtest::ScratchDir scratch(mwtest::ScratchPlace::OutsideMachineFolders);
    std::string home = scratch / "home";
    std::filesystem::create_directories(home + "/.config");
    // A documents folder outside the home that the user (this process's own)
    // owns.
    const std::string docs = scratch / "docs";
    std::filesystem::create_directories(docs);
    mwtest::WriteFile(
        home + "/.config/user-dirs.dirs",
        "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"" + docs + "\"\n");
    Env env{{"MW_ROOT", "/stage"},
            {"HOME", home},
            {"XDG_DATA_HOME", std::nullopt},
            {"PKEXEC_UID", std::nullopt},
            {"SUDO_UID", std::nullopt}};
    struct Case {
        int csidl;
        std::string expected;
    } cases[] = {
        {csidl::ProgramFiles, "/stage/opt"},
        {csidl::ProgramFilesCommon, "/stage/usr/local/lib"},
        {csidl::CommonAppData, "/stage/var/opt"},
        {csidl::AppData, home + "/.local/share"},
        {csidl::Personal, docs},
        {csidl::DesktopDirectory, home + "/Schreibtisch"},
        {csidl::CommonStartMenu, "/stage/usr/local/share"},
        {csidl::CommonPrograms, "/stage/usr/local/share/applications"},
        {csidl::StartMenu, home + "/.local/share"},
        {csidl::Programs, home + "/.local/share/applications"},
        {csidl::CommonDocuments, ""},
        {csidl::CommonDesktopDirectory, ""},
        {csidl::Windows, ""},
        {csidl::System, ""},
        {0, ""},
        {-1, ""},
        {9999, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SpecialFolder(c.csidl), c.expected) << c.csidl;
    EXPECT_EQ(DocumentsFolder(), docs);
    EXPECT_FALSE(std::filesystem::exists(home + "/Schreibtisch")) << "folders are not created";

    // The user's own folders count as the user's, the machine's do not.
    EXPECT_TRUE(IsBelowTargetHome(home));
    EXPECT_TRUE(IsBelowTargetHome(home + "//x/"));
    EXPECT_FALSE(IsBelowTargetHome(home + "x"));
    EXPECT_FALSE(IsBelowTargetHome(docs + "/a"));
    EXPECT_TRUE(IsBelowTargetUserFolders(docs + "/a"));
    EXPECT_FALSE(IsBelowTargetUserFolders(docs + "x"));
    EXPECT_FALSE(IsBelowTargetUserFolders("/stage/opt"));
}

TEST(SpecialFolders, DefaultsWithoutUserDirsAndDataHomeFromEnvironment) {
    mwtest::ScratchDir scratch;
    std::string home = scratch / "home";
    std::filesystem::create_directories(home);
    struct Case {
        std::optional<std::string> dataHome;
        std::string expected;
    } cases[] = {
        {std::nullopt, home + "/.local/share"},
        {"/xdg/data/", "/xdg/data"},
        {"relative/data", home + "/.local/share"},
        {"/xdg/../etc", home + "/.local/share"},
    };
    for (const auto& c : cases) {
        Env env{{"HOME", home},
                {"XDG_DATA_HOME", c.dataHome},
                {"PKEXEC_UID", std::nullopt},
                {"SUDO_UID", std::nullopt}};
        EXPECT_EQ(SpecialFolder(csidl::AppData), c.expected);
        EXPECT_EQ(SpecialFolder(csidl::DesktopDirectory), home + "/Desktop");
        EXPECT_EQ(DocumentsFolder(), home + "/Documents");
    }
}

TEST(SpecialFolders, UserDirsThatIsALinkIsNotRead) {
    mwtest::ScratchDir scratch;
    std::string home = scratch / "home";
    std::filesystem::create_directories(home + "/.config");
    mwtest::WriteFile(scratch / "elsewhere", "XDG_DESKTOP_DIR=\"/planted\"\n");
    std::filesystem::create_symlink(scratch / "elsewhere", home + "/.config/user-dirs.dirs");
    Env env{{"HOME", home}, {"PKEXEC_UID", std::nullopt}, {"SUDO_UID", std::nullopt}};
    EXPECT_EQ(SpecialFolder(csidl::DesktopDirectory), home + "/Desktop");
}

TEST(SpecialFolders, ForAnotherTargetUserTheEnvironmentDoesNotCount) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    Env env{{"PKEXEC_UID", "65534"}, {"HOME", "/root"}, {"XDG_DATA_HOME", "/root/.data"}};
    EXPECT_EQ(SpecialFolder(csidl::AppData), "/nonexistent/.local/share");
    EXPECT_EQ(SpecialFolder(csidl::DesktopDirectory), "/nonexistent/Desktop");
}

// A user folder that user-dirs.dirs (a file the user writes) places outside
// the home would have made root act as the user there and take what stands
// there for the user's: the temporary folder, a machine folder, root's own.
TEST(SpecialFolders, UserFoldersOutsideTheHomeCountOnlyWhenTheUsersOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act for another user";
    mwtest::ScratchDir scratch(mwtest::ScratchPlace::OutsideMachineFolders);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    const std::string home = scratch / "home", stage = scratch / "stage";
    const std::string tmp = scratch / "tmp", own = scratch / "own", roots = scratch / "roots";
    for (const std::string& d : {home + "/.config", stage + "/opt", tmp, own, roots})
        std::filesystem::create_directories(d);
    ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
    for (const std::string& d : {home, home + "/.config", own, stage + "/opt"})
        ASSERT_EQ(chown(d.c_str(), 65534, 65534), 0);
    struct Case {
        std::string value;
        bool honoured;
    } cases[] = {
        {own, true},
        {own + "/missing", false},
        {tmp, false},  // the temporary folder, though open to nobody
        {tmp + "/desk", false},
        {roots, false},           // root's
        {stage + "/opt", false},  // a system folder of the machine root, though nobody's
        {stage, false},           // holds the machine root
        {"/", false},
        {"/tmp", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        mwtest::WriteFile(
            home + "/.config/user-dirs.dirs",
            "XDG_DESKTOP_DIR=\"" + c.value + "\"\nXDG_DOCUMENTS_DIR=\"" + c.value + "\"\n");
        Env env{{"TMPDIR", tmp}, {"MW_ROOT", stage}};
        SetTargetUserForTesting({65534, 65534, "nobody", home});
        EXPECT_EQ(SpecialFolder(csidl::DesktopDirectory), c.honoured ? c.value : home + "/Desktop");
        EXPECT_EQ(DocumentsFolder(), c.honoured ? c.value : home + "/Documents");
        EXPECT_EQ(IsBelowTargetUserFolders(c.value + "/x"), c.honoured);
    }
}

}  // namespace
}  // namespace mw::platform
