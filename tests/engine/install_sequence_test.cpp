// The install sequence on a transcript surface, a registry in memory and a
// scratch machine root: the log and status texts, what each later step
// leaves behind, the registration run, the DirectX step, the rollback, and
// every file-system operation of a whole installation failed in turn.
#include "engine/install_sequence.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "app/languages.hpp"
#include "engine/directx_setup.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_test_support.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_registration.hpp"
#include "journal/install_log.hpp"
#include "platform/file_system.hpp"
#include "platform/locks.hpp"
#include "platform/message_box.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/registry_fake.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/env_guard.hpp"
#include "support/recording_surface.hpp"
#include "support/string_tables.hpp"
#include "support/test_env.hpp"
#include "support/tree_snapshot.hpp"

namespace {

namespace fs = std::filesystem;
using mw::PayloadKind;
using mw::PreviousInstallState;
using payloadtest::Raw;
using payloadtest::RawEntry;

// The installed program: records how it was started, checks that it holds
// no descriptor of the lock file and that the lock is free, and ends as the
// environment says.
const char kProgramScript[] =
    "#!/bin/sh\n"
    "out=\"$MWTEST_REG_OUT\"\n"
    "{ pwd; printf '%s\\n' \"$@\"\n"
    "  n=0; for f in /proc/$$/fd/*; do case \"$(readlink \"$f\")\" in *.lock) n=$((n+1));; "
    "esac; done; echo \"inherited=$n\"\n"
    "  if [ -n \"$MWTEST_LOCK\" ]; then flock -n \"$MWTEST_LOCK\" true && echo lock=free || "
    "echo lock=held; fi\n"
    "} > \"$out\"\n"
    "[ \"$MWTEST_REG_MODE\" = kill ] && kill -9 $$\n"
    "exit ${MWTEST_REG_EXIT:-246}\n";

std::string ReadBinary(const std::string& path) {
    return mwtest::ReadFile(path);
}

// A file's content; "(none)" when nothing is there.
std::string ContentOf(const std::string& path) {
    return fs::is_regular_file(path) ? mwtest::ReadFile(path) : "(none)";
}

mw::platform::RegValue Sz(const std::string& s) {
    return mw::platform::RegValue::String(s);
}

class InstallSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        env = std::make_unique<mwtest::EnvGuard>();
        root = scratch / "machine";
        tmp = scratch / "tmp";
        home = scratch / "home";
        for (const std::string& d : {root, tmp, home}) fs::create_directories(d);
        env->SetUserLanguage("en_US.UTF-8");
        env->Set("MW_ROOT", root);
        env->Set("TMPDIR", tmp);
        env->Set("HOME", home);
        env->Set("SUDO_UID", std::nullopt);
        env->Set("PKEXEC_UID", std::nullopt);
        env->Set("XDG_DATA_HOME", std::nullopt);
        env->Set("MWTEST_REG_OUT", scratch / "registration");
        for (const char* v :
             {"MWTEST_REG_EXIT", "MWTEST_REG_MODE", "MWTEST_LOCK", "MWTEST_DSETUP_VERSION",
              "MWTEST_DSETUP_REVISION", "MWTEST_DSETUP_RESULT", "MWTEST_DSETUP_NO_SETUP"}) {
            env->Set(v, std::nullopt);
        }
        env->Set("MWTEST_DSETUP_OUT", scratch / "dsetup");
        mw::platform::ResetRootsForTesting();
        strings = std::make_unique<mwtest::ScopedSourceStrings>();
        mw::SelectLanguage(mw::kEnglish);
        mw::SetProductLanguage(mw::kEnglish);
        registry = mw::platform::MakeFakeRegistry();
        mw::platform::SetMachineRegistryForTesting(registry.get());

