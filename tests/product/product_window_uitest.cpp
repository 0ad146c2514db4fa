// The product's window, shown for real: what it says (in the language the
// installation stored) and that the running program is counted, so that an
// installer or the uninstaller sees it.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/identity.hpp"
#include "app/preconditions.hpp"
#include "platform/process.hpp"
#include "platform/ui_dump.hpp"
#include "product_fixture.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace {

// The control with `id` in the dump's first window record; "<none>" if absent.
std::string ControlText(const std::string& dump, int id) {
    std::stringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        if (line == "end") break;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
        if (fields.size() > 3 && fields[0] == "control" && fields[2] == std::to_string(id))
            return fields[3];
    }
    return "<none>";
}

TEST(ProductWindow, ShowsVersionLibrariesAndTexturesInTheStoredLanguageWhileCounted) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    producttest::ScratchMachine m;
    const std::string program = m.Install("Arbolux", "opt/Meridan Works/Arbolux 7/Arbolux");
    for (const char* rel :
         {"var/opt/Meridan Works/Arbolux/Trees.ax-lib",
          "var/opt/Meridan Works/Arbolux/Shrubs.ax-lib", "var/opt/Meridan Works/Arbolux/notes.txt",
          "home/.local/share/Meridan Works/Arbolux/Mine.ax-lib",
          "var/opt/Meridan Works/Textures/Arbolux/Bark.jpg"}) {
        std::filesystem::create_directories(std::filesystem::path(m / rel).parent_path());
        mwtest::WriteFile(m / rel, "x");
    }
    if (auto store = m.Store()) {
        ASSERT_FALSE(store->CreateKey(mw::uninstallKey));
        ASSERT_FALSE(store->SetValue(mw::uninstallKey, "MwLanguage",
                                     mw::platform::RegValue::Dword(2)));  // German
    }
    const std::string dumpFile = m / "dump";
    mwtest::EnvGuard env;
    env.Set("MW_UI_DUMP", dumpFile);

    mwtest::HelperProcess counter({"count", mw::InstanceCounterName("Arbolux7")});
    ASSERT_EQ(counter.ReadLine(), "counted 1");
    mw::platform::ChildProcess window;
    ASSERT_FALSE(window.Start({program}));
    std::string dump;
    for (int i = 0; i < 200 && dump.find("\nend\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (std::filesystem::exists(dumpFile)) dump = mwtest::ReadFile(dumpFile);
    }
    ASSERT_NE(dump.find("\nend\n"), std::string::npos) << "the window never showed";

    EXPECT_EQ(dump.substr(0, dump.find('\n')).rfind("window\tProductWindow\tArbolux 7.13c\t", 0),
              0u)
        << dump;
    EXPECT_EQ(ControlText(dump, 1000), "Version 7.13.3.1");
    EXPECT_EQ(ControlText(dump, 901), "Bibliotheken");
    EXPECT_EQ(ControlText(dump, 1001), "Mine.ax-lib\\nShrubs.ax-lib\\nTrees.ax-lib");
    EXPECT_EQ(ControlText(dump, 902), "Texturen");
    EXPECT_EQ(ControlText(dump, 1002), "Bark.jpg");
    EXPECT_EQ(ControlText(dump, 1), "Schließen");

    counter.WriteLine("count");
    EXPECT_EQ(counter.ReadLine(), "2");
    // However it ends, it is no longer counted.
    ASSERT_FALSE(window.Signal(SIGKILL));
    int code = 0;
    ASSERT_FALSE(window.Wait(code));
    counter.WriteLine("count");
    EXPECT_EQ(counter.ReadLine(), "1");
}

}  // namespace
