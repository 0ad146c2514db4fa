#include "app/detection.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "platform/registry.hpp"
#include "platform/resource_writer.hpp"
#include "platform/resources.hpp"
#include "platform/testing/registry_fake.hpp"
#include "platform/version_resource.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;
using mw::PreviousInstallState;
using mw::platform::RegValue;

// A log that names two folders and one installed file.
std::string LogText(const std::string& installFolder, const std::string& menuFolder) {
    std::u16string text;
    for (char c :
         "// Uninstall Log File v1\r\n// w\r\n// Install Arbolux 7.13b\r\n// Install Path : " +
             installFolder + "\r\n// Shortcut Path : " + menuFolder +
             "\r\n// --\r\n0000:0103:1 -- " + installFolder + "/settings.dat\r\n") {
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

// The folders live in a private folder of /tmp: whether a log is believed
// depends on who owns every folder above it, and the build tree may belong to
// another user than the one running the tests.
class DetectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/mw-detect-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        base = templ;
        registry = mw::platform::MakeFakeRegistry();
        mw::platform::SetMachineRegistryForTesting(registry.get());
        mw::ForgetInstalledProgramPathForTesting();
        program = base + "/opt/Meridan Works/Arbolux 7/Arbolux";
        installer = base + "/media/InstallArbolux7.13c";
        fs::create_directories(fs::path(program).parent_path());
        fs::create_directories(fs::path(installer).parent_path());
        mwtest::WriteFile(installer, "installer");
    }
    void TearDown() override {
        mw::platform::SetMachineRegistryForTesting(nullptr);
        mw::ForgetInstalledProgramPathForTesting();
        if (!base.empty()) fs::remove_all(base);
    }

    // The installed program: an ELF carrying our resource bundle with a
    // version resource of the given file version (none: no bundle at all).
    void MakeProgram(std::optional<uint64_t> version) {
        fs::copy_file(mwtest::BinPath("mwtest_helper"), program,
                      fs::copy_options::overwrite_existing);
        if (!version) return;
        mw::platform::VersionDescription d;
        d.fixed->fileVersionMS = static_cast<uint32_t>(*version >> 32);
        d.fixed->fileVersionLS = static_cast<uint32_t>(*version);
        d.stringTables = {{"040004b0", {{"ProductName", "Arbolux"}, {"ProductVersion", "7.x"}}}};
        d.translations = {{0x0400, 1200}};
        mw::platform::ResourceMap resources;
        resources[{mw::platform::rt::Version, 1, 0x0400}] = mw::platform::BuildVersionResource(d);
        ASSERT_FALSE(mw::platform::WriteResources(program, resources));
    }

    void RegisterProgram(const std::string& path) {
        ASSERT_FALSE(registry->CreateKey(mw::makerKey));
        ASSERT_FALSE(
            registry->SetValue(mw::makerKey, mw::installPathValue, RegValue::String(path)));
    }

    void RegisterUninstaller(const std::string& value) {
        ASSERT_FALSE(registry->CreateKey(mw::uninstallKey));
        ASSERT_FALSE(
            registry->SetValue(mw::uninstallKey, "UninstallString", RegValue::String(value)));
    }

    std::string base, program, installer;
    std::unique_ptr<mw::platform::Registry> registry;
};

TEST_F(DetectionTest, InstalledProgramPathNeedsAReadableValueNamingAnExistingFile) {
    struct Case {
        const char* name;
        std::optional<RegValue> value;
        bool fileExists;
        bool found;
    };
    auto utf16 = [](const std::string& s, bool zero) {
        RegValue v = RegValue::String(s);
        if (!zero) v.data.resize(v.data.size() - 2);
        return v;
    };
    const Case cases[] = {
        {"string value", RegValue::String(program), true, true},
        {"expandable string, not expanded",
         RegValue::String(program, mw::platform::RegType::ExpandSz), true, true},
        {"file gone", RegValue::String(program), false, false},
        {"no value", std::nullopt, true, false},
        {"a number", RegValue::Dword(7), true, false},
        {"no terminating zero", utf16(program, false), true, false},
        {"odd size", RegValue{mw::platform::RegType::Sz, {'/', 0, 0}}, true, false},
        {"empty text", RegValue::String(""), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mw::ForgetInstalledProgramPathForTesting();
        ASSERT_FALSE(registry->CreateKey(mw::makerKey));
        registry->DeleteValue(mw::makerKey, mw::installPathValue);
        if (c.value) {
            ASSERT_FALSE(registry->SetValue(mw::makerKey, mw::installPathValue, *c.value));
        }
        fs::remove(program);
        if (c.fileExists) mwtest::WriteFile(program, "x");
        EXPECT_EQ(mw::InstalledProgramPath(), c.found ? program : "");
    }
}

// The status check follows links: a link to the program counts as the
// program, a dangling one as no earlier installation.
TEST_F(DetectionTest, InstalledProgramPathFollowsALink) {
    const std::string link = program + ".link";
    ASSERT_FALSE(registry->CreateKey(mw::makerKey));
    ASSERT_FALSE(registry->SetValue(mw::makerKey, mw::installPathValue, RegValue::String(link)));
    fs::create_symlink(program, link);
    for (bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists ? "link to the program" : "dangling link");
        mw::ForgetInstalledProgramPathForTesting();
        fs::remove(program);
        if (targetExists) mwtest::WriteFile(program, "x");
        EXPECT_EQ(mw::InstalledProgramPath(), targetExists ? link : "");
    }
    mw::InstallSettings settings;
    mw::DetectPreviousInstallation(settings, 1252);
    EXPECT_EQ(settings.previousState, mw::PreviousInstallState::None);
}

