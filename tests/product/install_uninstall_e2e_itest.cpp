// End to end, as root on real file systems: the built installer installs the
// demo product (mwtool install) into a tmpfs in a private mount namespace,
// and the installed uninstaller removes it again. Afterwards the machine is
// as it was, except for the product's data files (and the folders holding
// them), which an uninstallation keeps, and the runtime's version record,
// which belongs to the shared runtime rather than to the product.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/registry.hpp"
#include "support/test_env.hpp"
#include "support/tree_snapshot.hpp"

namespace {

namespace fs = std::filesystem;

// What the store holds, one line per key and value, in order.
std::string StoreListing(const std::string& database) {
    if (!fs::exists(database)) return "";
    std::error_code ec;
    auto store = mw::platform::OpenRegistryAt(database, ec);
    if (!store) return "<" + ec.message() + ">";
    std::string out;
    auto walk = [&](auto& self, const std::string& key) -> void {
        for (const std::string& name : store->ValueNames(key, ec)) {
            auto value = store->GetValue(key, name, ec);
            out +=
                key + " : " + name + " = " + (value && value->Text() ? *value->Text() : "?") + "\n";
        }
        for (const std::string& sub : store->SubKeys(key, ec)) {
            const std::string path = key.empty() ? sub : key + "\\" + sub;
            out += path + "\n";
            self(self, path);
        }
    };
    walk(walk, "");
    return out;
}

class InstallUninstallEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting file systems needs root";
        if (!mwtest::CanMakePrivateMountNamespace())
            GTEST_SKIP() << "no private mount namespace can be made here (unshare -m refused)";
    }
    mwtest::ScratchDir scratch;
};

TEST_F(InstallUninstallEndToEnd, UninstallLeavesTheMachineAsBeforeButTheDataFiles) {
    const std::string work = scratch.path();
    const std::string machine = work + "/machine";
    const std::string home = machine + "/root";
    fs::create_directories(machine);

    pid_t pid = fork();
    if (pid == 0) {
        auto fail = [&](const std::string& why) {
            mwtest::WriteFile(work + "/child-error", why);
            _exit(1);
        };
        if (unshare(CLONE_NEWNS) != 0) fail("unshare");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("private /");
        if (mount("tmpfs", machine.c_str(), "tmpfs", 0, "size=256m,mode=0755") != 0) fail("tmpfs");
        // A machine as a distribution leaves it: the folders every system has.
        for (const char* folder : {"tmp", "root", "opt", "var/opt", "var/lib", "run/lock",
                                   "usr/local/share/applications", "usr/local/lib"})
            fs::create_directories(machine + "/" + folder);
        chmod((machine + "/tmp").c_str(), 01777);
        chmod((machine + "/run/lock").c_str(), 01777);
        chmod((machine + "/root").c_str(), 0700);
        setenv("MW_ROOT", machine.c_str(), 1);
        setenv("TMPDIR", (machine + "/tmp").c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        unsetenv("SUDO_UID");
        unsetenv("PKEXEC_UID");
        setenv("MW_NO_ELEVATION", "1", 1);
        setenv("MW_HEADLESS", "1", 1);
        unsetenv("DISPLAY");

        mwtest::WriteFile(work + "/before-store",
                          StoreListing(machine + "/var/lib/mw/registry.db"));
        const mwtest::TreeSnapshot before = mwtest::SnapshotTree(machine);

        auto install = mwtest::RunProgram(mwtest::BinPath("mwtool"),
                                          {"install", mwtest::BinPath("InstallArbolux7.13c")});
        mwtest::WriteFile(work + "/install",
                          std::to_string(install.code) + "\n" + install.out + "\n" + install.err);
        mwtest::WriteFile(work + "/installed-store",
                          StoreListing(machine + "/var/lib/mw/registry.db"));
        const std::string uninstaller = machine + "/opt/Meridan Works/Arbolux 7/Uninstall";
        auto uninstall = mwtest::RunProgram(uninstaller, {"--quiet"});
        mwtest::WriteFile(work + "/uninstall", std::to_string(uninstall.code) + "\n" +
                                                   uninstall.out + "\n" + uninstall.err);
        mwtest::WriteFile(work + "/after-store", StoreListing(machine + "/var/lib/mw/registry.db"));
        mwtest::TreeSnapshot after = mwtest::SnapshotTree(machine);

        // Kept: the data files and the folders that hold them; the store
        // itself and the lock files are machinery, compared by content above.
        std::string kept;
        std::erase_if(after, [&](const auto& item) {
            const std::string& path = item.first;
            const bool machinery = path.rfind("var/lib/mw", 0) == 0 ||
                                   path.rfind("run/lock/", 0) == 0 || path.rfind("run/mw", 0) == 0;
            const bool data = path.find("Meridan Works") != std::string::npos &&
                              (path.rfind("var/opt/", 0) == 0 || path.rfind("root/.local", 0) == 0);
            const bool dataParent = path == "root/.local" || path == "root/.local/share";
            if (data && item.second.type == 'f') kept += path + "\n";
            return machinery || data || dataParent;
        });
        mwtest::WriteFile(work + "/kept", kept);
        mwtest::WriteFile(work + "/diff", mwtest::DiffTrees(before, after));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::string error;
    if (fs::exists(work + "/child-error")) error = mwtest::ReadFile(work + "/child-error");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << error;

    const std::string install = mwtest::ReadFile(work + "/install");
    ASSERT_EQ(install.substr(0, 2), "0\n") << install;
    const std::string installedStore = mwtest::ReadFile(work + "/installed-store");
    EXPECT_NE(installedStore.find("Arbolux 7 Path"), std::string::npos) << installedStore;
    EXPECT_NE(installedStore.find("4.09.00.0904"), std::string::npos) << installedStore;

    const std::string uninstall = mwtest::ReadFile(work + "/uninstall");
    EXPECT_EQ(uninstall.substr(0, 2), "0\n") << uninstall;
    EXPECT_EQ(mwtest::ReadFile(work + "/diff"), "");
    // The demo's libraries and the user's images stayed.
    const std::string kept = mwtest::ReadFile(work + "/kept");
    EXPECT_NE(kept.find("Trees.ax-lib"), std::string::npos) << kept;
    EXPECT_NE(kept.find("UserImages.bmp"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("Bark.jpg"), std::string::npos) << kept;

    // Nothing of the product is left in the store; the runtime's record is.
    const std::string after = mwtest::ReadFile(work + "/after-store");
    EXPECT_EQ(after.find("Arbolux"), std::string::npos) << after;
    EXPECT_EQ(after.find("Meridan"), std::string::npos) << after;
    EXPECT_NE(after.find("Software\\Microsoft\\DirectX : Version = 4.09.00.0904"),
              std::string::npos)
        << after;
}

}  // namespace
