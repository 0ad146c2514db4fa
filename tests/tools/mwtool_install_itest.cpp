// The unattended install end to end, as root in a private mount namespace
// with the machine root on a tmpfs: a built installer carrying a payload made
// here (a program that registers itself and carries a version resource, an
// uninstaller, data files, a texture, the setup library) is installed,
// reinstalled, updated from an older version, refused over a newer one, and
// made to fail (the registration run, a damaged payload, a full disk). Each
// run leaves a snapshot of the tree (types, modes, owners, contents, ACLs),
// the registry store and the install log; a failed or refused run must leave
// the machine as it found it. Also the refusals that need no root.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The installed program: registers its own path as the product does and
// exits as the environment says (246 by default).
const char kProgram[] =
    "#!/bin/sh\n"
    "[ \"$1\" = /Register ] || exit 1\n"
    "\"$MWTEST_MWTOOL\" reg set 'Software\\Meridan Works' 'Arbolux 7 Path' sz \"$0\" || exit 2\n"
    "echo \"$@\" >> \"$MWTEST_OUT/registered\"\n"
    "exit ${MWTEST_REG_EXIT:-246}\n";

std::string VersionSource(const std::string& version) {
    return "[fixed]\nFileVersion = " + version + "\nProductVersion = " + version +
           "\nFileFlagsMask = 0x3F\nFileFlags = 0\nFileOS = 0x40004\nFileType = 1\n"
           "FileSubtype = 0\n\n[translations]\n0409 04b0\n\n[strings 040904b0]\n"
           "ProductName = Arbolux\nProductVersion = " +
           version + "\nApplicationId = Arbolux7\n";
}

// A snapshot of everything below the machine root but the lock folder (the
// cross-process objects stay, as they do on a real machine), then the store.
std::string SnapshotScript(const std::string& out) {
    return "( cd \"$M\" && find . -path ./run -prune -o -print0 | LC_ALL=C sort -z | "
           "while IFS= read -r -d '' p; do stat -c '%n|%F|%a|%u|%g|' -- \"$p\"; "
           "getfacl -n -p -c -- \"$p\" 2>/dev/null | sed 's/^/  acl /'; "
           "if [ -f \"$p\" ] && [ ! -L \"$p\" ]; then sha256sum -- \"$p\" | cut -d' ' -f1; fi; "
           "done; echo '[registry]'; \"$MWTEST_MWTOOL\" reg export '' 2>&1 || true ) > " +
           Quote(out) + "\n";
}

class MwtoolInstall : public ::testing::Test {
protected:
    void SetUp() override {
        work = scratch.path();
        mwtool = mwtest::BinPath("mwtool");
        fs::create_directories(work + "/src");
        fs::create_directories(work + "/out");
        // The program with its version resource appended.
        Write("src/Arbolux", kProgram);
        Write("src/current.ver", VersionSource("7.13.3.1"));
        Write("src/older.ver", VersionSource("7.12.1.0"));
        Write("src/newer.ver", VersionSource("7.14.0.0"));
        for (const char* v : {"current", "older", "newer"}) {
            Must(Quote(mwtool) + " res build " + Quote(work + "/src/" + v + ".bundle") +
                 " --version " + Quote(work + "/src/" + v + ".ver"));
            Must(Quote(mwtool) + " res get " + Quote(work + "/src/" + v + ".bundle") + " 16 1 -o " +
                 Quote(work + "/src/" + v + ".block"));
        }
        Must(Quote(mwtool) + " res attach " + Quote(work + "/src/Arbolux") + " " +
             Quote(work + "/src/current.bundle"));
        Write("src/Uninstall", "#!/bin/sh\nexit 0\n");
        Write("src/Arbolux.en.dll", "English module");
        Write("src/Trees.ax-lib", "trees");
        Write("src/UserImages.bmp", "images");
        Write("src/Bark.jpg", "bark");
        Write("src/dxupdate.cab", "cabinet");
        fs::copy_file(mwtest::BinPath("libmwtest_dsetup.so"), work + "/src/DSETUP.dll");
        Must("head -c 3000000 /dev/urandom > " + Quote(work + "/src/big.bin"));
        manifest =
            "1\t<InstallPath>\tArbolux\n"
            "2\t<InstallPath>\tUninstall\n"
            "0\t<InstallPath>\\Lang\tArbolux.en.dll\n"
            "3\t<CommonData>\\Meridan Works\\Arbolux\tTrees.ax-lib\n"
            "3\t<UserData>\\Meridan Works\\Arbolux\tUserImages.bmp\n"
            "4\t<CommonData>\\Meridan Works\\Textures\\Arbolux\tBark.jpg\n"
            "5\t<Temporary>\tDSETUP.dll\n"
            "5\t<Temporary>\tdxupdate.cab\n";
        MakeInstaller("installer", manifest);
    }