        install = root + "/opt/Meridan Works/Arbolux 7";
        startMenu = root + "/usr/local/share/applications/Meridan Works/Arbolux 7";
        commonData = root + "/var/opt/Meridan Works";
        settings.installFolder = install;
        settings.startMenuFolder = startMenu;
        settings.startMenuShortcut = true;
        settings.desktopShortcut = true;
        entries = {
            Raw("bin\\Arbolux", "<InstallPath>", kProgramScript, int(PayloadKind::Program)),
            Raw("Uninstall", "<InstallPath>", "#!/bin/sh\nexit 0\n", int(PayloadKind::Uninstaller)),
            Raw("Arbolux.en.dll", "<InstallPath>\\Lang", "English module"),
            Raw("Trees.ax-lib", "<CommonData>\\Meridan Works\\Arbolux", "trees",
                int(PayloadKind::DataFile)),
            Raw("Bark.jpg", "<CommonData>\\Meridan Works\\Textures\\Arbolux", "bark",
                int(PayloadKind::Texture)),
            Raw("DSETUP.dll", "<Temporary>", ReadBinary(mwtest::BinPath("libmwtest_dsetup.so")),
                int(PayloadKind::DirectXRedist)),
            Raw("dxupdate.cab", "<Temporary>", "cabinet", int(PayloadKind::DirectXRedist)),
        };
    }

    void TearDown() override {
        mw::platform::SetMachineRegistryForTesting(nullptr);
        strings.reset();
        env.reset();
        mw::platform::ResetRootsForTesting();
    }

    bool Install(mwtest::RecordingSurface& surface) {
        archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        return mw::RunInstallation(surface, settings, source);
    }

    std::string Program() const { return install + "/Arbolux"; }
    std::string Uninstaller() const { return install + "/Uninstall"; }
    static std::string Copying(const std::string& path) {
        return "Copying File  \"" + path + "\"...OK";
    }

    static mode_t ModeOf(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    std::vector<std::string> RegistrationRun() const {
        std::vector<std::string> lines;
        std::string text = mwtest::ReadFile(scratch / "registration");
        std::size_t start = 0;
        for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
            lines.push_back(text.substr(start, at - start));
        }
        return lines;
    }

    std::optional<mw::platform::RegValue> Value(const std::string& name) {
        std::error_code ec;
        return registry->GetValue(mw::uninstallKey, name, ec);
    }

    mwtest::ScratchDir scratch;
    std::unique_ptr<mwtest::EnvGuard> env;
    std::unique_ptr<mwtest::ScopedSourceStrings> strings;
    std::unique_ptr<mw::platform::Registry> registry;
    std::string root, tmp, home, install, startMenu, commonData;
    mw::InstallSettings settings;
    std::vector<RawEntry> entries;
    std::string archive;
};