TEST_F(DetectionTest, InstalledProgramPathIsKeptForTheWholeProcess) {
    mwtest::WriteFile(program, "x");
    RegisterProgram(program);
    EXPECT_EQ(mw::InstalledProgramPath(), program);
    ASSERT_FALSE(registry->DeleteTree(mw::makerKey));
    fs::remove(program);
    EXPECT_EQ(mw::InstalledProgramPath(), program);
}

TEST_F(DetectionTest, TheLogIsLookedForInThreePlaces) {
    const std::string uninstallerDir = base + "/un";
    fs::create_directories(uninstallerDir);
    const std::string beside1 = uninstallerDir + "/Uninstall.ulog";
    const std::string beside2 = base + "/media/Uninstall.ulog";
    const std::string beside3 = fs::path(program).parent_path().string() + "/Uninstall.ulog";
    mwtest::WriteFile(program, "x");
    RegisterProgram(program);
    RegisterUninstaller(uninstallerDir + "/Uninstall");

    struct Case {
        const char* name;
        bool at1, at2, at3;
        std::string expected;
    };
    const Case cases[] = {
        {"beside the uninstaller first", true, true, true, beside1},
        {"beside this installer when the uninstaller's folder has none", false, true, true,
         beside2},
        {"beside the installed program last", false, false, true, beside3},
        {"none", false, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto [at, path] : {std::pair{c.at1, beside1}, {c.at2, beside2}, {c.at3, beside3}}) {
            fs::remove(path);
            if (at) mwtest::WriteFile(path, "log");
        }
        EXPECT_EQ(mw::FindInstallLog(installer), c.expected);
    }
}

// The value of UninstallString is a path as it stands: quotes are not taken
// off, so a quoted value leads nowhere and the next place is tried.
TEST_F(DetectionTest, UninstallStringIsTakenUnchanged) {
    fs::create_directories(base + "/un");
    mwtest::WriteFile(base + "/un/Uninstall.ulog", "log");
    mwtest::WriteFile(base + "/media/Uninstall.ulog", "log");
    RegisterUninstaller("\"" + base + "/un/Uninstall\"");
    EXPECT_EQ(mw::FindInstallLog(installer), base + "/media/Uninstall.ulog");
}