    void Write(const std::string& rel, const std::string& content) {
        mwtest::WriteFile(work + "/" + rel, content);
    }
    static void Must(const std::string& command) { ASSERT_EQ(Shell(command), 0) << command; }

    // A copy of the built installer carrying the payload of `lines`.
    void MakeInstaller(const std::string& name, const std::string& lines, bool damage = false) {
        Write("src/" + name + ".tsv", lines);
        const std::string payload = work + "/src/" + name + ".bz2";
        Must("cd " + Quote(work + "/src") + " && " + Quote(mwtool) + " payload create " +
             Quote(payload) + " " + Quote(name + ".tsv"));
        if (damage) {
            Must("printf 'XXXXXXXX' | dd of=" + Quote(payload) +
                 " bs=1 seek=2000 conv=notrunc status=none");
        }
        fs::copy_file(mwtest::BinPath("InstallArbolux7.13c"), work + "/" + name,
                      fs::copy_options::overwrite_existing);
        Must(Quote(mwtool) + " res set " + Quote(work + "/" + name) + " 260 134 " + Quote(payload));
    }

    // Runs `script` as root in a private mount namespace with $M, the
    // machine root, on a tmpfs of `size`; the environment is the
    // installation's. Returns the script's status.
    int InNamespace(const std::string& size, const std::string& script) {
        const std::string machine = work + "/machine";
        fs::create_directories(machine);
        const std::string all =
            "set -eu\n"
            "mount --make-rprivate /\n"
            "mount -t tmpfs -o size=" +
            size + ",mode=0755 tmpfs " + Quote(machine) +
            "\n"
            "export M=" +
            Quote(machine) + " MW_ROOT=" + Quote(machine) + " TMPDIR=" + Quote(machine + "/tmp") +
            " HOME=" + Quote(machine + "/root") + " MWTEST_MWTOOL=" + Quote(mwtool) +
            " MWTEST_OUT=" + Quote(work + "/out") +
            " LANG=en_US.UTF-8\n"
            "unset LC_ALL LC_MESSAGES LANGUAGE SUDO_UID PKEXEC_UID XDG_DATA_HOME "
            "MWTEST_DSETUP_OUT\n"
            "mkdir -p \"$TMPDIR\" \"$HOME\"\n"
            "install_() { n=$1; shift; set +e; \"$MWTEST_MWTOOL\" install \"$@\" > "
            "\"$MWTEST_OUT/$n.out\" 2> \"$MWTEST_OUT/$n.err\"; echo $? > \"$MWTEST_OUT/$n.rc\"; "
            "set -e; }\n" +
            script;
        Write("script.sh", all);
        return Shell("unshare -m bash " + Quote(work + "/script.sh") + " > " +
                     Quote(work + "/script.log") + " 2>&1");
    }

    std::string Out(const std::string& name) const {
        const std::string path = work + "/out/" + name;
        return fs::exists(path) ? mwtest::ReadFile(path) : "(missing " + name + ")";
    }
    int Code(const std::string& run) const { return std::stoi(Out(run + ".rc")); }
    std::string Installer(const std::string& name = "installer") const {
        return Quote(work + "/" + name);
    }
    std::string Log() const { return mwtest::ReadFile(work + "/script.log"); }

    void SkipWithoutNamespace() {
        if (geteuid() != 0) GTEST_SKIP() << "mounting file systems needs root";
        if (Shell("unshare -m true 2>/dev/null") != 0) {
            GTEST_SKIP() << "no private mount namespace can be made here (unshare -m refused)";
        }
        for (const char* tool : {"getfacl", "sha256sum", "desktop-file-validate", "flock"}) {
            ASSERT_EQ(Shell(std::string("command -v ") + tool + " >/dev/null"), 0) << tool;
        }
    }

    mwtest::ScratchDir scratch;
    std::string work, mwtool, manifest;
};

const std::string kProgramPath = "/opt/Meridan Works/Arbolux 7/Arbolux";