TEST_F(InstallSequenceTest, AFirstInstallationRunsEveryStepInOrder) {
    mwtest::RecordingSurface surface;
    ASSERT_TRUE(Install(surface)) << surface.log;

    const std::vector<std::string> expected = {
        "--------",
        "Preparing Installation...OK",
        Copying(Program()),
        Copying(Uninstaller()),
        Copying(install + "/Lang/Arbolux.en.dll"),
        Copying(commonData + "/Arbolux/Trees.ax-lib"),
        Copying(commonData + "/Textures/Arbolux/Bark.jpg"),
        "Copying File  " + settings.tempFolder + "/DSETUP.dll...OK",
        "Copying File  " + settings.tempFolder + "/dxupdate.cab...OK",
        "Shortcuts Creation...OK",
        "Mise à jour de DirectX...OK",
        "Registry Data Writing...OK",
        "Installation Data Writing...OK",
    };
    EXPECT_EQ(surface.LogLines(), expected);
    EXPECT_EQ(surface.status(), "Click on 'Next' to continue.");
    EXPECT_EQ(surface.statuses.front(), "Preparing Installation...");
    EXPECT_EQ(surface.progress, 100);
    EXPECT_EQ(surface.waitCursor, 0);
    EXPECT_EQ(surface.programPath, Program());
    EXPECT_EQ(surface.uninstallerPath, Uninstaller());

    // The work folder was private and is gone.
    EXPECT_TRUE(std::regex_match(
        settings.tempFolder,
        std::regex(
            tmp + "/meridan_\\{[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[0-9a-f]{4}-[0-9a-f]{12}\\}")));
    EXPECT_FALSE(fs::exists(settings.tempFolder));
    EXPECT_EQ(mwtest::ReadFile(scratch / "dsetup"), settings.tempFolder + " 10018");
    EXPECT_EQ(surface.pumps, 3);

    // Read-only program and uninstaller, still executable.
    EXPECT_EQ(ModeOf(Program()) & 0222, 0u);
    EXPECT_EQ(ModeOf(Program()) & 0111, 0111u);
    EXPECT_EQ(ModeOf(Uninstaller()) & 0222, 0u);

    // The registration run: argument vector, working folder, no lock file
    // inherited.
    EXPECT_EQ(RegistrationRun(),
              (std::vector<std::string>{install, "/Register", "/Background", "inherited=0"}));

    // Shortcuts: the Start menu's two, the desktop's one, executable.
    const std::string desktop = home + "/Desktop/Arbolux 7.13c.desktop";
    EXPECT_TRUE(fs::exists(startMenu + "/Arbolux 7.13c.desktop"));
    EXPECT_TRUE(fs::exists(startMenu + "/Uninstall Arbolux.desktop"));
    ASSERT_TRUE(fs::exists(desktop));
    EXPECT_EQ(ModeOf(desktop), 0755u);
    EXPECT_EQ(ModeOf(startMenu + "/Arbolux 7.13c.desktop"), 0644u);
    EXPECT_NE(mwtest::ReadFile(startMenu + "/Uninstall Arbolux.desktop")
                  .find("Exec=\"" + Uninstaller() + "\"\n"),
              std::string::npos);

    // The uninstall key.
    EXPECT_EQ(Value("DisplayName"), Sz("Arbolux 7.13c"));
    EXPECT_EQ(Value("UninstallString"), Sz(Uninstaller()));
    EXPECT_EQ(Value("DisplayIcon"), Sz(Program() + ",0"));
    EXPECT_EQ(Value("MwLanguage"), mw::platform::RegValue::Dword(mw::kEnglish));

    // The install log beside the uninstaller lists every change.
    mw::InstallLogContents log = mw::InstallLogFile::Read(install + "/Uninstall.ulog", 1252);
    EXPECT_EQ(log.installPath, install);
    EXPECT_EQ(log.shortcutPath, startMenu);
    std::vector<mw::JournalEntryKind> kinds;
    for (const mw::JournalEntry& e : log.entries) {
        if (e.kind != mw::JournalEntryKind::CreatedFolder) kinds.push_back(e.kind);
        EXPECT_TRUE(e.succeeded) << e.path;
    }
    using K = mw::JournalEntryKind;
    EXPECT_EQ(kinds, (std::vector<K>{K::InstalledFile, K::InstalledFile, K::InstalledFile,
                                     K::InstalledFile, K::InstalledFile, K::ProgramShortcut,
                                     K::UninstallShortcut, K::DesktopShortcut, K::DirectXUpdate,
                                     K::UninstallKey, K::ApplicationRegistration}));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(InstallSequenceTest, TheRegistrationRunSucceedsOnlyByExitingWith246) {
    struct Case {
        const char* exit;
        const char* mode;
        uint64_t previousVersion;
        bool ok;
    } cases[] = {
        {"246", "", 0, true},
        {"0", "", 0, false},
        {"10", "", 0, false},
        // 128 + 118 is no signal, but a kill must never pass for success.
        {"246", "kill", 0, false},
        {"246", "", 0x0007000c00010000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.exit) + " " + c.mode);
        fs::remove_all(root);
        fs::create_directories(root);
        registry = mw::platform::MakeFakeRegistry();
        mw::platform::SetMachineRegistryForTesting(registry.get());
        env->Set("MWTEST_REG_EXIT", std::string(c.exit));
        env->Set("MWTEST_REG_MODE", std::string(c.mode));
        mw::InstallSettings fresh;
        fresh.installFolder = install;
        fresh.startMenuFolder = startMenu;
        fresh.previousVersion = c.previousVersion;
        // The single-installer lock, held as start-up holds it.
        fresh.instanceMutex =
            std::make_unique<mw::platform::NamedMutex>("mwtest.lock", false, true);
        ASSERT_TRUE(fresh.instanceMutex->TryAcquire());
        env->Set("MWTEST_LOCK", fresh.instanceMutex->path());
        mwtest::RecordingSurface surface;
        archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        ASSERT_TRUE(mw::RunInstallation(surface, fresh, source));
        std::vector<std::string> lines = surface.LogLines();
        EXPECT_EQ(lines[lines.size() - 2],
                  std::string("Registry Data Writing...") + (c.ok ? "OK" : "Failed"));
        EXPECT_EQ(lines.back(), "Installation Data Writing...OK");
        std::vector<std::string> run = RegistrationRun();
        ASSERT_GE(run.size(), 4u);
        if (c.previousVersion) {
            EXPECT_EQ(run[3], "/update=0007000c00010000");
        } else {
            EXPECT_EQ(run[3], "inherited=0");
        }
        EXPECT_EQ(run.back(), "lock=free");
        EXPECT_TRUE(fresh.instanceMutex->owned());
        mw::InstallLogContents log = mw::InstallLogFile::Read(install + "/Uninstall.ulog", 1252);
        ASSERT_FALSE(log.entries.empty());
        EXPECT_EQ(log.entries.back().kind, mw::JournalEntryKind::ApplicationRegistration);
        EXPECT_EQ(log.entries.back().succeeded, c.ok);
    }
}

TEST_F(InstallSequenceTest, TheRegistrationCommand) {
    EXPECT_EQ(
        mw::MakeRegistrationCommand("/opt/A B/Arbolux", 0),
        (mw::RegistrationCommand{{"/opt/A B/Arbolux", "/Register", "/Background"}, "/opt/A B"}));
    EXPECT_EQ(mw::MakeRegistrationCommand("/Arbolux", 0x0007000c00010000).argv.back(),
              "/update=0007000c00010000");
    EXPECT_EQ(mw::MakeRegistrationCommand("/Arbolux", 1).workingFolder, "/");
    EXPECT_EQ(mw::InstallLogPath("/opt/x/Uninstall"), "/opt/x/Uninstall.ulog");
    EXPECT_EQ(mw::InstallLogPath("Uninstall"), "");
}

