// One table of wizard runs, driven from the keyboard, that runs on the
// headless toolkit (the installer with MW_HEADLESS=1 and the steps as
// MW_UI_SCRIPT) and on the real window (under X, the same steps typed with
// xdotool), so that the two cannot drift apart. Both read what the windows
// showed from the UI dump.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/env_guard.hpp"
#include "support/test_env.hpp"

namespace mwtest {

struct WizardCase {
    const char* name;
    const char* lang;
    bool newerInstalled;  // a newer version of the product is installed
    // "key:..." or "type:..."; "wait:TEXT" lets the real window's driver wait
    // until the dump shows TEXT (an installation takes its time; headless
    // runs are synchronous and skip it).
    std::vector<std::string> steps;
    // The last record of the wizard window.
    std::string title;
    int pageControl;                                        // a control only the expected page has
    std::vector<std::pair<int, std::string>> controlTexts;  // id and text on that page
    std::vector<std::string> boxes;  // texts of the message boxes shown, in order
    bool ends;                       // the steps end the wizard
    bool installs = false;           // the product is installed afterwards
};

const std::string kEnglishTitle = "Installer \u2013 Arbolux 7.13c";
const std::string kExitQuestion =
    "Installation is not complete.\\r\\n\\r\\nDo you still confirm exit Installation ?";

inline const std::vector<WizardCase>& WizardCases() {
    static const std::vector<WizardCase> cases = {
        {"Escape on the start page asks, and No keeps the wizard",
         "en_US.UTF-8",
         false,
         {"key:Escape", "key:Return"},
         kEnglishTitle,
         1023,
         {},
         {kExitQuestion},
         false},
        {"Yes on the exit question ends the wizard",
         "en_US.UTF-8",
         false,
         {"key:Escape", "key:Tab", "key:Return"},
         kEnglishTitle,
         1023,
         {},
         {kExitQuestion},
         true},
        {"German retitles the window and stays on the start page",
         "en_US.UTF-8",
         false,
         {"key:Tab", "key:Tab", "key:Down"},
         "Installationsprogramm \u2013 Arbolux 7.13c",
         1023,
         {{1023, "Deutsch"}, {1, "Weiter  >"}, {2, "Abbrechen"}},
         {},
         false},
        {"Advanced method with a typed folder and no desktop shortcut",
         "en_US.UTF-8",
         false,
         {"key:Return", "key:Tab", "key:Tab", "key:Tab", "key:Down", "key:Return", "key:Tab",
          "key:Tab", "key:Tab", "type:/opt/mine", "key:Return", "key:Tab", "key:Tab", "key:Tab",
          "key:Tab", "key:Tab", "key:Tab", "key:space", "key:Return"},
         kEnglishTitle,
         1015,
         {{1, "Install"}},
         {},
         false},
        {"A newer installed version leaves Next disabled and Escape ends at once",
         "en_US.UTF-8",
         true,
         {"key:Return", "key:Escape"},
         kEnglishTitle,
         1023,
         {{1016,
           "'Arbolux 7.13c' Installation.\\r\\nA more recent Version (Arbolux 7.20) is "
           "already installed."}},
         {},
         true},
        {"Quick install with Enter only: start, method, Install, Next, Exit",
         "en_US.UTF-8",
         false,
         {"key:Return", "key:Return", "key:Return", "wait:\tExit\t", "key:Return", "key:Return"},
         kEnglishTitle,
         1016,
         {{1016, "Installation is complete."}, {2, "Exit"}},
         {},
         true,
         true},
        {"A relative folder fails with error 7, writes nothing and offers Install again",
         "en_US.UTF-8",
         false,
         {"key:Return", "key:Tab", "key:Tab", "key:Tab", "key:Down", "key:Return", "key:Tab",
          "key:Tab", "key:Tab", "type:relative/folder", "key:Return", "key:Return", "key:Return"},
         kEnglishTitle,
         1015,
         {{1, "Install"}, {1003, "Installation failed (Error Code 7)."}},
         {},
         false},
    };
    return cases;
}

inline std::vector<std::vector<std::string>> DumpLines(const std::string& dump) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        lines.push_back(fields);
    }
    return lines;
}