TEST_F(MwtoolInstall, InstallReinstallAndUpdate) {
    SkipWithoutNamespace();
    const std::string program = "\"$M\"" + Quote(kProgramPath);
    ASSERT_EQ(InNamespace(
                  "64m", "install_ first " + Installer() + "\n" +
                             SnapshotScript(work + "/out/first.tree") +
                             "\"$MWTEST_MWTOOL\" log read \"$M/opt/Meridan Works/Arbolux "
                             "7/Uninstall.ulog\" > \"$MWTEST_OUT/first.log\"\n"
                             "for f in \"$M/usr/local/share/applications/Meridan Works/Arbolux "
                             "7\"/*.desktop \"$HOME\"/Desktop/*.desktop; do desktop-file-validate "
                             "\"$f\" || echo \"invalid $f\"; done > \"$MWTEST_OUT/validate\" 2>&1\n"
                             "install_ again " +
                             Installer() +
                             "\n"
                             "install_ moved " +
                             Installer() +
                             " --install-folder \"$M/elsewhere\"\n"
                             // The installed program now says it is 7.12.1.0.
                             "chmod u+w " +
                             program + "\n\"$MWTEST_MWTOOL\" res set " + program + " 16 1 " +
                             Quote(work + "/src/older.block") +
                             "\n"
                             "install_ update " +
                             Installer() + "\n" + SnapshotScript(work + "/out/update.tree") +
                             "\"$MWTEST_MWTOOL\" log read \"$M/opt/Meridan Works/Arbolux "
                             "7/Uninstall.ulog\" > \"$MWTEST_OUT/update.log\"\n"),
              0)
        << Log();

    // The first installation.
    EXPECT_EQ(Code("first"), 0) << Out("first.err") << Out("first.out");
    EXPECT_EQ(Out("first.err"), "Click on 'Next' to continue.\n");
    const std::string out = Out("first.out");
    const std::string dashes(60, '-');
    EXPECT_TRUE(
        out.starts_with("'Arbolux 7.13c' Installation.\n"
                        "------------------- Installation Options -------------------\n"
                        "Installation Folder: \""))
        << out;
    EXPECT_NE(out.find("Creating a Shortcut on the Desktop.\n" + dashes +
                       "\nPreparing Installation...OK\nCopying File  \""),
              std::string::npos)
        << out;
    EXPECT_TRUE(
        out.ends_with("Shortcuts Creation...OK\nMise à jour de DirectX...OK\n"
                      "Registry Data Writing...OK\nInstallation Data Writing...OK\n"))
        << out;
    EXPECT_EQ(Out("validate"), "");
    const std::string tree = Out("first.tree");
    // Read-only, executable program; launchers; data opened to all users.
    EXPECT_NE(tree.find("./opt/Meridan Works/Arbolux 7/Arbolux|regular file|555|0|0|"),
              std::string::npos)
        << tree;
    EXPECT_NE(tree.find("./root/Desktop/Arbolux 7.13c.desktop|regular file|755|0|0|"),
              std::string::npos);
    EXPECT_NE(tree.find("./usr/local/share/applications/Meridan Works/Arbolux 7/Uninstall "
                        "Arbolux.desktop|regular file|644|"),
              std::string::npos);
    EXPECT_EQ(tree.find("meridan_{"), std::string::npos) << "the work folder is gone";
    EXPECT_NE(tree.find("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7"),
              std::string::npos);
    EXPECT_NE(tree.find("MwLanguage"), std::string::npos);
    EXPECT_NE(tree.find("Arbolux 7 Path"), std::string::npos);
    const std::string log = Out("first.log");
    EXPECT_NE(log.find("Arbolux 7.13c"), std::string::npos) << log;
    EXPECT_NE(log.find("Mise à jour de DirectX..."), std::string::npos) << log;

    // The same version again: no /update, the DirectX step runs again.
    EXPECT_EQ(Code("again"), 0) << Out("again.err");
    EXPECT_NE(Out("again.out").find("Mise à jour de DirectX...OK"), std::string::npos);
    // An earlier installation keeps its folder.
    EXPECT_EQ(Code("moved"), 2);
    EXPECT_NE(Out("moved.err").find("--install-folder"), std::string::npos);
    // The update from 7.12.1.0.
    EXPECT_EQ(Code("update"), 0) << Out("update.err");
    EXPECT_EQ(Out("update.out").find("Mise à jour de DirectX"), std::string::npos)
        << "the earlier log records a successful update: the step is skipped";
    EXPECT_EQ(Out("registered"),
              "/Register /Background\n/Register /Background\n"
              "/Register /Background /update=0007000c00010000\n");
    // The update's log still lists the earlier installation's DirectX update.
    const std::string updateLog = Out("update.log");
    EXPECT_NE(updateLog.find("\t1\tMise à jour de DirectX..."), std::string::npos) << updateLog;
}