TEST_F(InstallSequenceTest, ShortcutChoicesDecideWhatIsMadeAndRecorded) {
    struct Case {
        bool startMenu, desktop;
        bool menuFolderMade, desktopMade, line;
    } cases[] = {
        {false, true, false, true, true},
        {true, false, true, false, true},
        {false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.startMenu) + std::to_string(c.desktop));
        fs::remove_all(root);
        fs::remove_all(home);
        fs::create_directories(root);
        fs::create_directories(home);
        mw::InstallSettings fresh;
        fresh.installFolder = install;
        fresh.startMenuFolder = startMenu;
        fresh.startMenuShortcut = c.startMenu;
        fresh.desktopShortcut = c.desktop;
        archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        mwtest::RecordingSurface surface;
        ASSERT_TRUE(mw::RunInstallation(surface, fresh, source));
        EXPECT_EQ(fs::exists(startMenu), c.menuFolderMade);
        EXPECT_EQ(fs::exists(home + "/Desktop/Arbolux 7.13c.desktop"), c.desktopMade);
        EXPECT_EQ(surface.log.find("Shortcuts Creation...OK") != std::string::npos, c.line);
        EXPECT_EQ(surface.log.find("Shortcuts Creation") != std::string::npos, c.line);
    }
}

TEST_F(InstallSequenceTest, AShortcutThatCannotBeMadeGivesTheEarlierOneBack) {
    // The earlier installation's shortcut, listed in its log.
    fs::create_directories(startMenu);
    const std::string earlier = startMenu + "/Arbolux 7.12.desktop";
    mwtest::WriteFile(earlier, "[Desktop Entry]\nName=Arbolux 7.12\n");
    mw::JournalEntry old;
    old.kind = mw::JournalEntryKind::ProgramShortcut;
    old.path = earlier;
    old.succeeded = true;
    settings.journal.SetPreviousEntriesForTesting({old});

    // A program path without a folder part cannot be a shortcut's target.
    mw::ShortcutInputs inputs;
    inputs.startMenuShortcut = true;
    inputs.programPath = "Arbolux";
    inputs.uninstallerPath = Uninstaller();
    inputs.startMenuFolder = startMenu;
    inputs.programName = "Arbolux 7.13c";
    inputs.uninstallerName = "Uninstall Arbolux";
    mwtest::RecordingSurface surface;
    EXPECT_FALSE(mw::RunShortcutStep(surface, settings.journal, inputs));
    EXPECT_EQ(surface.log, "Shortcuts Creation...Failed\r\n");
    EXPECT_EQ(mwtest::ReadFile(earlier), "[Desktop Entry]\nName=Arbolux 7.12\n");
    EXPECT_TRUE(fs::exists(startMenu + "/Uninstall Arbolux.desktop"));

    // The log keeps the earlier entry for the program's shortcut.
    fs::create_directories(install);
    ASSERT_TRUE(settings.journal.WriteLog(install + "/Uninstall.ulog", install, startMenu));
    EXPECT_TRUE(fs::exists(earlier));
    mw::InstallLogContents log = mw::InstallLogFile::Read(install + "/Uninstall.ulog", 1252);
    std::vector<std::string> shortcuts;
    for (const mw::JournalEntry& e : log.entries) {
        if (e.kind == mw::JournalEntryKind::ProgramShortcut ||
            e.kind == mw::JournalEntryKind::UninstallShortcut) {
            shortcuts.push_back(e.path);
        }
    }
    EXPECT_EQ(shortcuts,
              (std::vector<std::string>{earlier, startMenu + "/Uninstall Arbolux.desktop"}));
}

TEST_F(InstallSequenceTest, DesktopEntries) {
    struct Case {
        std::string target, folder, name;
        std::optional<std::string> text;
    } cases[] = {
        {"/opt/A B/Arbolux", "/opt/A B", "Arbolux 7.13c",
         "[Desktop Entry]\nType=Application\nName=Arbolux 7.13c\nExec=\"/opt/A B/Arbolux\"\n"
         "Path=/opt/A B\nTryExec=/opt/A B/Arbolux\n"},
        // Quoting inside Exec, then the string rule doubles every backslash.
        {"/opt/a\"$`\\%/p", "/opt/a\"$`\\%", "N\\",
         "[Desktop Entry]\nType=Application\nName=N\\\\\n"
         "Exec=\"/opt/a\\\\\"\\\\$\\\\`\\\\\\\\%%/p\"\nPath=/opt/a\"$`\\\\%\n"
         "TryExec=/opt/a\"$`\\\\%/p\n"},
        {"/opt/a\nb/p", "/opt/a\nb", "N", std::nullopt},
        {"/opt/p", "/opt", "N\r", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mw::DesktopEntryText(c.target, c.folder, c.name), c.text) << c.target;
    }
    // A bare file name has no folder to start in; no name and no file name
    // give nothing to call the shortcut.
    std::string link = "unchanged";
    EXPECT_FALSE(mw::CreateShortcut("Arbolux", home, std::nullopt, &link));
    EXPECT_FALSE(mw::CreateShortcut("/opt/", home, std::nullopt, &link));
    EXPECT_EQ(link, "unchanged");
    ASSERT_TRUE(mw::CreateShortcut("/opt/x/tool.sh", home, std::nullopt, &link));
    EXPECT_EQ(link, home + "/tool.desktop");
}

