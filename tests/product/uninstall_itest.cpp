// The uninstaller on a scratch machine holding an installation that the
// test lays out itself: its files and folders, a shortcut, the uninstall key,
// the program's registration and the install log listing all of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/identity.hpp"
#include "app/preconditions.hpp"
#include "journal/install_log.hpp"
#include "platform/registry.hpp"
#include "product_fixture.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace {

using mw::JournalEntry;
using mw::JournalEntryKind;
using producttest::ScratchMachine;

const std::string kApp = "opt/Meridan Works/Arbolux 7";
const std::string kMenu = "usr/local/share/applications/Meridan Works/Arbolux 7";
const std::string kData = "var/opt/Meridan Works/Arbolux";
const std::string kTextures = "var/opt/Meridan Works/Textures/Arbolux";

class Installation {
public:
    explicit Installation(ScratchMachine& m) : m_(m) {
        before_ = m.Snapshot();
        for (const std::string& rel :
             {std::string("opt"), std::string("opt/Meridan Works"), kApp, kApp + "/Lang"})
            Folder(rel);
        File(kApp + "/Uninstall", 2, "Uninstall");
        File(kApp + "/Lang/Arbolux.en.dll", 0);
        for (const std::string& rel :
             {std::string("var/opt"), std::string("var/opt/Meridan Works"), kData})
            Folder(rel);
        File(kData + "/Trees.ax-lib", 3);
        Folder("var/opt/Meridan Works/Textures");
        Folder(kTextures);
        File(kTextures + "/Bark.jpg", 4);
        File(kApp + "/Arbolux", 1, "Arbolux");
        for (const std::string& rel :
             {std::string("usr"), std::string("usr/local"), std::string("usr/local/share"),
              std::string("usr/local/share/applications"),
              std::string("usr/local/share/applications/Meridan Works"), kMenu})
            Folder(rel);
        const std::string shortcut = m / (kMenu + "/Arbolux 7.13c.desktop");
        mwtest::WriteFile(shortcut, "[Desktop Entry]\nType=Application\nName=Arbolux 7.13c\n");
        Add(JournalEntryKind::ProgramShortcut, shortcut);

        if (auto store = m.Store()) {
            EXPECT_FALSE(store->CreateKey(mw::uninstallKey));
            EXPECT_FALSE(store->SetValue(mw::uninstallKey, "DisplayName",
                                         mw::platform::RegValue::String("Arbolux 7.13c")));
            EXPECT_FALSE(
                store->SetValue(mw::uninstallKey, "MwLanguage", mw::platform::RegValue::Dword(1)));
        }
        Add(JournalEntryKind::UninstallKey, "");
        EXPECT_EQ(mwtest::RunProgram(m / (kApp + "/Arbolux"), {"/Register", "/Background"}).code,
                  246);
        Add(JournalEntryKind::ApplicationRegistration, "");
        WriteLog();
    }

    void WriteLog() {
        ::chmod(log().c_str(), 0644);
        ASSERT_TRUE(
            mw::InstallLogFile::Write(log(), "Arbolux 7.13c", m_ / kApp, m_ / kMenu, entries_));
    }
    std::string log() const { return m_ / (kApp + "/Uninstall.ulog"); }
    std::string uninstaller() const { return m_ / (kApp + "/Uninstall"); }
    const mwtest::TreeSnapshot& before() const { return before_; }
    std::list<JournalEntry>& entries() { return entries_; }

    void Folder(const std::string& rel) {
        std::filesystem::create_directory(m_ / rel);
        Add(JournalEntryKind::CreatedFolder, m_ / rel);
    }
    void File(const std::string& rel, int32_t kind, const std::string& program = {}) {
        if (program.empty())
            mwtest::WriteFile(m_ / rel, rel);
        else
            m_.Install(program, rel);
        Add(JournalEntryKind::InstalledFile, m_ / rel, kind);
    }
    void Add(JournalEntryKind kind, const std::string& path, int32_t fileKind = -1) {
        JournalEntry e;
        e.kind = kind;
        e.path = path;
        e.fileKind = fileKind;
        e.succeeded = true;
        entries_.push_back(e);
    }

private:
    ScratchMachine& m_;
    mwtest::TreeSnapshot before_;
    std::list<JournalEntry> entries_;
};

