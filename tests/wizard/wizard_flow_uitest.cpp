// The table of wizard runs on the real window: the installer as a real
// process on the X display, the same steps typed with xdotool into the
// focused window, the outcome read from its UI dump; a run whose steps end
// the wizard must end the process, the others leave it open.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/process.hpp"
#include "support/ui_dump_reader.hpp"
#include "wizard_cases.hpp"

namespace {

using namespace std::chrono_literals;

int Records(const std::string& path) {
    const std::string dump = mwtest::ReadFile(path);
    int n = 0;
    for (std::size_t p = 0; (p = dump.find("\nend\n", p)) != std::string::npos; ++p) ++n;
    return n;
}

std::string ReadIfThere(const std::string& path) {
    return access(path.c_str(), F_OK) == 0 ? mwtest::ReadFile(path) : std::string();
}

// The last record in the dump, to tell a lost key from a failed step.
std::string LastShown(const std::string& dump) {
    const std::size_t end = dump.rfind("\nend\n");
    if (end == std::string::npos) return dump;
    std::size_t start = dump.rfind("window\t", end);
    if (start == std::string::npos) start = 0;
    return dump.substr(start, end + 5 - start);
}

// Types one step into the focused window and waits until the windows have
// written what it changed (or a moment has passed: some keys change nothing).
// `sentAt` is the size of the dump before the last key went out: a "wait:"
// looks for its text from there, since what a key starts (a short
// installation, say) may be written before xdotool has even returned.
void Type(const std::string& step, const std::string& dump, std::size_t& sentAt) {
    if (step.rfind("wait:", 0) == 0) {
        for (int i = 0; i < 1200; ++i) {
            if (ReadIfThere(dump).find(step.substr(5), sentAt) != std::string::npos) return;
            std::this_thread::sleep_for(50ms);
        }
        FAIL() << "the windows never showed " << step.substr(5) << "; the last they showed:\n"
               << LastShown(ReadIfThere(dump));
    }
    sentAt = ReadIfThere(dump).size();
    const int before = Records(dump);
    std::string cmd;
    if (step.rfind("key:", 0) == 0) {
        cmd = "xdotool key " + step.substr(4);
    } else if (step.rfind("type:", 0) == 0) {
        cmd = "xdotool type --delay 20 '" + step.substr(5) + "'";
    }
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (int i = 0; i < 40 && Records(dump) == before; ++i) std::this_thread::sleep_for(25ms);
    std::this_thread::sleep_for(100ms);
}

// Starts the installer as root into the scratch machine root and waits for
// its wizard window.
void Launch(mw::platform::ChildProcess& installer, const mwtest::ScratchDir& dir,
            const std::string& dump, const std::string& lang) {
    mw::platform::ProcessOptions options;
    options.environment = {
        "PATH=/usr/bin:/bin",    "TMPDIR=/tmp",          "MW_ROOT=" + dir.path(),
        "MW_UI_DUMP=" + dump,    "MW_NO_ELEVATION=1",    "HOME=" + dir.path(),
        "LANG=" + lang,          "DISPLAY=" + std::string(std::getenv("DISPLAY"))};
    ASSERT_FALSE(installer.Start({mwtest::BinPath("InstallArbolux7.13c")}, options));
    // A loaded machine may take its time to start the installer.
    for (int i = 0; i < 800 && ReadIfThere(dump).find("window\tWizard") == std::string::npos; ++i)
        std::this_thread::sleep_for(25ms);
    ASSERT_NE(ReadIfThere(dump).find("window\tWizard"), std::string::npos)
        << "the wizard window never showed";
}

TEST(WizardFlowReal, TableOfKeyboardRuns) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    if (geteuid() != 0) GTEST_SKIP() << "the installer runs as root in these tests";
    for (const mwtest::WizardCase& c : mwtest::WizardCases()) {
        SCOPED_TRACE(c.name);
        mwtest::ScratchDir dir;
        mwtest::PrepareSharedMachineRoot(dir);
        if (c.newerInstalled) mwtest::InstallNewerVersion(dir);
        const std::string dump = dir / "out/dump.txt";
        mw::platform::ChildProcess installer;
        Launch(installer, dir, dump, c.lang);
        if (HasFatalFailure()) return;
        std::size_t sentAt = 0;
        for (const std::string& step : c.steps) Type(step, dump, sentAt);

        int code = -1;
        std::error_code ec;
        bool ended = false;
        // A run that ends is given time to write and leave; one that must
        // stay open is watched for two seconds.
        for (int i = 0; i < (c.ends ? 600 : 40) && !ended; ++i) {
            ended = installer.TryWait(code, ec);
            if (!ended) std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(ended, c.ends);
        if (ended) {
            EXPECT_EQ(code, 0);
        }
        if (!ended) {
            installer.Signal(SIGTERM);
            installer.Wait(code);
        }
        mwtest::ExpectWizardCase(c, mwtest::ReadFile(dump));
        mwtest::ExpectInstalled(c, dir);
    }
}

// The windows of a class that are shown on the display.
int ShownWindowsOf(const std::string& windowClass) {
    int n = 0;
    if (FILE* p = popen(("xdotool search --onlyvisible --class " + windowClass + " 2>/dev/null")
                            .c_str(),
                        "r")) {
        char line[64];
        while (fgets(line, sizeof line, p)) ++n;
        pclose(p);
    }
    return n;
}

// The last record of windows of that class.
std::optional<mw::platform::UiDumpWindow> LastRecordOf(const std::string& dump,
                                                       const std::string& windowClass) {
    std::optional<mw::platform::UiDumpWindow> last;
    for (auto& w : mwtest::ReadUiDump(dump))
        if (w.cls == windowClass) last = std::move(w);
    return last;
}

void ClickAt(const mw::platform::UiDumpWindow& window, int id, const std::string& how) {
    const mw::platform::UiDumpControl* c = mwtest::DumpedControl(window, id);
    ASSERT_NE(c, nullptr) << "no control " << id;
    const std::string cmd = "xdotool mousemove " + std::to_string(window.x + c->x + c->w / 2) +
                            " " + std::to_string(window.y + c->y + c->h / 2) + " " + how;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// Two quick clicks on Browse (both queued before the first has opened
// anything) open one chooser, centred and modal over the wizard: a click on
// the wizard's Next does nothing while it is open, and Escape closes it with
// the wizard still on the folder page.
TEST(WizardFlowReal, BrowseOpensOneModalChooserAndEscapeClosesIt) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    if (geteuid() != 0) GTEST_SKIP() << "the installer runs as root in these tests";
    mwtest::ScratchDir dir;
    mwtest::PrepareSharedMachineRoot(dir);
    const std::string dump = dir / "out/dump.txt";
    mw::platform::ChildProcess installer;
    Launch(installer, dir, dump, "en_US.UTF-8");
    if (HasFatalFailure()) return;
    std::size_t sentAt = 0;
    // The advanced method, to the folder page.
    for (const char* step :
         {"key:Return", "key:Tab", "key:Tab", "key:Tab", "key:Down", "key:Return"}) {
        Type(step, dump, sentAt);
    }
    auto wizard = LastRecordOf(dump, "Wizard");
    ASSERT_TRUE(wizard);
    const mw::platform::UiDumpControl* browse = mwtest::DumpedControl(*wizard, 1006);
    ASSERT_TRUE(browse && browse->states.find("hidden") == std::string::npos)
        << "not on the folder page:\n"
        << LastShown(ReadIfThere(dump));

    ClickAt(*wizard, 1006, "click --repeat 2 --delay 1 1");
    std::optional<mw::platform::UiDumpWindow> chooser;
    for (int i = 0; i < 400 && !chooser; ++i) {
        chooser = LastRecordOf(dump, "FolderBrowser");
        if (!chooser) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(chooser) << "no chooser showed";
    // A second chooser, were one coming, has had time to show.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(ShownWindowsOf("FolderBrowser"), 1);
    EXPECT_NEAR(chooser->x + chooser->w / 2, wizard->x + wizard->w / 2, 1) << "not centred";
    EXPECT_NEAR(chooser->y + chooser->h / 2, wizard->y + wizard->h / 2, 1) << "not centred";

    ClickAt(*wizard, 1, "click 1");
    std::this_thread::sleep_for(500ms);
    Type("key:Escape", dump, sentAt);
    for (int i = 0; i < 100 && ShownWindowsOf("FolderBrowser") > 0; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ShownWindowsOf("FolderBrowser"), 0) << "Escape did not close the chooser";
    EXPECT_EQ(ShownWindowsOf("Wizard"), 1);
    wizard = LastRecordOf(dump, "Wizard");
    ASSERT_TRUE(wizard);
    browse = mwtest::DumpedControl(*wizard, 1006);
    EXPECT_TRUE(browse && browse->states.find("hidden") == std::string::npos)
        << "the wizard left the folder page:\n"
        << LastShown(ReadIfThere(dump));
    int code = -1;
    std::error_code ec;
    EXPECT_FALSE(installer.TryWait(code, ec)) << "the wizard ended";
    installer.Signal(SIGTERM);
    installer.Wait(code);
}

}  // namespace
