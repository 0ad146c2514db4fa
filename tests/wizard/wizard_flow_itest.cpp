// The table of wizard runs on the headless toolkit: the installer as a real
// process with MW_HEADLESS=1, the steps given as MW_UI_SCRIPT, the outcome
// read from its UI dump.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/process.hpp"
#include "wizard_cases.hpp"

namespace {

TEST(WizardFlowHeadless, TableOfKeyboardRuns) {
    if (geteuid() != 0) GTEST_SKIP() << "the installer runs as root in these tests";
    for (const mwtest::WizardCase& c : mwtest::WizardCases()) {
        SCOPED_TRACE(c.name);
        mwtest::ScratchDir dir;
        mwtest::PrepareSharedMachineRoot(dir);
        if (c.newerInstalled) mwtest::InstallNewerVersion(dir);
        std::string script;
        for (const std::string& step : c.steps) script += step + ";";
        const std::string dump = dir / "out/dump.txt";
        mw::platform::ProcessOptions options;
        options.environment = {"PATH=/usr/bin:/bin",    "TMPDIR=/tmp",
                               "MW_ROOT=" + dir.path(), "MW_HEADLESS=1",
                               "MW_UI_DUMP=" + dump,    "MW_NO_ELEVATION=1",
                               "HOME=" + dir.path(),    "LANG=" + std::string(c.lang),
                               "MW_UI_SCRIPT=" + script};
        int code = -1;
        ASSERT_FALSE(
            mw::platform::RunProcess({mwtest::BinPath("InstallArbolux7.13c")}, code, options));
        EXPECT_EQ(code, 0);
        mwtest::ExpectWizardCase(c, mwtest::ReadFile(dump));
        mwtest::ExpectInstalled(c, dir);
    }
}

}  // namespace