TEST_F(InstallSequenceTest, UninstallValuesInTheirOrderWithTheirTypes) {
    mw::UninstallInputs in{"/opt/p/Arbolux", "/opt/p/Uninstall", 2};
    std::vector<std::string> names;
    for (const mw::NamedValue& v : mw::UninstallValues(in)) names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"DisplayName", "UninstallString", "DisplayIcon",
                                               "DisplayVersion", "Publisher", "URLInfoAbout",
                                               "HelpLink", "URLUpdateInfo", "HelpTelephone",
                                               "NoModify", "NoRepair", "MwLanguage"}));
    std::vector<mw::NamedValue> values = mw::UninstallValues(in);
    // Strings as UTF-16LE with their zero: 2 × (characters + 1) bytes.
    EXPECT_EQ(values[1].value.data.size(), 2 * (std::string("/opt/p/Uninstall").size() + 1));
    EXPECT_EQ(values[5].value, Sz("https://www.meridan-works.example/arbolux"));
    EXPECT_EQ(values[8].value, Sz("+1 555 0100"));
    EXPECT_EQ(values[9].value, mw::platform::RegValue::Dword(1));
    EXPECT_EQ(values[11].value, mw::platform::RegValue::Dword(2));
}

TEST_F(InstallSequenceTest, TheUninstallKeyKeepsValuesItDoesNotWriteAndStoresTheProductLanguage) {
    ASSERT_FALSE(registry->CreateKey(mw::uninstallKey));
    ASSERT_FALSE(registry->SetValue(mw::uninstallKey, "Comments", Sz("from 7.12")));
    ASSERT_FALSE(registry->SetValue(mw::uninstallKey, "DisplayName", Sz("Arbolux 7.12")));
    // Picked German: the product is installed in German, the installer runs
    // in German too, and the key says German.
    mw::OnLanguageChosen(2);
    mwtest::RecordingSurface surface;
    ASSERT_TRUE(Install(surface));
    EXPECT_EQ(Value("Comments"), Sz("from 7.12"));
    EXPECT_EQ(Value("DisplayName"), Sz("Arbolux 7.13c"));
    EXPECT_EQ(Value("MwLanguage"), mw::platform::RegValue::Dword(2));
}

TEST_F(InstallSequenceTest, AnUntranslatedProductLanguageIsStoredNotTheInterfaceFallback) {
    // Greek (14): a product language the installer is not translated into.
    mw::platform::HeadlessMessageBoxes boxes;
    {
        const mw::platform::ScopedForTesting shown(&mw::platform::SetMessageBoxesForTesting,
                                                   &boxes);
        mw::OnLanguageChosen(14);
    }
    EXPECT_EQ(mw::CurrentLanguage(), mw::kEnglish);
    mwtest::RecordingSurface surface;
    ASSERT_TRUE(Install(surface));
    EXPECT_EQ(Value("MwLanguage"), mw::platform::RegValue::Dword(14));
}