inline std::vector<std::vector<std::string>> LastRecord(const std::string& dump,
                                                        const std::string& cls) {
    std::vector<std::vector<std::string>> last, current;
    bool keep = false;
    for (auto& f : DumpLines(dump)) {
        if (f[0] == "window") {
            keep = f.size() > 1 && f[1] == cls;
            if (keep) current.clear();
        }
        if (keep) current.push_back(f);
        if (keep && f[0] == "end") last = current;
    }
    return last;
}

inline std::vector<std::string> BoxTexts(const std::string& dump) {
    std::vector<std::string> texts;
    bool inBox = false;
    for (auto& f : DumpLines(dump)) {
        if (f[0] == "window") inBox = f.size() > 1 && f[1] == "MessageBox";
        // A box writes a record each time it changes; one text per showing.
        if (inBox && f[0] == "control" && f.size() > 3 && f[1] == "Static") {
            if (texts.empty() || texts.back() != f[3]) texts.push_back(f[3]);
        }
    }
    return texts;
}

inline void ExpectWizardCase(const WizardCase& c, const std::string& dump) {
    const auto record = LastRecord(dump, "Wizard");
    ASSERT_FALSE(record.empty()) << "the wizard never showed";
    EXPECT_EQ(record[0][2], c.title);
    bool page = false;
    for (const auto& f : record) {
        if (f[0] != "control" || f.size() < 9) continue;
        if (std::stoi(f[2]) == c.pageControl) page = true;
    }
    EXPECT_TRUE(page) << "page with control " << c.pageControl << " not shown";
    for (const auto& [id, text] : c.controlTexts) {
        bool found = false;
        for (const auto& f : record) {
            if (f[0] == "control" && f.size() > 3 && std::stoi(f[2]) == id) {
                found = true;
                EXPECT_EQ(f[3], text) << "control " << id;
            }
        }
        EXPECT_TRUE(found) << "control " << id;
    }
    EXPECT_EQ(BoxTexts(dump), c.boxes);
}

// What an installation leaves, as the unattended install leaves it: the
// program named by the maker's key, and its install log beside the
// uninstaller; or, for a run that must not install, no registration at all.
inline void ExpectInstalled(const WizardCase& c, const ScratchDir& root) {
    EnvGuard env;
    env.Set("MW_ROOT", root.path());
    const RunResult path = RunProgram(
        BinPath("mwtool"), {"reg", "query", "Software\\Meridan Works", "Arbolux 7 Path"});
    if (!c.installs) {
        if (!c.newerInstalled) {
            EXPECT_NE(path.code, 0) << "nothing may be registered: " << path.out;
        }
        return;
    }
    ASSERT_EQ(path.code, 0) << path.err;
    const std::size_t quote = path.out.find('"', path.out.find("sz:"));
    const std::string program = path.out.substr(quote + 1, path.out.rfind('"') - quote - 1);
    EXPECT_EQ(access(program.c_str(), X_OK), 0) << program;
    const RunResult uninstall = RunProgram(
        BinPath("mwtool"),
        {"reg", "query", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7"});
    EXPECT_EQ(uninstall.code, 0) << uninstall.err;
}

inline void InstallNewerVersion(const ScratchDir& root) {
    const std::string folder = root / "opt/arbolux-newer";
    ASSERT_EQ(RunProgram("mkdir", {"-p", folder}).code, 0);
    WriteFile(root / "newer.ver",
              "[fixed]\nFileVersion = 7.20.0.0\nProductVersion = 7.20.0.0\n"
              "[translations]\n0400 04b0\n"
              "[strings 040004b0]\nProductName = Arbolux\nProductVersion = 7.20\n"
              "FileVersion = 7.20.0.0\nApplicationId = Arbolux7\n");
    ASSERT_EQ(RunProgram(BinPath("mwtool"),
                         {"res", "build", root / "newer.res", "--version", root / "newer.ver"})
                  .code,
              0);
    const std::string program = folder + "/arbolux";
    ASSERT_EQ(RunProgram("cp", {BinPath("mwtest_helper"), program}).code, 0);
    ASSERT_EQ(RunProgram(BinPath("mwtool"), {"res", "attach", program, root / "newer.res"}).code,
              0);
    EnvGuard env;
    env.Set("MW_ROOT", root.path());
    const RunResult set = RunProgram(BinPath("mwtool"), {"reg", "set", "Software\\Meridan Works",
                                                         "Arbolux 7 Path", "sz", program});
    ASSERT_EQ(set.code, 0) << set.err;
}

}  // namespace mwtest