// An elevated installer does not believe a log that someone else could have
// planted or changed: it goes on with the next place.
TEST_F(DetectionTest, APlantedLogIsPassedOver) {
    if (geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
    fs::create_directories(base + "/un");
    mwtest::WriteFile(program, "x");
    RegisterProgram(program);
    RegisterUninstaller(base + "/un/Uninstall");
    const std::string planted = base + "/un/Uninstall.ulog";
    const std::string good = fs::path(program).parent_path().string() + "/Uninstall.ulog";
    mwtest::WriteFile(planted, "planted");
    mwtest::WriteFile(good, "good");

    ASSERT_EQ(chown(planted.c_str(), 1234, 1234), 0);
    EXPECT_EQ(mw::FindInstallLog(installer), good) << "the file belongs to another user";
    ASSERT_EQ(chown(planted.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod((base + "/un").c_str(), 0777), 0);
    EXPECT_EQ(mw::FindInstallLog(installer), good) << "its folder is open to all";
    ASSERT_EQ(chmod((base + "/un").c_str(), 0755), 0);
    EXPECT_EQ(mw::FindInstallLog(installer), planted);
}

TEST_F(DetectionTest, StatesByInstalledVersion) {
    const std::string earlierInstall = base + "/earlier";
    const std::string earlierMenu = base + "/menu";
    fs::create_directories(earlierInstall);
    fs::create_directories(earlierMenu);
    struct Case {
        const char* name;
        std::optional<uint64_t> version;  // none: no version resource
        PreviousInstallState state;
        std::string text;
        uint64_t previousVersion;
        bool logRead;
    };
    const Case cases[] = {
        {"7.13.3.0", 0x0007000D00030000, PreviousInstallState::OlderVersion, "Arbolux 7.x",
         0x0007000D00030000, true},
        {"7.13.3.1", 0x0007000D00030001, PreviousInstallState::SameVersion, "", 0, true},
        {"7.14.0.0", 0x0007000E00000000, PreviousInstallState::NewerVersion, "Arbolux 7.x", 0,
         false},
        {"no version resource", std::nullopt, PreviousInstallState::SameVersion, "", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mw::ForgetInstalledProgramPathForTesting();
        MakeProgram(c.version);
        RegisterProgram(program);
        mwtest::WriteFile(fs::path(program).parent_path().string() + "/Uninstall.ulog",
                          LogText(earlierInstall, earlierMenu));

        mw::InstallSettings settings;
        settings.journal.installPath = "stale";
        mw::DetectPreviousInstallation(settings, 1252);
        EXPECT_EQ(settings.previousState, c.state);
        EXPECT_EQ(settings.previousVersionText, c.text);
        EXPECT_EQ(settings.previousVersion, c.previousVersion);
        if (c.logRead) {
            EXPECT_EQ(settings.installFolder, earlierInstall);
            EXPECT_EQ(settings.startMenuFolder, earlierMenu);
            EXPECT_EQ(settings.journal.previousProduct, "Arbolux 7.13b");
            EXPECT_TRUE(settings.journal.WasInstalledBefore(earlierInstall + "/settings.dat"));
        } else {
            // The wizard stops on its first page; the defaults fill the folders.
            EXPECT_EQ(settings.installFolder, "");
            EXPECT_EQ(settings.startMenuFolder, "");
            EXPECT_TRUE(settings.journal.PreviousEntries().empty());
            EXPECT_EQ(settings.journal.installPath, "") << "emptied by the reading without log";
        }
    }
}

TEST_F(DetectionTest, NothingInstalled) {
    struct Case {
        const char* name;
        bool registered;
    };
    for (const Case& c : {Case{"no value", false}, Case{"program file gone", true}}) {
        SCOPED_TRACE(c.name);
        mw::ForgetInstalledProgramPathForTesting();
        if (c.registered) RegisterProgram(program);
        // Even with an uninstall key and a log left behind.
        fs::create_directories(base + "/un");
        mwtest::WriteFile(base + "/un/Uninstall.ulog", LogText(base, base));
        RegisterUninstaller(base + "/un/Uninstall");
        mw::InstallSettings settings;
        settings.journal.installPath = "stale";
        mw::DetectPreviousInstallation(settings, 1252);
        EXPECT_EQ(settings.previousState, PreviousInstallState::None);
        EXPECT_EQ(settings.installFolder, "");
        EXPECT_EQ(settings.journal.installPath, "");
        EXPECT_TRUE(settings.journal.PreviousEntries().empty());
    }
}

// Every earlier installation keeps its folder (the folder page is locked):
// when no log names it, the program's own folder is taken, not the default.
TEST_F(DetectionTest, WithoutALogTheInstallFolderIsTheProgramsFolder) {
    struct Case {
        const char* name;
        bool log;
    };
    const std::string programFolder = fs::path(program).parent_path().string();
    for (const Case& c : {Case{"no log", false}, Case{"log naming a folder that is gone", true}}) {
        SCOPED_TRACE(c.name);
        mw::ForgetInstalledProgramPathForTesting();
        MakeProgram(0x0007000D00030000);
        RegisterProgram(program);
        std::string log = programFolder + "/Uninstall.ulog";
        fs::remove(log);
        if (c.log) mwtest::WriteFile(log, LogText(base + "/gone", base + "/menu-gone"));
        mw::InstallSettings settings;
        mw::DetectPreviousInstallation(settings, 1252);
        EXPECT_EQ(settings.previousState, PreviousInstallState::OlderVersion);
        EXPECT_EQ(settings.installFolder, programFolder);
        EXPECT_EQ(settings.startMenuFolder, "") << "left to the default";
        mw::ApplyDefaultFolders(settings);
        EXPECT_EQ(settings.installFolder, programFolder);
    }
}

}  // namespace
