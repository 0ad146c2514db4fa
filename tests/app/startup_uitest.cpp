// The installer started by a user without administrator rights, on a real
// display: the only thing shown is the rights message, in a real window
// titled with the installer's title in the user's language, and pressing
// Enter on it ends the process.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process.hpp"
#include "support/test_env.hpp"
#include "support/x_keyboard.hpp"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(StartupOnDisplay, NonAdministratorGetsTheRightsMessageInARealWindow) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the installer as another user";
    ASSERT_FALSE(mw::platform::FindProgram("xdotool").empty()) << "xdotool is missing";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);

    struct Case {
        const char* lang;
        const char* title;
        const char* text;
    };
    const Case cases[] = {
        {"nl_NL.UTF-8", "Installer – Arbolux 7.13c",
         "You should have Administrator Rights in order to proceed to Installation."},
        {"fr_FR.UTF-8", "Installeur – Arbolux 7.13c",
         "Vous devez disposer de privilèges d'administrateur sur cet ordinateur pour pouvoir "
         "effectuer l'installation."},
    };
    // A key left held by an earlier test would repeat into our window.
    mwtest::ShellOutput("xdotool keyup Return Escape 2>&1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        mwtest::ScratchDir dir;
        mwtest::PrepareSharedMachineRoot(dir);
        const std::string dump = dir / "out/dump.txt";

        mw::platform::ProcessOptions options;
        options.user = nobody->pw_uid;
        options.environment = std::vector<std::string>{
            "PATH=/usr/bin:/bin",          std::string("DISPLAY=") + std::getenv("DISPLAY"),
            "MW_ROOT=" + dir.path(),       "MW_UI_DUMP=" + dump,
            "MW_NO_ELEVATION=1",           "HOME=/nonexistent",
            std::string("LANG=") + c.lang,
        };
        mw::platform::ChildProcess installer;
        ASSERT_FALSE(installer.Start({mwtest::BinPath("InstallArbolux7.13c")}, options));

        // The box writes its record once it is mapped and has the keyboard;
        // its X window is named before that, so the record is waited for
        // first (on a loaded machine the two may be far apart).
        for (int i = 0; i < 200 && Slurp(dump).find("\nend\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The window is real: the X server knows it by its title.
        std::string window;
        for (int i = 0; i < 200 && window.empty(); ++i) {
            window = mwtest::ShellOutput("xdotool search --name 'Arbolux 7' 2>/dev/null");
            if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_FALSE(window.empty()) << "no window appeared";
        window = window.substr(0, window.find('\n'));
        EXPECT_EQ(mwtest::ShellOutput("xdotool getwindowname " + window), c.title);

        const std::string shown = Slurp(dump);
        EXPECT_NE(shown.find(std::string("window\tMessageBox\t") + c.title), std::string::npos)
            << shown;
        EXPECT_NE(shown.find(std::string("\t") + c.text + "\t"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("window\t", 1), std::string::npos) << "one box only: " << shown;

        EXPECT_TRUE(mwtest::PressKeyIn(window, "Return")) << "the box never had the keyboard";
        int code = -1;
        bool ended = false;
        std::error_code ec;
        for (int i = 0; i < 100 && !(ended = installer.TryWait(code, ec)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(ended) << "Enter did not close the box";
        EXPECT_EQ(code, 0);
    }
}

}  // namespace