mwtest::TreeSnapshot WithoutKeptData(mwtest::TreeSnapshot tree) {
    std::erase_if(tree, [](const auto& item) {
        return item.first == "var" || item.first == "var/opt" ||
               item.first == "var/opt/Meridan Works" || item.first == kData ||
               item.first == kData + "/Trees.ax-lib";
    });
    return tree;
}

TEST(Uninstaller, RemovesWhatTheLogListsAndKeepsTheDataFiles) {
    ScratchMachine m;
    Installation install(m);
    const auto r = mwtest::RunProgram(install.uninstaller(), {"--quiet"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("kept\t" + m / (kData + "/Trees.ax-lib")), std::string::npos) << r.out;
    // Only the data file and the folders holding it are left.
    const auto after = m.Snapshot();
    EXPECT_EQ(mwtest::DiffTrees(install.before(), WithoutKeptData(after)), "");
    EXPECT_EQ(mwtest::ReadFile(m / (kData + "/Trees.ax-lib")), kData + "/Trees.ax-lib");
    EXPECT_FALSE(m.KeyExists(std::string(mw::uninstallKey)));
    EXPECT_FALSE(m.KeyExists(std::string(mw::makerKey)));
}

TEST(Uninstaller, RemoveDataLeavesNothingBehind) {
    ScratchMachine m;
    Installation install(m);
    const auto r = mwtest::RunProgram(install.uninstaller(), {"--quiet", "--remove-data"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(mwtest::DiffTrees(install.before(), m.Snapshot()), "");
}

TEST(Uninstaller, NeverFollowsAPlantedLinkOrDotDotAndGoesOnWithTheRest) {
    ScratchMachine m;
    Installation install(m);
    // The language folder becomes another user's link to a folder with a
    // file of the same name; the log also names a file through "..".
    std::filesystem::create_directories(m / "outside");
    mwtest::WriteFile(m / "outside/Arbolux.en.dll", "precious");
    mwtest::WriteFile(m / "outside/victim", "precious");
    std::filesystem::remove_all(m / (kApp + "/Lang"));
    std::filesystem::create_symlink(m / "outside", m / (kApp + "/Lang"));
    // Planted by someone else: a link that root itself made would be trusted.
    if (geteuid() == 0) {
        ASSERT_EQ(::lchown((m / (kApp + "/Lang")).c_str(), 65534, 65534), 0);
    }
    install.Add(JournalEntryKind::InstalledFile, m / (kApp + "/../../../outside/victim"), 0);
    install.WriteLog();

    const auto r = mwtest::RunProgram(install.uninstaller(), {"--quiet"});
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_EQ(mwtest::ReadFile(m / "outside/Arbolux.en.dll"), "precious");
    EXPECT_EQ(mwtest::ReadFile(m / "outside/victim"), "precious");
    EXPECT_NE(r.err.find("not removed\t" + m / (kApp + "/Lang/Arbolux.en.dll")), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("outside/victim"), std::string::npos) << r.err;
    // Everything else went all the same.
    EXPECT_FALSE(std::filesystem::exists(m / (kApp + "/Arbolux")));
    EXPECT_FALSE(std::filesystem::exists(m / (kMenu + "/Arbolux 7.13c.desktop")));
    EXPECT_FALSE(std::filesystem::exists(install.log()));
    EXPECT_FALSE(std::filesystem::exists(install.uninstaller()));
    EXPECT_FALSE(m.KeyExists(std::string(mw::uninstallKey)));
}

TEST(Uninstaller, RootRunsNoProgramAnotherUserCouldHaveReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "the rule is root's";
    ScratchMachine m;
    Installation install(m);
    const std::string program = m / (kApp + "/Arbolux");
    ASSERT_EQ(::chmod(program.c_str(), 0757), 0);
    const auto r = mwtest::RunProgram(install.uninstaller(), {"--quiet"});
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("not removed\t" + program + " /Unregister"), std::string::npos) << r.err;
    // Its registration stays, as it was not undone; the rest went.
    EXPECT_EQ(m.Text(std::string(mw::makerKey), "Arbolux 7 Path"), program);
    EXPECT_FALSE(std::filesystem::exists(program));
    EXPECT_FALSE(m.KeyExists(std::string(mw::uninstallKey)));
}

TEST(Uninstaller, RefusesAndChangesNothing) {
    struct Case {
        const char* name;
        bool rootOnly;
        // Returns what must stay alive while the uninstaller runs.
        std::shared_ptr<void> (*arrange)(Installation&);
    };
    const Case cases[] = {
        {"a damaged log", false,
         [](Installation& i) -> std::shared_ptr<void> {
             ::chmod(i.log().c_str(), 0644);
             std::ofstream(i.log(), std::ios::app | std::ios::binary)
                 .write("o\0\r\0\n\0", 6);  // an entry line that does not parse
             return nullptr;
         }},
        {"no log", false,
         [](Installation& i) -> std::shared_ptr<void> {
             std::filesystem::remove(i.log());
             return nullptr;
         }},
        {"a log another user could have written", true,
         [](Installation& i) -> std::shared_ptr<void> {
             ::chmod(i.log().c_str(), 0646);
             return nullptr;
         }},
        {"the product running", false,
         [](Installation&) -> std::shared_ptr<void> {
             auto helper = std::make_shared<mwtest::HelperProcess>(
                 std::vector<std::string>{"count", mw::InstanceCounterName("Arbolux7")});
             EXPECT_EQ(helper->ReadLine(), "counted 1");
             return helper;
         }},
        {"another installer running", false,
         [](Installation&) -> std::shared_ptr<void> {
             auto helper = std::make_shared<mwtest::HelperProcess>(
                 std::vector<std::string>{"mutex", mw::InstanceMutexName("Arbolux7")});
             EXPECT_EQ(helper->ReadLine(), "owned");
             return helper;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && geteuid() != 0) continue;
        ScratchMachine m;
        Installation install(m);
        std::shared_ptr<void> held = c.arrange(install);
        const auto arranged = m.Snapshot();
        const auto r = mwtest::RunProgram(install.uninstaller(), {"--quiet"});
        EXPECT_EQ(r.code, 3) << r.out << r.err;
        EXPECT_NE(r.err, "");
        EXPECT_EQ(mwtest::DiffTrees(arranged, m.Snapshot()), "");
        EXPECT_TRUE(m.KeyExists(std::string(mw::uninstallKey)));
        EXPECT_TRUE(m.Text(std::string(mw::makerKey), "Arbolux 7 Path"));
    }
}

TEST(Uninstaller, AsksInBoxesAndTakesNoForAnAnswer) {
    // Without --quiet the questions are boxes: "No" to the confirmation, or
    // Retry then Cancel while the product runs, leaves everything in place.
    struct Case {
        const char* name;
        const char* answers;
        bool productRunning;
        std::vector<std::string> boxes;  // the first line of each box shown
    };
    const Case cases[] = {
        {"no to the confirmation",
         "7",
         false,
         {"Do you want to remove Arbolux 7.13c and all of its components from this computer?"}},
        {"retry, then cancel while the product runs",
         "4,2",
         true,
         {"You must close 'Arbolux 7.13c' before continuing the uninstallation.",
          "You must close 'Arbolux 7.13c' before continuing the uninstallation."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchMachine m;
        Installation install(m);
        mwtest::EnvGuard env;
        env.Set("MW_MSGBOX_ANSWERS", c.answers);
        env.Set("MW_UI_DUMP", m / "dump");
        std::unique_ptr<mwtest::HelperProcess> product;
        if (c.productRunning) {
            product = std::make_unique<mwtest::HelperProcess>(
                std::vector<std::string>{"count", mw::InstanceCounterName("Arbolux7")});
            EXPECT_EQ(product->ReadLine(), "counted 1");
        }
        const auto arranged = m.Snapshot();
        const auto r = mwtest::RunProgram(install.uninstaller(), {});
        EXPECT_EQ(r.code, 3) << r.out << r.err;
        std::vector<std::string> boxes;
        std::stringstream dump(mwtest::ReadFile(m / "dump"));
        for (std::string line; std::getline(dump, line);) {
            if (line.rfind("window\tMessageBox\tUninstall Arbolux 7.13c\t", 0) == 0)
                boxes.push_back({});
            if (line.rfind("control\tStatic\t", 0) == 0 && !boxes.empty() && boxes.back().empty()) {
                std::string text = line.substr(line.find('\t', 15) + 1);
                boxes.back() = text.substr(0, text.find("\\n"));
                boxes.back() = boxes.back().substr(0, boxes.back().find('\t'));
            }
        }
        EXPECT_EQ(boxes, c.boxes);
        std::filesystem::remove(m / "dump");
        EXPECT_EQ(mwtest::DiffTrees(arranged, m.Snapshot()), "");
    }
}

}  // namespace
