// The table of wizard runs on the real window: the installer as a real
// process on the X display, the same steps typed with xdotool into the
// focused window, the outcome read from its UI dump; a run whose steps end
// the wizard must end the process, the others leave it open.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/process.hpp"
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

}  // namespace