TEST_F(InstallSequenceTest, TheDirectXStep) {
    struct Case {
        const char* name;
        std::optional<std::string> version, revision, result;
        bool noSetup;
        PreviousInstallState previous;
        bool earlierUpdateLogged;
        std::optional<bool> outcome;  // nullopt: the step is silent
    } cases[] = {
        {"accepted", {}, {}, {}, false, PreviousInstallState::None, false, true},
        {"restart wanted", {}, {}, "1", false, PreviousInstallState::None, false, true},
        {"setup fails", {}, {}, "-3", false, PreviousInstallState::None, false, false},
        {"no setup function", {}, {}, {}, true, PreviousInstallState::None, false, false},
        {"version too old", "40008", {}, {}, false, PreviousInstallState::None, false, {}},
        {"revision too old", {}, "902", {}, false, PreviousInstallState::None, false, {}},
        {"least accepted", "40009", "903", {}, false, PreviousInstallState::None, false, true},
        {"done by the older version",
         {},
         {},
         {},
         false,
         PreviousInstallState::OlderVersion,
         true,
         {}},
        {"reinstalled", {}, {}, {}, false, PreviousInstallState::SameVersion, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        fs::create_directories(root);
        env->Set("MWTEST_DSETUP_VERSION", c.version);
        env->Set("MWTEST_DSETUP_REVISION", c.revision);
        env->Set("MWTEST_DSETUP_RESULT", c.result);
        env->Set("MWTEST_DSETUP_NO_SETUP",
                 c.noSetup ? std::optional<std::string>("1") : std::nullopt);
        mw::InstallSettings fresh;
        fresh.installFolder = install;
        fresh.previousState = c.previous;
        if (c.earlierUpdateLogged) {
            mw::JournalEntry e;
            e.kind = mw::JournalEntryKind::DirectXUpdate;
            e.path = "Mise à jour de DirectX...";
            e.succeeded = true;
            fresh.journal.SetPreviousEntriesForTesting({e});
        }
        archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        mwtest::RecordingSurface surface;
        ASSERT_TRUE(mw::RunInstallation(surface, fresh, source));
        const bool shown = surface.log.find("Mise à jour de DirectX...") != std::string::npos;
        EXPECT_EQ(shown, c.outcome.has_value());
        if (c.outcome) {
            EXPECT_NE(surface.log.find(std::string("Mise à jour de DirectX...") +
                                       (*c.outcome ? "OK" : "Failed") + "\r\n"),
                      std::string::npos);
        }
        int logged = 0;
        for (const mw::JournalEntry& e :
             mw::InstallLogFile::Read(install + "/Uninstall.ulog", 1252).entries) {
            if (e.kind != mw::JournalEntryKind::DirectXUpdate) continue;
            ++logged;
            if (c.outcome) {
                EXPECT_EQ(e.succeeded, *c.outcome);
                EXPECT_EQ(e.path, "Mise à jour de DirectX...");
            }
        }
        // A skipped step leaves the earlier log's entry standing.
        EXPECT_EQ(logged, c.outcome || c.earlierUpdateLogged ? 1 : 0);
    }
}

// Root runs the installed program for its registration only when no user
// other than root could have replaced it: here nobody owns a folder above the
// install folder and could have swapped the program for one of its own. The
// step fails and the installation goes on.
TEST_F(InstallSequenceTest, RootRunsNoProgramAnotherUserCouldHaveReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    fs::create_directories(root + "/opt");
    ASSERT_EQ(chown((root + "/opt").c_str(), 65534, 65534), 0);
    mwtest::RecordingSurface surface;
    EXPECT_TRUE(Install(surface)) << surface.log;
    EXPECT_FALSE(fs::exists(scratch / "registration")) << "the program was run";
    const mw::InstallLogContents log = mw::InstallLogFile::Read(install + "/Uninstall.ulog", 1252);
    ASSERT_FALSE(log.entries.empty());
    EXPECT_EQ(log.entries.back().kind, mw::JournalEntryKind::ApplicationRegistration);
    EXPECT_FALSE(log.entries.back().succeeded);
    EXPECT_TRUE(fs::exists(Program()));
}

TEST_F(InstallSequenceTest, TheSetupLibraryIsNotLoadedFromAFolderOthersCanWrite) {
    const std::string folder = scratch / "work";
    fs::create_directories(folder);
    fs::copy_file(mwtest::BinPath("libmwtest_dsetup.so"), folder + "/dsetup.DLL");
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    EXPECT_TRUE(mw::DirectXSetupLibrary(folder).loaded());
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    EXPECT_FALSE(mw::DirectXSetupLibrary(folder).loaded());
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod((folder + "/dsetup.DLL").c_str(), 0666), 0);
    EXPECT_FALSE(mw::DirectXSetupLibrary(folder).loaded());
    EXPECT_FALSE(mw::DirectXSetupLibrary(scratch / "missing").loaded());
}

TEST_F(InstallSequenceTest, UpdatingKeepsExistingTexturesAndDataFilesButBringsNewOnes) {
    // The older version installed Bark.jpg (edited since) and Trees.ax-lib.
    fs::create_directories(commonData + "/Textures/Arbolux");
    fs::create_directories(commonData + "/Arbolux");
    mwtest::WriteFile(commonData + "/Textures/Arbolux/Bark.jpg", "edited bark");
    mwtest::WriteFile(commonData + "/Arbolux/Trees.ax-lib", "the user's trees");
    entries.push_back(Raw("Leaf.jpg", "<CommonData>\\Meridan Works\\Textures\\Arbolux", "leaf",
                          int(PayloadKind::Texture)));
    settings.previousState = PreviousInstallState::OlderVersion;
    mwtest::RecordingSurface surface;
    ASSERT_TRUE(Install(surface)) << surface.log;
    EXPECT_EQ(mwtest::ReadFile(commonData + "/Textures/Arbolux/Bark.jpg"), "edited bark");
    EXPECT_EQ(mwtest::ReadFile(commonData + "/Textures/Arbolux/Leaf.jpg"), "leaf");
    EXPECT_EQ(mwtest::ReadFile(commonData + "/Arbolux/Trees.ax-lib"), "the user's trees");
    EXPECT_EQ(surface.log.find("Bark.jpg"), std::string::npos);
    EXPECT_NE(surface.log.find(Copying(commonData + "/Textures/Arbolux/Leaf.jpg")),
              std::string::npos);
}

