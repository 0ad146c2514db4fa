#include "journal/install_log.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "journal/journal.hpp"
#include "journal_fixture.hpp"
#include "platform/file_system.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"

namespace {

using mw::InstallLogContents;
using mw::InstallLogFile;
using mw::JournalEntry;
using Kind = mw::JournalEntryKind;
using End = InstallLogContents::End;

// UTF-16LE bytes of a text.
std::string Le(std::u16string_view text) {
    std::string out;
    for (char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// A log as the writer lays it out: byte order mark, lines ended by CR LF.
std::string Utf16Log(const std::vector<std::u16string>& lines) {
    std::string out = "\xFF\xFE";
    for (const auto& line : lines) out += Le(line + u"\r\n");
    return out;
}

JournalEntry Entry(Kind kind, std::string path, bool succeeded = true, int32_t fileKind = -1) {
    JournalEntry e;
    e.kind = kind;
    e.path = std::move(path);
    e.succeeded = succeeded;
    e.fileKind = fileKind;
    return e;
}

using Taken = std::tuple<int, int, bool, std::string>;
std::vector<Taken> Summary(const std::list<JournalEntry>& entries) {
    std::vector<Taken> out;
    for (const auto& e : entries) {
        out.emplace_back(static_cast<int>(e.kind), e.fileKind, e.succeeded, e.path);
    }
    return out;
}

InstallLogContents ParseText(const std::string& bytes, unsigned codePage = 1252) {
    return InstallLogFile::Parse(bytes.data(), bytes.size(), codePage);
}

class InstallLogTest : public mwtest::JournalFixture {};

// ------------------------------------------------------------------- writing

TEST_F(InstallLogTest, FirstInstallationIsWrittenByteForByte) {
    journal.SetCurrentEntriesForTesting({
        Entry(Kind::CreatedFolder, "/apps"),
        Entry(Kind::CreatedFolder, "/apps/Arbolux 7"),
        Entry(Kind::InstalledFile, "/apps/Arbolux 7/Uninstall", true, 2),
        Entry(Kind::InstalledFile, "/apps/Arbolux 7/data.cfg", false, 3),
        Entry(Kind::ProgramShortcut, "/menu/Arbolux 7/Arbolux.desktop"),
        Entry(Kind::UninstallKey, ""),
        Entry(Kind::ApplicationRegistration, "", false),
        Entry(Kind::DirectXUpdate, "Mise à jour de DirectX..."),
    });
    std::string log = root + "/Uninstall.ulog";
    ASSERT_TRUE(journal.WriteLog(log, "/apps/Arbolux 7", "/menu/Arbolux 7"));

    std::string expected = Utf16Log({
        u"// Uninstall Log File v1",
        u"// ############ WARNING: Do not delete or modify this file. ############",
        u"// Install Arbolux 7.13c",
        u"// Install Path : /apps/Arbolux 7",
        u"// Shortcut Path : /menu/Arbolux 7",
        u"// -------------------------------",
        u"0000:00ff:1 -- /apps",
        u"0001:00ff:1 -- /apps/Arbolux 7",
        u"0002:0102:1 -- /apps/Arbolux 7/Uninstall",
        u"0003:0103:0 -- /apps/Arbolux 7/data.cfg",
        u"0004:02ff:1 -- /menu/Arbolux 7/Arbolux.desktop",
        u"0005:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
        u"Uninstall\\Arbolux 7",
        u"0006:06ff:0 -- HKEY_CLASSES_ROOT\\...",
        u"0007:07ff:1 -- Mise à jour de DirectX...",
    });
    EXPECT_EQ(mwtest::ReadFile(log), expected);
    EXPECT_EQ(ModeOf(log) & 0222, 0u) << "the log is read-only";
    // The fixed texts replace the entries' paths in memory as well.
    auto it = std::next(journal.CurrentEntries().begin(), 5);
    EXPECT_EQ(it->path, journal.UninstallKeyText());
    EXPECT_EQ(std::next(it)->path, "HKEY_CLASSES_ROOT\\...");
}

// A folder text with a line feed would have given the next elevated run an
// entry of someone else's choosing (a file for it to delete). Whichever
// header text carries the break, nothing is written and the earlier log
// stays (an entry's path: see ALineBreakInAPathFailsThatItemNotTheLog).
TEST_F(InstallLogTest, ALineBreakInAnyTextWritesNothing) {
    const std::string log = root + "/Uninstall.ulog";
    const std::string earlier = "earlier log";
    const std::string planted = "x\n0001:01ff:1 -- " + root + "/victim";
    struct Case {
        const char* name;
        std::string installFolder, startMenuFolder, entryPath;
    } cases[] = {
        {"install folder", "/apps/A" + planted, "/menu", "/apps/A/f"},
        {"start-menu folder", "/apps/A", "/menu\r" + planted, "/apps/A/f"},
        {"carriage return alone", "/apps/A\r", "/menu", "/apps/A/f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mwtest::WriteFile(log, earlier);
        std::list<mw::JournalEntry> entries{Entry(Kind::InstalledFile, c.entryPath, true, 0)};
        EXPECT_FALSE(mw::InstallLogFile::Write(log, "Arbolux 7.13c", c.installFolder,
                                               c.startMenuFolder, entries));
        EXPECT_EQ(mwtest::ReadFile(log), earlier);
    }
    std::list<mw::JournalEntry> entries{Entry(Kind::InstalledFile, "/apps/A/f", true, 0)};
    EXPECT_FALSE(mw::InstallLogFile::Write(log, "Arbolux\n7", "/apps/A", "/menu", entries));
    EXPECT_TRUE(mw::InstallLogFile::Write(log, "Arbolux 7.13c", "/apps/A", "/menu", entries));
}

// The earlier log sits in a folder others may write. Between the writer's
// look at it and its mode change, nobody swaps in a second name of root's
// secret (a hard link, as on a machine without protected hard links): the
// secret must keep its mode and content.
TEST_F(InstallLogTest, ALogSwappedForAHardLinkAfterItsCheckChangesNothingElse) {
    if (geteuid() != 0) GTEST_SKIP() << "the attack needs another user";
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    const std::string shared = scratch / "shared", secret = scratch / "secret";
    std::filesystem::create_directories(shared);
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    mwtest::WriteFile(secret, "root only");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string log = shared + "/Uninstall.ulog";
    mwtest::WriteFile(log, "earlier log");
    ASSERT_EQ(chmod(log.c_str(), 0444), 0);
    ASSERT_EQ(link(secret.c_str(), (shared + "/.planted").c_str()), 0);

    auto real = mw::platform::MakeRealFileSystem();
    mwtest::SwapBefore attacker(*real, [&] {
        EXPECT_EQ(mwtest::AsNobody([&] {
                      return rename((shared + "/.planted").c_str(), log.c_str()) == 0 ? 0 : 1;
                  }),
                  0);
    });
    bool written = false;
    {
        const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &attacker);
        std::list<mw::JournalEntry> entries{Entry(Kind::InstalledFile, shared + "/f", true, 0)};
        written = mw::InstallLogFile::Write(log, "Arbolux 7.13c", shared, "/menu", entries);
    }
    ASSERT_TRUE(attacker.attacked());
    EXPECT_TRUE(written);
    EXPECT_EQ(ModeOf(secret), 0600u);
    EXPECT_EQ(mwtest::ReadFile(secret), "root only");
    EXPECT_EQ(mw::InstallLogFile::Read(log, 1252).entries.size(), 1u);
    EXPECT_EQ(ModeOf(log) & 0222, 0u);
}

TEST_F(InstallLogTest, HeaderVariants) {
    struct Case {
        const char* name;
        std::string previousProduct;
        std::string startMenu;
        std::u16string line3, line5, line6;
    };
    const Case cases[] = {
        {"update", "Arbolux 7.13b", "/m", u"// Install Arbolux 7.13c -- Update (Arbolux 7.13b)",
         u"// Shortcut Path : /m", u"// ------------------"},
        {"no start menu folder", "", "", u"// Install Arbolux 7.13c", u"// Shortcut Path : ",
         u"// ----------------"},
        // The hyphens count UTF-16 units: "𝄞" is two of them.
        {"wide folder", "", "/é𝄞", u"// Install Arbolux 7.13c", u"// Shortcut Path : /é𝄞",
         u"// --------------------"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mw::InstallJournal j("Arbolux 7", "Arbolux 7.13c");
        j.previousProduct = c.previousProduct;
        std::string log = root + "/h.ulog";
        ASSERT_TRUE(j.WriteLog(log, "/i", c.startMenu));
        std::string expected = Utf16Log({
            u"// Uninstall Log File v1",
            u"// ############ WARNING: Do not delete or modify this file. ############",
            c.line3,
            u"// Install Path : /i",
            c.line5,
            c.line6,
        });
        EXPECT_EQ(mwtest::ReadFile(log), expected);
        // Reading it back gives the product without the update part.
        InstallLogContents back = InstallLogFile::Read(log, 1252);
        EXPECT_EQ(back.product, "Arbolux 7.13c");
        EXPECT_EQ(back.end, End::EndOfFile);
    }
}

TEST_F(InstallLogTest, WrittenLogReadsBackTheSameEntries) {
    std::string installDir = root + "/install";
    std::filesystem::create_directories(installDir);
    journal.previousProduct = "Arbolux 7.12";
    journal.SetCurrentEntriesForTesting({
        Entry(Kind::CreatedFolder, installDir),
        Entry(Kind::InstalledFile, installDir + "/prog", true, 0),
        Entry(Kind::InstalledFile, installDir + "/lang/fr é.dll", true, 1),
        Entry(Kind::InstalledFile, installDir + "/Uninstall", false, 2),
        Entry(Kind::InstalledFile, installDir + "/日本/data", true, 3),
        Entry(Kind::InstalledFile, installDir + "/tex/𝄞.png", true, 4),
        Entry(Kind::ProgramShortcut, "/m/p.desktop"),
        Entry(Kind::UninstallShortcut, "/m/u.desktop", false),
        Entry(Kind::DesktopShortcut, "", false),
        Entry(Kind::UninstallKey, "anything"),
        Entry(Kind::ApplicationRegistration, "", true),
        Entry(Kind::DirectXUpdate, "Mise à jour de DirectX...", false),
    });
    std::string log = root + "/Uninstall.ulog";
    ASSERT_TRUE(journal.WriteLog(log, installDir, root + "/no-such-menu"));

    mw::InstallJournal reader("Arbolux 7", "Arbolux 7.13c");
    reader.ReadLog(log, 1252);
    std::vector<Taken> expected = {
        {0, -1, true, installDir},
        {1, 0, true, installDir + "/prog"},
        {1, 1, true, installDir + "/lang/fr é.dll"},
        {1, 2, false, installDir + "/Uninstall"},
        {1, 3, true, installDir + "/日本/data"},
        {1, 4, true, installDir + "/tex/𝄞.png"},
        {2, -1, true, "/m/p.desktop"},
        {3, -1, false, "/m/u.desktop"},
        {4, -1, false, ""},
        {5, -1, true, ""},  // the texts of these two kinds are not taken
        {6, -1, true, ""},
        {7, -1, false, "Mise à jour de DirectX..."},
    };
    EXPECT_EQ(Summary(reader.PreviousEntries()), expected);
    EXPECT_EQ(reader.previousProduct, "Arbolux 7.13c");
    EXPECT_EQ(reader.installPath, installDir);
    EXPECT_EQ(reader.shortcutPath, "") << "a folder that does not exist is not taken";
}

TEST_F(InstallLogTest, ALineBreakInAPathFailsThatItemNotTheLog) {
    std::string installDir = root + "/install";
    std::filesystem::create_directories(installDir);
    std::string log = root + "/Uninstall.ulog";
    // A planted name would otherwise add a line of its own choosing.
    std::list<JournalEntry> entries = {
        Entry(Kind::InstalledFile, installDir + "/a", true, 0),
        Entry(Kind::InstalledFile, installDir + "/x\r\n00001 1 1 3 /etc/passwd", true, 0),
        Entry(Kind::InstalledFile, installDir + "/b\n", true, 0),
        Entry(Kind::InstalledFile, installDir + "/c", true, 0),
    };
    EXPECT_FALSE(InstallLogFile::Write(log, "P", installDir, "/m", entries));
    InstallLogContents read = InstallLogFile::Read(log, 1252);
    std::vector<Taken> expected = {{1, 0, true, installDir + "/a"},
                                   {1, 0, true, installDir + "/c"}};
    EXPECT_EQ(Summary(read.entries), expected);
    EXPECT_EQ(read.end, End::EndOfFile);

    // A header text with a line break writes nothing: the earlier log stays.
    std::string before = mwtest::ReadFile(log);
    EXPECT_FALSE(InstallLogFile::Write(log, "P", installDir + "\n", "/m", entries));
    EXPECT_FALSE(InstallLogFile::Write(log, "P", installDir, "/m\r", entries));
    EXPECT_EQ(mwtest::ReadFile(log), before);
}

TEST_F(InstallLogTest, MoreThan9999EntriesGetLongerNumbers) {
    std::list<mw::JournalEntry> entries;
    for (int i = 0; i < 10001; ++i) {
        entries.push_back(Entry(Kind::InstalledFile, "/f" + std::to_string(i), true, 0));
    }
    journal.SetCurrentEntriesForTesting(std::move(entries));
    std::string log = root + "/big.ulog";
    ASSERT_TRUE(journal.WriteLog(log, "/i", "/m"));
    std::string bytes = mwtest::ReadFile(log);
    EXPECT_NE(bytes.find(Le(u"\r\n9999:0100:1 -- /f9999\r\n10000:0100:1 -- /f10000\r\n")),
              std::string::npos);
    InstallLogContents back = InstallLogFile::Read(log, 1252);
    EXPECT_EQ(back.entries.size(), 10001u);
    EXPECT_EQ(back.entries.back().path, "/f10000");
}

TEST_F(InstallLogTest, AnEarlierReadOnlyLogIsReplaced) {
    std::string log = root + "/Uninstall.ulog";
    journal.SetCurrentEntriesForTesting({Entry(Kind::InstalledFile, "/old", true, 0)});
    ASSERT_TRUE(journal.WriteLog(log, "/i", "/m"));
    ASSERT_EQ(ModeOf(log) & 0222, 0u);

    mw::InstallJournal second("Arbolux 7", "Arbolux 7.13c");
    second.SetCurrentEntriesForTesting({Entry(Kind::InstalledFile, "/new", true, 0)});
    ASSERT_TRUE(second.WriteLog(log, "/i", "/m"));
    InstallLogContents back = InstallLogFile::Read(log, 1252);
    EXPECT_EQ(Summary(back.entries), (std::vector<Taken>{{1, 0, true, "/new"}}));
    EXPECT_EQ(ModeOf(log) & 0222, 0u);
}

TEST_F(InstallLogTest, ALogThatCannotBeCreatedIsAFailure) {
    journal.SetCurrentEntriesForTesting({Entry(Kind::InstalledFile, "/x", true, 0)});
    EXPECT_FALSE(journal.WriteLog(root + "/missing/Uninstall.ulog", "/i", "/m"));
}

// Every operation of the writer fails once in turn: only a failed creation,
// write or close makes the result false, writing goes on after a failed line,
// and the file ends closed and read-only.
TEST_F(InstallLogTest, EachFailingOperationOfTheWriter) {
    std::list<JournalEntry> entries = {Entry(Kind::InstalledFile, "/a", true, 0),
                                       Entry(Kind::InstalledFile, "/b", true, 0)};
    std::string log = root + "/w.ulog";
    auto& real = mw::platform::Files();
    mw::platform::FaultyFileSystem faulty(real);
    const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faulty);
    ASSERT_TRUE(InstallLogFile::Write(log, "P", "/i", "/m", entries));
    uint64_t operations = faulty.Count();
    std::string complete = mwtest::ReadFile(log);
    ASSERT_GT(operations, 10u);
    // What each write puts in the file: the byte order mark, then the lines.
    std::vector<std::string> pieces = {"\xFF\xFE"};
    for (const char16_t* line :
         {u"// Uninstall Log File v1",
          u"// ############ WARNING: Do not delete or modify this file. ############",
          u"// Install P", u"// Install Path : /i", u"// Shortcut Path : /m",
          u"// ------------------", u"0000:0100:1 -- /a", u"0001:0100:1 -- /b"}) {
        pieces.push_back(Le(std::u16string(line) + u"\r\n"));
    }
    std::string all;
    for (const auto& piece : pieces) all += piece;
    ASSERT_EQ(complete, all);

    int writes = 0;
    for (uint64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE("operation " + std::to_string(n));
        faulty.ResetCount();
        faulty.FailAt(n, EIO);
        bool ok = InstallLogFile::Write(log, "P", "/i", "/m", entries);
        faulty.ClearFault();
        std::string op = faulty.LastFailed();
        bool essential = op == "Write" || op == "OpenForWrite" || op == "Close";
        EXPECT_EQ(ok, !essential) << op;
        if (op == "Write") {
            // Only the piece that failed is missing: writing went on.
            std::string expected;
            for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
                if (i != writes) expected += pieces[i];
            }
            EXPECT_EQ(mwtest::ReadFile(log), expected);
            ++writes;
        }
        if (op != "SetMode" && op != "Status") {
            EXPECT_EQ(ModeOf(log) & 0222, 0u) << op;
        }
    }
    EXPECT_EQ(writes, static_cast<int>(pieces.size()));
}

// ------------------------------------------------------------------- reading

const std::u16string kHeader =
    u"// Uninstall Log File v1\r\n"
    u"// ############ WARNING: Do not delete or modify this file. ############\r\n"
    u"// Install Arbolux 7.13c\r\n"
    u"// Install Path : /nowhere/a\r\n"
    u"// Shortcut Path : /nowhere/b\r\n"
    u"// --------------------------\r\n";

struct ReadCase {
    const char* name;
    std::u16string text;  // after the byte order mark
    std::vector<Taken> entries;
    std::string product;
    End end;
    std::size_t stopLine = 0;
};

TEST(InstallLogReadTest, RulesAndStops) {
    const std::u16string a = u"0000:0100:1 -- /a\r\n";
    const Taken takenA{1, 0, true, "/a"};
    const ReadCase cases[] = {
        {"complete log",
         kHeader + a + u"0001:00ff:0 -- /d\r\n",
         {takenA, {0, -1, false, "/d"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"last line without line end",
         kHeader + u"0000:0100:1 -- /a",
         {takenA},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"other version",
         u"// Uninstall Log File v2\r\n" + kHeader.substr(26) + a,
         {},
         "",
         End::Stopped,
         0},
        {"no version number", u"// Uninstall Log File v\r\n" + a, {}, "", End::Stopped, 0},
        {"first line no header", a + kHeader, {}, "", End::Stopped, 0},
        {"first line another header", u"// Log File v1\r\n" + a, {}, "", End::Stopped, 0},
        {"slashes and blanks before the marker",
         u"////  Uninstall Log File v 1\r\n" + a,
         {takenA},
         "",
         End::EndOfFile},
        {"kind 8 stops, earlier entries stay",
         kHeader + a + u"0001:0800:1 -- /x\r\n" + a,
         {takenA},
         "Arbolux 7.13c",
         End::Stopped,
         7},
        {"blank line stops",
         kHeader + a + u" \t \r\n" + a,
         {takenA},
         "Arbolux 7.13c",
         End::Stopped,
         7},
        {"a header line may not start with a blank",
         u"// Uninstall Log File v1\r\n// w\r\n  // Install X\r\n",
         {},
         "",
         End::Stopped,
         2},
        {"missing warning line shifts the header",
         u"// Uninstall Log File v1\r\n// Install X\r\n// Install Path : /p\r\n"
         u"// Shortcut Path : /s\r\n",
         {},
         "Path : /p",
         End::Stopped,
         3},
        {"no Install on the product line",
         u"// Uninstall Log File v1\r\n// w\r\n// Setup X\r\n",
         {},
         "",
         End::Stopped,
         2},
        {"no install path line",
         u"// Uninstall Log File v1\r\n// w\r\n// Install X\r\n// Path /p\r\n",
         {},
         "X",
         End::Stopped,
         3},
        {"empty folders, written without the trailing blank",
         u"// Uninstall Log File v1\r\n// w\r\n// Install P\r\n// Install Path : \r\n"
         u"// Shortcut Path : \r\n// ----------------\r\n" +
             a,
         {takenA},
         "P",
         End::EndOfFile},
        {"product with update part",
         u"// Uninstall Log File v1\r\n// w\r\n// Install  Arbolux 7.13c -- Update (Arbolux "
         u"7.12)\r\n",
         {},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"extra header lines are ignored",
         kHeader + u"// more\r\n" + a + u"// note\r\n" + a,
         {takenA, takenA},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"nothing after the separator",
         kHeader + u"0005:0100:1 --\r\n",
         {{1, 0, true, ""}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"texts of key and registration are dropped",
         kHeader + u"0000:05ff:1 -- HKLM\\x\r\n0001:06ff:0 -- HKCR\r\n",
         {{5, -1, true, ""}, {6, -1, false, ""}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"blanks between the fields",
         kHeader + u"  7 :\t00ff : 1   --   a  b \t\r\n",
         {{0, -1, true, "a  b"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"separators in the text stay",
         kHeader + u"0:0100:1 -- x -- y\r\n",
         {{1, 0, true, "x -- y"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"hexadecimal prefix and capitals",
         kHeader + u"0:0x01FF:1 -- /c\r\n",
         {{1, -1, true, "/c"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"negative number", kHeader + u"-1:0100:1 -- /a\r\n", {}, "Arbolux 7.13c", End::Stopped, 6},
        {"number too large",
         kHeader + u"99999999999:0100:1 -- /a\r\n",
         {},
         "Arbolux 7.13c",
         End::Stopped,
         6},
        {"code too large",
         kHeader + u"0:100000000:1 -- /a\r\n",
         {},
         "Arbolux 7.13c",
         End::Stopped,
         6},
        {"negative code", kHeader + u"0:-100:1 -- /a\r\n", {}, "Arbolux 7.13c", End::Stopped, 6},
        {"missing colon", kHeader + u"0000 0100:1 -- /a\r\n", {}, "Arbolux 7.13c", End::Stopped, 6},
        {"flag other than 0 or 1",
         kHeader + u"0:0100:2 -- /a\r\n",
         {},
         "Arbolux 7.13c",
         End::Stopped,
         6},
        {"separator glued to the text",
         kHeader + u"0:0100:1 --/a\r\n",
         {},
         "Arbolux 7.13c",
         End::Stopped,
         6},
        {"single hyphen", kHeader + u"0:0100:1 - /a\r\n", {}, "Arbolux 7.13c", End::Stopped, 6},
        {"no separator at all", kHeader + u"0:0100:1\r\n", {}, "Arbolux 7.13c", End::Stopped, 6},
        {"unpaired surrogate",
         kHeader + u"0:0100:1 -- /\xD800x\r\n",
         {{1, 0, true, "/\uFFFDx"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"surrogate pair",
         kHeader + u"0:0100:1 -- /\U0001D11E\r\n",
         {{1, 0, true, "/\U0001D11E"}},
         "Arbolux 7.13c",
         End::EndOfFile},
        {"only the byte order mark", u"", {}, "", End::EndOfFile},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        InstallLogContents got = ParseText("\xFF\xFE" + Le(c.text));
        EXPECT_EQ(Summary(got.entries), c.entries);
        EXPECT_EQ(got.product, c.product);
        EXPECT_EQ(got.end, c.end);
        if (c.end == End::Stopped) {
            EXPECT_EQ(got.stopLine, c.stopLine);
        }
    }
}

TEST(InstallLogReadTest, LineEndsAndOddBytes) {
    // A trailing odd byte cannot form a unit; lines may end in LF alone.
    std::string bytes = "\xFF\xFE" + Le(u"// Uninstall Log File v1\n// w\n// Install P\n") +
                        Le(u"// Install Path : /x\n// Shortcut Path : /y\n// --\n") +
                        Le(u"0:0100:1 -- /a") + "\x41";
    InstallLogContents got = ParseText(bytes);
    EXPECT_EQ(Summary(got.entries), (std::vector<Taken>{{1, 0, true, "/a"}}));
    EXPECT_EQ(got.installPath, "/x");
    EXPECT_EQ(got.shortcutPath, "/y");
    EXPECT_EQ(got.end, End::EndOfFile);

    EXPECT_EQ(ParseText("").end, End::EndOfFile);
    EXPECT_EQ(ParseText("\xFF").end, End::Stopped) << "one byte is an ANSI line";
}

TEST(InstallLogReadTest, VeryLongLinesAreReadWhole) {
    std::u16string longPath = u"/" + std::u16string(3 * 1024 * 1024, u'x');
    std::string bytes = "\xFF\xFE" + Le(kHeader + u"0:0100:1 -- " + longPath + u"\r\n");
    InstallLogContents got = ParseText(bytes);
    ASSERT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.entries.front().path.size(), longPath.size());

    std::string ansi =
        "// Uninstall Log File v1\r\n// w\r\n// Install P\r\n// Install Path : /x\r\n"
        "// Shortcut Path : /y\r\n// -\r\n0:0100:1 -- /" +
        std::string(2 * 1024 * 1024, 'y') + "\r\n";
    got = ParseText(ansi);
    ASSERT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.entries.front().path.size(), 2u * 1024 * 1024 + 1);
}

// Logs without byte order mark, as the translated installers of other
// languages wrote them, are converted from the interface language's code page.
TEST(InstallLogReadTest, AnsiLogsInTheInterfaceCodePage) {
    struct Case {
        const char* language;
        unsigned codePage;
        std::string bytes;     // a path in that code page
        std::string expected;  // the same in UTF-8
    };
    const Case cases[] = {
        {"French", 1252, "/opt/Arbolux/\xC9t\xE9 \x80 \x9C.txt", "/opt/Arbolux/Été € œ.txt"},
        {"Turkish", 1254, "/opt/\xDE\xFEi\xF0\xFD\xDD.txt", "/opt/Şşiğıİ.txt"},
        {"Romanian", 1250, "/opt/\xE3\xEE\xE2\xFE\xBA\xAA.txt", "/opt/ăîâţşŞ.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        std::string log =
            "// Uninstall Log File v1\r\n// w\r\n// Install Arbolux 7.13c\r\n"
            "// Install Path : /x\r\n// Shortcut Path : /y\r\n// --\r\n"
            "0000:0100:1 -- " +
            c.bytes + "\r\n0001:00ff:1 -- /opt\r\n";
        InstallLogContents got = ParseText(log, c.codePage);
        EXPECT_EQ(Summary(got.entries),
                  (std::vector<Taken>{{1, 0, true, c.expected}, {0, -1, true, "/opt"}}));
        EXPECT_EQ(got.product, "Arbolux 7.13c");
        EXPECT_EQ(got.end, End::EndOfFile);
        if (c.codePage != 1252) {
            // The code page decides: the same bytes read as Western European
            // give other characters.
            EXPECT_NE(ParseText(log, 1252).entries.front().path, c.expected);
        }
    }
}

TEST_F(InstallLogTest, ReadLogKeepsOnlyFoldersThatExist) {
    std::string installDir = root + "/inst";
    std::string menuDir = root + "/menu";
    std::filesystem::create_directories(installDir);
    mwtest::WriteFile(root + "/file", "x");
    struct Case {
        const char* name;
        std::string install, menu;
        std::string expectInstall, expectMenu;
    };
    const Case cases[] = {
        {"both exist", installDir, installDir, installDir, installDir},
        {"menu missing", installDir, menuDir, installDir, ""},
        {"a file is no folder", root + "/file", installDir, "", installDir},
        {"blanks around the path", "  " + installDir + "  ", "", installDir, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string log = root + "/r.ulog";
        std::filesystem::remove(log);
        mwtest::WriteFile(log, "// Uninstall Log File v1\n// w\n// Install P\n// Install Path : " +
                                   c.install + "\n// Shortcut Path : " + c.menu + "\n");
        mw::InstallJournal j("Arbolux 7", "Arbolux 7.13c");
        j.installPath = "stale";
        j.ReadLog(log, 1252);
        EXPECT_EQ(j.installPath, c.expectInstall);
        EXPECT_EQ(j.shortcutPath, c.expectMenu);
        EXPECT_EQ(j.previousProduct, "P");
    }
}

TEST_F(InstallLogTest, ReadLogWithoutAFileOnlyEmptiesTheFolders) {
    journal.installPath = "/a";
    journal.shortcutPath = "/b";
    journal.previousProduct = "P";
    journal.SetPreviousEntriesForTesting({Entry(Kind::InstalledFile, "/f", true, 0)});
    journal.ReadLog(std::nullopt, 1252);
    EXPECT_EQ(journal.installPath, "");
    EXPECT_EQ(journal.shortcutPath, "");
    EXPECT_EQ(journal.previousProduct, "P");
    EXPECT_EQ(journal.PreviousEntries().size(), 1u);

    journal.ReadLog(root + "/does-not-exist.ulog", 1252);
    EXPECT_EQ(journal.PreviousEntries().size(), 1u);
    EXPECT_EQ(InstallLogFile::Read(root + "/does-not-exist.ulog", 1252).end, End::ReadError);
}

// A read error ends the reading; what came before stays.
TEST_F(InstallLogTest, ReadErrorKeepsWhatWasTaken) {
    std::string log = root + "/big.ulog";
    std::list<mw::JournalEntry> entries;
    for (int i = 0; i < 20000; ++i) {
        entries.push_back(Entry(Kind::InstalledFile, "/f" + std::to_string(i), true, 0));
    }
    journal.SetCurrentEntriesForTesting(std::move(entries));
    ASSERT_TRUE(journal.WriteLog(log, "/i", "/m"));
    mw::platform::FaultyFileSystem faulty(mw::platform::Files());
    const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faulty);
    // Operation 1 opens the file, 2 is its first read, 3 the second.
    faulty.FailAt(3, EIO);
    InstallLogContents got = InstallLogFile::Read(log, 1252);
    EXPECT_EQ(faulty.LastFailed(), "Read");
    EXPECT_EQ(got.end, End::ReadError);
    EXPECT_GT(got.entries.size(), 100u);
    EXPECT_LT(got.entries.size(), 20000u);
    EXPECT_EQ(got.entries.back().path, "/f" + std::to_string(got.entries.size() - 1));
}

}  // namespace