// The earlier log is looked for as the installer's own start-up looks for
// it: when neither the uninstaller's folder nor the program's holds one, the
// log beside INSTALLER gives the update its folders (never one beside the
// tool that runs it).
TEST_F(MwtoolInstall, EarlierLogBesideTheInstallerGivesItsFolders) {
    SkipWithoutNamespace();
    ASSERT_EQ(InNamespace("64m",
                          "mkdir -p \"$M/dist\"\ncp " + Installer() +
                              " \"$M/dist/installer\"\n"
                              "install_ first \"$M/dist/installer\" --start-menu-folder "
                              "\"$M/menu/Arbolux\"\n"
                              "mv \"$M/opt/Meridan Works/Arbolux 7/Uninstall.ulog\" "
                              "\"$M/dist/Uninstall.ulog\"\n"
                              "install_ again \"$M/dist/installer\"\n"),
              0)
        << Log();
    ASSERT_EQ(Code("first"), 0) << Out("first.err");
    EXPECT_EQ(Code("again"), 0) << Out("again.err");
    const std::string again = Out("again.out");
    EXPECT_NE(again.find("/machine/menu/Arbolux"), std::string::npos) << again;
    EXPECT_EQ(again.find("usr/local/share/applications"), std::string::npos) << again;
}

TEST_F(MwtoolInstall, FailuresAndRefusalsLeaveTheMachineAsItWas) {
    SkipWithoutNamespace();
    MakeInstaller("damaged", manifest, true);
    MakeInstaller("big", manifest + "0\t<InstallPath>\\Lang\tbig.bin\n");
    const std::string program = "\"$M\"" + Quote(kProgramPath);
    ASSERT_EQ(InNamespace("2m",
                          // A damaged payload and a full disk on an empty machine.
                          SnapshotScript(work + "/out/empty.tree") + "install_ damaged " +
                              Installer("damaged") + "\n" +
                              SnapshotScript(work + "/out/damaged.tree") + "install_ full " +
                              Installer("big") + "\n" + SnapshotScript(work + "/out/full.tree") +
                              // The registration run fails: installed all the same.
                              "MWTEST_REG_EXIT=3 install_ unregistered " + Installer() + "\n" +
                              // A newer version refuses; nothing changes.
                              "chmod u+w " + program + "\n\"$MWTEST_MWTOOL\" res set " + program +
                              " 16 1 " + Quote(work + "/src/newer.block") + "\n" +
                              SnapshotScript(work + "/out/newer-before.tree") + "install_ newer " +
                              Installer() + "\n" + SnapshotScript(work + "/out/newer-after.tree")),
              0)
        << Log();

    EXPECT_EQ(Code("damaged"), 1);
    EXPECT_EQ(Out("damaged.err"), "Installation failed (Error Code 6).\n");
    EXPECT_TRUE(Out("damaged.out").ends_with("Preparing Installation...Failed\n"));
    EXPECT_EQ(Out("damaged.tree"), Out("empty.tree"));

    EXPECT_EQ(Code("full"), 1) << Out("full.out");
    EXPECT_TRUE(std::regex_search(Out("full.err"),
                                  std::regex("^Installation failed \\(Error Code 1:0*1C\\)\\.\n$")))
        << Out("full.err");
    EXPECT_EQ(Out("full.tree"), Out("empty.tree"));

    EXPECT_EQ(Code("unregistered"), 0) << Out("unregistered.err");
    EXPECT_TRUE(Out("unregistered.out")
                    .ends_with("Registry Data Writing...Failed\nInstallation Data Writing...OK\n"));

    EXPECT_EQ(Code("newer"), 3);
    EXPECT_EQ(Out("newer.err"), "A more recent Version (Arbolux 7.14.0.0) is already installed.\n");
    EXPECT_EQ(Out("newer.out"), "");
    EXPECT_EQ(Out("newer-after.tree"), Out("newer-before.tree"));
}

TEST_F(MwtoolInstall, UsageErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "no installer given"},
        {{"a", "b"}, "only one installer"},
        {{"a", "--frobnicate"}, "unknown option"},
        {{"a", "--install-folder"}, "needs a folder"},
        {{"a", "--install-folder", "/opt/a\nb"}, "not a usable folder text"},
        {{"a", "--start-menu-folder", "/opt/\x1b[2J"}, "not a usable folder text"},
        {{"a", "--language", "6"}, "product language"},
        {{"a", "--language", "1x"}, "product language"},
        {{work + "/src/Trees.ax-lib"}, "not an installer"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"install"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        mwtest::RunResult r = mwtest::RunProgram(mwtool, args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