// Fails one kind of operation for paths below a folder.
class FailingBelow : public mw::platform::FaultyFileSystem {
public:
    FailingBelow(mw::platform::FileSystem& inner, std::string operation, std::string below)
        : FaultyFileSystem(inner), operation_(std::move(operation)), below_(std::move(below)) {}
    std::error_code CopyFile(const std::string& from, const std::string& to) override {
        if (operation_ == "CopyFile" && from.starts_with(below_)) return Refused();
        return FaultyFileSystem::CopyFile(from, to);
    }
    std::error_code Rename(const std::string& from, const std::string& to) override {
        if (operation_ == "Rename" && from.starts_with(below_)) return Refused();
        return FaultyFileSystem::Rename(from, to);
    }

private:
    static std::error_code Refused() { return std::error_code(EIO, std::system_category()); }
    std::string operation_, below_;
};

TEST_F(InstallSequenceTest, ADataFileThatCannotBeSavedStaysAndTheInstallationGoesOn) {
    fs::create_directories(commonData + "/Arbolux");
    mwtest::WriteFile(commonData + "/Arbolux/Trees.ax-lib", "the user's trees");
    mw::platform::FileSystem& real = mw::platform::Files();
    FailingBelow faults(real, "CopyFile", commonData);
    mwtest::RecordingSurface surface;
    bool installed = false;
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faults);
        installed = Install(surface);
    }
    EXPECT_TRUE(installed) << surface.log;
    EXPECT_EQ(mwtest::ReadFile(commonData + "/Arbolux/Trees.ax-lib"), "the user's trees");
    EXPECT_EQ(surface.log.find("Trees.ax-lib"), std::string::npos);
}

TEST_F(InstallSequenceTest, WhatRollBackCannotPutBackKeepsItsBackupAndIsNamed) {
    // An earlier program, moved to a backup when the new one is written; the
    // last file's checksum is wrong, so everything is rolled back, but the
    // backup cannot be moved back.
    fs::create_directories(install);
    mwtest::WriteFile(Program(), "earlier program");
    entries.push_back(Raw("broken", "<InstallPath>", "broken"));
    entries.back().crc = 1;
    mw::platform::FileSystem& real = mw::platform::Files();
    FailingBelow faults(real, "Rename", tmp + "/mw-backup-");
    mwtest::RecordingSurface surface;
    bool installed = false;
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faults);
        installed = Install(surface);
    }
    EXPECT_FALSE(installed);
    EXPECT_EQ(surface.status(), "Installation failed (Error Code 3).");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        surface.log, m,
        std::regex(std::regex_replace(Program(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                   " <- (\\S+)  Failed\r\n")))
        << surface.log;
    EXPECT_EQ(mwtest::ReadFile(m[1].str()), "earlier program");
    EXPECT_FALSE(fs::exists(settings.tempFolder));
}

TEST_F(InstallSequenceTest, ADamagedPayloadOrAMissingWorkFolderChangesNothing) {
    mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string log, status;
    } cases[] = {
        {"damaged stream",
         [&] {
             archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
             archive[archive.size() / 2] ^= 0x55;
         },
         "--------\r\nPreparing Installation...Failed\r\n", "Installation failed (Error Code 6)."},
        {"no temporary folder",
         [&] {
             archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));
             env->Set("TMPDIR", scratch / "absent");
         },
         "--------\r\n00000002 (CreateDirectory)\r\n",
         "Installation failed (Error Code 00000002 (CreateDirectory))."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.spoil();
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        mwtest::RecordingSurface surface;
        EXPECT_FALSE(mw::RunInstallation(surface, settings, source));
        EXPECT_EQ(surface.log, c.log);
        EXPECT_EQ(surface.status(), c.status);
        EXPECT_EQ(surface.waitCursor, 0);
        EXPECT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "");
        EXPECT_TRUE(settings.journal.CurrentEntries().empty());
    }
    std::error_code ec;
    EXPECT_FALSE(registry->KeyExists(mw::uninstallKey, ec));
}

