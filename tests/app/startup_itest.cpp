// The installer's start-up, run as a real process with headless message
// boxes whose contents are dumped to a file: who is refused, in which
// language, with which caption.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/preconditions.hpp"
#include "platform/process.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace {

const std::string kMutexName = mw::InstanceMutexName("Arbolux7");
const std::string kCounterName = mw::InstanceCounterName("Arbolux7");

struct Box {
    std::string caption;
    std::string text;
};

// The message boxes recorded in a UI dump, in order.
std::vector<Box> ReadBoxes(const std::string& dumpPath) {
    std::vector<Box> boxes;
    std::ifstream in(dumpPath);
    std::string line;
    bool inBox = false;  // the wizard's own records follow the boxes of start-up
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            std::size_t tab = line.find('\t', start);
            f.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (f[0] == "window") inBox = f.size() > 2 && f[1] == "MessageBox";
        if (f[0] == "window" && inBox) boxes.push_back({f[2], {}});
        if (f[0] == "control" && f.size() > 3 && f[1] == "Static" && inBox)
            boxes.back().text = f[3];
    }
    return boxes;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "start-up runs as root in these tests";
        // A run as another user sees the same lock folder and may write the
        // dump.
        mwtest::PrepareSharedMachineRoot(dir);
        mkdir((dir / "home").c_str(), 0755);
        dump = dir / "out/dump.txt";
    }

    std::vector<std::string> Environment(const std::string& lang,
                                         const std::string& answers = {}) const {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin", "MW_ROOT=" + dir.path(), "MW_HEADLESS=1", "MW_UI_DUMP=" + dump,
            "MW_NO_ELEVATION=1",  "HOME=" + dir / "home",  "LANG=" + lang,
        };
        if (!answers.empty()) env.push_back("MW_MSGBOX_ANSWERS=" + answers);
        return env;
    }

    int RunInstaller(const std::vector<std::string>& env, std::optional<uid_t> user = {}) {
        mw::platform::ProcessOptions options;
        options.environment = env;
        options.user = user;
        int code = -1;
        EXPECT_FALSE(
            mw::platform::RunProcess({mwtest::BinPath("InstallArbolux7.13c")}, code, options));
        return code;
    }

    mwtest::ScratchDir dir;
    std::string dump;
};

TEST_F(StartupTest, RootRunWithNothingInTheWayShowsNoBox) {
    EXPECT_EQ(RunInstaller(Environment("en_US.UTF-8")), 0);
    EXPECT_TRUE(ReadBoxes(dump).empty());
    // Start-up only looks: the registry store is not made by reading it.
    struct stat st;
    EXPECT_NE(lstat((dir / "var/lib/mw/registry.db").c_str(), &st), 0);
}

TEST_F(StartupTest, SecondInstallerStopsWithBusyTextBeforeTheLanguageChoice) {
    std::vector<std::string> env = Environment("fr_FR.UTF-8");
    mw::platform::ProcessOptions options;
    options.environment = env;
    mwtest::HelperProcess holder({"mutex", kMutexName}, options);
    ASSERT_EQ(holder.ReadLine(), "owned");

    EXPECT_EQ(RunInstaller(env), 0);
    std::vector<Box> boxes = ReadBoxes(dump);
    ASSERT_EQ(boxes.size(), 1u);
    // Still the framework's default caption: the language was not chosen.
    EXPECT_EQ(boxes[0].caption, "InstallArbolux7.13c");
    EXPECT_EQ(boxes[0].text, "The requested resource is in use.");
}

TEST_F(StartupTest, NonAdministratorSeesOnlyTheRightsTextInTheChosenLanguage) {
    struct Case {
        const char* lang;
        const char* caption;
        const char* text;
    };
    const Case cases[] = {
        {"nl_NL.UTF-8", "Installer – Arbolux 7.13c",
         "You should have Administrator Rights in order to proceed to Installation."},
        {"fr_FR.UTF-8", "Installeur – Arbolux 7.13c",
         "Vous devez disposer de privilèges d'administrateur sur cet ordinateur pour pouvoir "
         "effectuer l'installation."},
    };
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        unlink(dump.c_str());
        // A product process is counted: the rights check must stop first.
        mw::platform::ProcessOptions options;
        options.environment = Environment(c.lang);
        mwtest::HelperProcess product({"count", kCounterName}, options);
        ASSERT_EQ(product.ReadLine(), "counted 1");

        EXPECT_EQ(RunInstaller(Environment(c.lang), nobody->pw_uid), 0);
        std::vector<Box> boxes = ReadBoxes(dump);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].text, c.text);
    }
}

TEST_F(StartupTest, RunningProductIsReportedUntilItEnds) {
    std::vector<std::string> env = Environment("de_DE.UTF-8");
    mw::platform::ProcessOptions options;
    options.environment = env;
    mwtest::HelperProcess product({"count", kCounterName}, options);
    ASSERT_EQ(product.ReadLine(), "counted 1");

    // Every answer is Retry (the default button); the installer asks again
    // until the product has gone.
    mw::platform::ProcessOptions installerOptions;
    installerOptions.environment = env;
    mw::platform::ChildProcess installer;
    ASSERT_FALSE(installer.Start({mwtest::BinPath("InstallArbolux7.13c")}, installerOptions));
    for (int i = 0; i < 600 && ReadBoxes(dump).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int code = -1;
    std::error_code ec;
    EXPECT_FALSE(installer.TryWait(code, ec)) << "the installer must wait for the product";
    product.Kill();  // a killed product no longer counts
    ASSERT_FALSE(installer.Wait(code));
    EXPECT_EQ(code, 0);

    std::vector<Box> boxes = ReadBoxes(dump);
    ASSERT_FALSE(boxes.empty());
    for (const Box& b : boxes) {
        EXPECT_EQ(b.caption, "Installationsprogramm – Arbolux 7.13c");
        EXPECT_NE(b.text.find("'Arbolux'"), std::string::npos) << b.text;
    }
}

TEST_F(StartupTest, CancelOnTheRunningProductEndsStartUp) {
    std::vector<std::string> env = Environment("en_GB.UTF-8", "2");
    mw::platform::ProcessOptions options;
    options.environment = env;
    mwtest::HelperProcess product({"count", kCounterName}, options);
    ASSERT_EQ(product.ReadLine(), "counted 1");

    EXPECT_EQ(RunInstaller(env), 0);
    std::vector<Box> boxes = ReadBoxes(dump);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You should close 'Arbolux' before continuing Installation.");
}

}  // namespace