TEST_F(InstallSequenceTest, EveryFailingFileOperationIsRolledBackOrOnlyFailsItsStep) {
    // An earlier installation's program stands where the new one goes, and
    // the user's data file where the payload has one. The setup library is
    // a stand-in (the step stays silent), which keeps the count of
    // operations small.
    const std::string userData = install + "/settings.dat";
    entries[3] =
        Raw("settings.dat", "<InstallPath>", "default settings", int(PayloadKind::DataFile));
    entries[5].content = "not a library";
    auto earlier = [&] {
        fs::create_directories(install);
        mwtest::WriteFile(Program(), "earlier program");
        mwtest::WriteFile(userData, "the user's settings");
    };
    earlier();
    const mwtest::TreeSnapshot before = mwtest::SnapshotTree(root);
    archive = payloadtest::Bzip2(payloadtest::RawPayload(entries));

    mw::platform::FileSystem& real = mw::platform::Files();
    mw::platform::FaultyFileSystem faults(real);
    auto installWithFault = [&](uint64_t n, bool persistent, mwtest::RecordingSurface& surface) {
        faults.ResetCount();
        faults.FailAt(n, ENOSPC, persistent);
        mw::InstallSettings fresh;
        fresh.installFolder = install;
        fresh.startMenuFolder = startMenu;
        fresh.startMenuShortcut = fresh.desktopShortcut = true;
        mw::PayloadSource source;
        source.OpenMemory(archive.data(), archive.size());
        bool installed = false;
        {
            const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faults);
            installed = mw::RunInstallation(surface, fresh, source);
        }
        faults.ClearFault();
        return installed;
    };
    auto reset = [&] {
        // Back to the earlier state for the next round.
        fs::remove_all(root);
        fs::remove_all(home);
        fs::create_directories(home);
        earlier();
        registry = mw::platform::MakeFakeRegistry();
        mw::platform::SetMachineRegistryForTesting(registry.get());
        for (const auto& e : fs::directory_iterator(tmp)) fs::remove_all(e.path());
    };

    mwtest::RecordingSurface counted;
    ASSERT_TRUE(installWithFault(0, false, counted));
    const uint64_t operations = faults.Count();
    ASSERT_GT(operations, 40u);
    reset();

    // Each operation fails once; and, for a sample of them, every operation
    // from there on fails, the rollback's own included: what it cannot put
    // back is then named in the log, with its backup intact.
    int rolledBack = 0, completed = 0, unrestored = 0;
    for (bool persistent : {false, true}) {
        for (uint64_t n = 1; n <= operations; n += persistent ? 7 : 1) {
            SCOPED_TRACE((persistent ? "from operation " : "operation ") + std::to_string(n));
            mwtest::RecordingSurface surface;
            const bool installed = installWithFault(n, persistent, surface);
            if (!installed && persistent && ContentOf(Program()) != "earlier program") {
                ++unrestored;
                std::smatch m;
                const std::string named = surface.log.substr(surface.log.find(Program() + " <- "));
                ASSERT_TRUE(std::regex_search(named, m, std::regex(" <- (\\S+)  Failed")))
                    << surface.log;
                ASSERT_EQ(ContentOf(m[1].str()), "earlier program");
                ASSERT_EQ(ContentOf(userData), "the user's settings");
            } else if (!installed && persistent) {
                ++rolledBack;
                // Whatever stands is as it was; what the failing rollback
                // could not remove may be left over.
                ASSERT_EQ(ContentOf(userData), "the user's settings");
            } else if (!installed) {
                ++rolledBack;
                ASSERT_EQ(mwtest::DiffTrees(before, mwtest::SnapshotTree(root)), "") << surface.log;
                std::error_code ec;
                ASSERT_FALSE(registry->KeyExists(mw::uninstallKey, ec));
                ASSERT_TRUE(surface.status().starts_with("Installation failed (Error Code "));
            } else {
                ++completed;
                // Every file is in place; the user's data file is untouched;
                // a failed step only says so in its own line.
                ASSERT_EQ(mwtest::ReadFile(Program()), kProgramScript) << surface.log;
                ASSERT_EQ(mwtest::ReadFile(userData), "the user's settings");
                ASSERT_TRUE(fs::exists(commonData + "/Textures/Arbolux/Bark.jpg"));
                ASSERT_EQ(surface.status(), "Click on 'Next' to continue.");
                const std::vector<std::string> lines = surface.LogLines();
                ASSERT_TRUE(lines.back().starts_with("Installation Data Writing..."));
                for (const std::string& line : lines) {
                    ASSERT_TRUE(line.ends_with("OK") || line.ends_with("Failed") ||
                                line == "--------")
                        << line;
                }
            }
            reset();
        }
    }
    EXPECT_GT(rolledBack, 10);
    EXPECT_GT(completed, 10);
    EXPECT_GT(unrestored, 0);
}

TEST(ProgressPercent, RoundsHalfUpButShows99UntilDone) {
    struct Case {
        uint64_t done, total;
        int percent;
    } cases[] = {{995, 1000, 99}, {1000, 1000, 100}, {4, 1000, 0}, {5, 1000, 1},
                 {0, 0, 0},       {1, 3, 33},        {2, 3, 67}};
    for (const Case& c : cases) {
        EXPECT_EQ(mw::ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
    }
}

}  // namespace
