#include "engine/payload_extractor.hpp"

#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/payload_source.hpp"
#include "engine/payload_test_support.hpp"
#include "platform/acl_handles.hpp"
#include "platform/file_system.hpp"
#include "platform/roots.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;
using mw::CompressError;
using mw::notification;
using payloadtest::Raw;
using payloadtest::RawEntry;
using payloadtest::Recorder;

std::string Failed(CompressError e, const std::string& path = "") {
    return "Failed compress:" + std::to_string(static_cast<int>(e)) + " " + path;
}

class PayloadExtractorTest : public ::testing::Test {
protected:
    mwtest::ScratchDir dir;
    std::string install = dir / "install";

    mw::DestinationFolders Folders() const { return {install, "", ""}; }

    // Extracts a compressed archive built from `entries` (or `raw` when given).
    bool Run(Recorder& rec, const std::string& raw) {
        compressed_ = payloadtest::Bzip2(raw);
        mw::PayloadSource source;
        source.OpenMemory(compressed_.data(), compressed_.size());
        return mw::Extract(source, install, "", "", rec.Callback());
    }
    bool Run(Recorder& rec, const std::vector<RawEntry>& entries) {
        return Run(rec, payloadtest::RawPayload(entries));
    }
    std::string At(const std::string& rel) const { return install + "/" + rel; }

    std::string compressed_;
};

const std::vector<RawEntry> kThree = {
    Raw("src\\a.bin", "<InstallPath>", payloadtest::Filler(5000, 1)),
    Raw("empty.txt", "<InstallPath>\\Sub", ""),
    Raw("c.txt", "<InstallPath>\\Sub\\Deeper", "the last file"),
};

TEST_F(PayloadExtractorTest, WritesEveryEntryInOrder) {
    Recorder rec;
    const std::string raw = payloadtest::RawPayload(kThree);
    ASSERT_TRUE(Run(rec, raw));
    const std::string total = std::to_string(raw.size());
    const std::vector<std::string> expected = {
        "Started",
        "EntryStarted " + At("a.bin"),
        "EntryDone " + At("a.bin"),
        "EntryStarted " + At("Sub/empty.txt"),
        "EntryDone " + At("Sub/empty.txt"),
        "EntryStarted " + At("Sub/Deeper/c.txt"),
        "EntryDone " + At("Sub/Deeper/c.txt"),
        "Finished " + std::to_string(compressed_.size()) + "/" + total,
    };
    EXPECT_EQ(rec.Steps(), expected);
    EXPECT_EQ(mwtest::ReadFile(At("a.bin")), kThree[0].content);
    EXPECT_EQ(mwtest::ReadFile(At("Sub/empty.txt")), "");
    EXPECT_EQ(mwtest::ReadFile(At("Sub/Deeper/c.txt")), "the last file");
    // The first Progress comes once the table is read; the last reaches the total.
    const std::string tableSize = std::to_string(payloadtest::TableOf(kThree).size());
    EXPECT_EQ(rec.events[1], "Progress " + tableSize + "/" + total);
    EXPECT_EQ(rec.events[rec.events.size() - 3], "Progress " + total + "/" + total);
}

TEST_F(PayloadExtractorTest, ZeroSizeEntriesInTheMiddleAndLast) {
    const std::vector<RawEntry> entries = {
        Raw("first", "<InstallPath>", "1234"),  Raw("middle", "<InstallPath>", ""),
        Raw("second", "<InstallPath>", "56"),   Raw("last1", "<InstallPath>\\End", ""),
        Raw("last2", "<InstallPath>\\End", ""),
    };
    Recorder rec;
    const std::string raw = payloadtest::RawPayload(entries);
    ASSERT_TRUE(Run(rec, raw));
    const std::string t = "/" + std::to_string(raw.size());
    const std::string after1 = std::to_string(raw.size() - 2);
    const std::string all = std::to_string(raw.size());
    const std::vector<std::string> tail(rec.events.end() - 10, rec.events.end());
    // A zero-size entry: announced, Progress with the count unchanged, done.
    const std::vector<std::string> expectedTail = {
        "EntryStarted " + At("second"),
        "Progress " + all + t,
        "EntryDone " + At("second"),
        "EntryStarted " + At("End/last1"),
        "Progress " + all + t,
        "EntryDone " + At("End/last1"),
        "EntryStarted " + At("End/last2"),
        "Progress " + all + t,
        "EntryDone " + At("End/last2"),
        "Finished " + std::to_string(compressed_.size()) + t,
    };
    EXPECT_EQ(tail, expectedTail);
    const auto middle =
        std::find(rec.events.begin(), rec.events.end(), "EntryStarted " + At("middle"));
    ASSERT_NE(middle, rec.events.end());
    EXPECT_EQ(middle[1], "Progress " + after1 + t);
    EXPECT_EQ(middle[2], "EntryDone " + At("middle"));
    for (const char* name : {"middle", "End/last1", "End/last2"}) {
        ASSERT_TRUE(fs::is_regular_file(At(name))) << name;
        EXPECT_EQ(fs::file_size(At(name)), 0u) << name;
    }
}

TEST_F(PayloadExtractorTest, EmptyArchiveSucceeds) {
    Recorder rec;
    ASSERT_TRUE(Run(rec, payloadtest::RawPayload({})));
    EXPECT_EQ(rec.Steps(),
              (std::vector<std::string>{"Started",
                                        "Finished " + std::to_string(compressed_.size()) + "/12"}));
    EXPECT_EQ(rec.events[1], "Progress 12/12");
    EXPECT_FALSE(fs::exists(install));
}

TEST_F(PayloadExtractorTest, HeaderAndTableSplitAtEveryByte) {
    const std::string raw = payloadtest::RawPayload(kThree);
    const std::size_t tableSize = payloadtest::TableOf(kThree).size();
    using Mode = mw::PayloadExtractor::Mode;
    // Offers the stream in pieces cut at `cuts`; returns the steps reported
    // (Progress left out) and, when writing, the files' contents.
    auto run = [&](Mode mode, const std::vector<std::size_t>& cuts) {
        fs::remove_all(install);
        Recorder rec;
        mw::PayloadExtractor x(Folders(), rec.Callback(), mode);
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            payloadtest::Offer(x, raw.substr(from, cut - from));
            from = cut;
        }
        payloadtest::Offer(x, raw.substr(from));
        x.Finish();
        EXPECT_EQ(x.processed(), raw.size());
        std::vector<std::string> result = rec.Steps();
        if (mode == Mode::Write)
            for (const char* f : {"a.bin", "Sub/empty.txt", "Sub/Deeper/c.txt"})
                result.push_back(mwtest::ReadFile(At(f)));
        return result;
    };
    for (Mode mode : {Mode::Check, Mode::Write}) {
        const auto whole = run(mode, {});
        ASSERT_EQ(whole.size(), mode == Mode::Write ? 9u : 6u);
        // One cut anywhere in the header and the table, and just past it;
        // writing files, a sample of those cuts.
        for (std::size_t cut = 1; cut <= tableSize + 1; ++cut) {
            if (mode == Mode::Write && cut > 13 && cut + 2 < tableSize) continue;
            EXPECT_EQ(run(mode, {cut}), whole) << "cut at " << cut;
        }
        // The header in two pieces and the table in many.
        for (std::size_t step : {1ul, 2ul, 3ul, 5ul, 7ul, 13ul}) {
            std::vector<std::size_t> cuts;
            for (std::size_t c = step; c < tableSize + step; c += step) cuts.push_back(c);
            EXPECT_EQ(run(mode, cuts), whole) << "pieces of " << step;
        }
    }
}

TEST_F(PayloadExtractorTest, PieceSpanningTwoFilesIsSplitBetweenThem) {
    const std::vector<RawEntry> entries = {
        Raw("one", "<InstallPath>", "AAAAAAAAAA"),
        Raw("none", "<InstallPath>", ""),
        Raw("two", "<InstallPath>", "BBBBBBBBBBBBBBBBBBBB"),
    };
    const std::string raw = payloadtest::RawPayload(entries);
    const std::size_t tableSize = payloadtest::TableOf(entries).size();
    Recorder rec;
    mw::PayloadExtractor x(Folders(), rec.Callback());
    payloadtest::Offer(x, raw.substr(0, tableSize + 4));
    // One piece: the last 6 bytes of "one", then the first 6 of "two".
    const std::string piece = raw.substr(tableSize + 4, 12);
    EXPECT_EQ(x.Write(piece.data(), piece.size()), 6u);  // the rest of "one" only
    EXPECT_EQ(x.Write(piece.data() + 6, 6), 0u);         // "none": created, takes nothing
    EXPECT_EQ(x.Write(piece.data() + 6, 6), 6u);         // the start of "two"
    EXPECT_EQ(mwtest::ReadFile(At("one")), "AAAAAAAAAA");
    EXPECT_TRUE(fs::exists(At("none")));
    payloadtest::Offer(x, raw.substr(tableSize + 16));
    x.Finish();
    EXPECT_EQ(mwtest::ReadFile(At("two")), "BBBBBBBBBBBBBBBBBBBB");
}

TEST_F(PayloadExtractorTest, SkipLeavesTheFileAndStillCounts) {
    fs::create_directories(install);
    mwtest::WriteFile(At("kept"), "already there");
    const std::vector<RawEntry> entries = {
        Raw("kept", "<InstallPath>", "new content"),
        Raw("written", "<InstallPath>", "xyz"),
    };
    Recorder rec;
    rec.answerFor[At("kept")] = notification::result::Skip;
    // Skip means nothing outside EntryStarted.
    rec.answerAt[1] = notification::result::Skip;
    const std::string raw = payloadtest::RawPayload(entries);
    ASSERT_TRUE(Run(rec, raw));
    EXPECT_EQ(mwtest::ReadFile(At("kept")), "already there");
    EXPECT_EQ(mwtest::ReadFile(At("written")), "xyz");
    const std::vector<std::string> expected = {
        "Started",
        "EntryStarted " + At("kept"),
        "EntryStarted " + At("written"),
        "EntryDone " + At("written"),
        "Finished " + std::to_string(compressed_.size()) + "/" + std::to_string(raw.size()),
    };
    EXPECT_EQ(rec.Steps(), expected);
    const auto kept = std::find(rec.events.begin(), rec.events.end(), expected[1]);
    const std::string afterKept = std::to_string(payloadtest::TableOf(entries).size() + 11);
    EXPECT_EQ(kept[1], "Progress " + afterKept + "/" + std::to_string(raw.size()));
}

TEST_F(PayloadExtractorTest, AbortFromEachNotification) {
    const std::vector<RawEntry> entries = {
        Raw("a", "<InstallPath>", "aaaa"),
        Raw("z", "<InstallPath>", ""),
    };
    Recorder reference;
    ASSERT_TRUE(Run(reference, entries));
    const std::vector<std::string> all = reference.events;
    for (std::size_t i = 0; i < all.size(); ++i) {
        fs::remove_all(install);
        Recorder rec;
        rec.answerAt[i] = notification::result::Abort;
        const bool ok = Run(rec, entries);
        const std::string& at = all[i];
        SCOPED_TRACE(at);
        if (at == "Started" || at.rfind("Finished", 0) == 0) {
            // Their answers are not read.
            EXPECT_TRUE(ok);
            EXPECT_EQ(rec.events, all);
            continue;
        }
        EXPECT_FALSE(ok);
        ASSERT_EQ(rec.failures.size(), 1u);
        // The path is that of the entry being written once it was announced.
        std::string path;
        if (at.rfind("EntryDone ", 0) == 0) path = at.substr(10);
        if (at.rfind("Progress", 0) == 0 && i > 1) path = all[i - 1].substr(13);
        EXPECT_EQ(rec.events.back(), Failed(CompressError::Interrupted, path));
        EXPECT_EQ(rec.events.size(), i + 2);
    }
}

TEST_F(PayloadExtractorTest, OneByteMoreOrLessIsUnexpected) {
    const std::string raw = payloadtest::RawPayload(kThree);
    {
        Recorder rec;
        EXPECT_FALSE(Run(rec, raw + "!"));
        // Everything the table describes was written; the byte past it fails.
        EXPECT_EQ(mwtest::ReadFile(At("Sub/Deeper/c.txt")), "the last file");
        EXPECT_EQ(rec.events.back(), Failed(CompressError::UnexpectedError));
        EXPECT_EQ(rec.failures.size(), 1u);
    }
    fs::remove_all(install);
    {
        Recorder rec;
        EXPECT_FALSE(Run(rec, raw.substr(0, raw.size() - 1)));
        EXPECT_EQ(mwtest::ReadFile(At("a.bin")), kThree[0].content);
        EXPECT_EQ(rec.events.back(),
                  Failed(CompressError::UnexpectedError, At("Sub/Deeper/c.txt")));
        EXPECT_EQ(
            std::count(rec.events.begin(), rec.events.end(), "EntryDone " + At("Sub/Deeper/c.txt")),
            0);
    }
    fs::remove_all(install);
    {
        // Cut inside the table: nothing is written at all.
        Recorder rec;
        EXPECT_FALSE(Run(rec, raw.substr(0, 20)));
        EXPECT_EQ(rec.events,
                  (std::vector<std::string>{"Started", Failed(CompressError::UnexpectedError)}));
        EXPECT_FALSE(fs::exists(install));
    }
}

TEST_F(PayloadExtractorTest, ChangedByteWithCrcUnchangedFailsAfterWriting) {
    std::vector<RawEntry> entries = kThree;
    const std::string good = entries[0].content;
    entries[0].crc = mw::Crc32Of(good.data(), good.size());
    entries[0].content[4321] ^= 0x40;
    Recorder rec;
    EXPECT_FALSE(Run(rec, entries));
    EXPECT_EQ(rec.events.back(), Failed(CompressError::InvalidChecksum, At("a.bin")));
    // The file stays as written; rolling back is the journal's business.
    EXPECT_EQ(mwtest::ReadFile(At("a.bin")), entries[0].content);
    EXPECT_FALSE(fs::exists(At("Sub")));
}

TEST_F(PayloadExtractorTest, ReadOnlyDestinationIsOverwritten) {
    fs::create_directories(install);
    mwtest::WriteFile(At("ro"), "old");
    ::chmod(At("ro").c_str(), 0444);
    Recorder rec;
    ASSERT_TRUE(Run(rec, {Raw("ro", "<InstallPath>", "new")}));
    EXPECT_EQ(mwtest::ReadFile(At("ro")), "new");
    struct stat st {};
    ASSERT_EQ(::stat(At("ro").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(PayloadExtractorTest, ProgramAndUninstallerAreExecutable) {
    Recorder rec;
    ASSERT_TRUE(Run(rec, {Raw("Arbolux.exe", "<InstallPath>", "p", 1),
                          Raw("Uninstall.exe", "<InstallPath>", "u", 2),
                          Raw("data", "<InstallPath>", "d", 3)}));
    EXPECT_EQ(::access(At("Arbolux.exe").c_str(), X_OK), 0);
    EXPECT_EQ(::access(At("Uninstall.exe").c_str(), X_OK), 0);
    struct stat st {};
    ASSERT_EQ(::stat(At("data").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST_F(PayloadExtractorTest, FileNameThatIsNoPlainElementFailsBeforeWriting) {
    for (const char* source : {"", "dir\\", "..", "x/.", "a\\.."}) {
        Recorder rec;
        EXPECT_FALSE(
            Run(rec, {Raw("fine", "<InstallPath>", "1"), Raw(source, "<InstallPath>", "2")}))
            << source;
        EXPECT_EQ(rec.events,
                  (std::vector<std::string>{"Started", Failed(CompressError::UnexpectedError)}))
            << source;
        EXPECT_FALSE(fs::exists(install)) << source;
    }
}

TEST_F(PayloadExtractorTest, BadTableSizeFailsOnTheHeader) {
    for (uint64_t size : {uint64_t(0), uint64_t(11), mw::kPayloadMaxTableSize + 1, ~uint64_t(0)}) {
        std::string header;
        for (int i = 0; i < 8; ++i) header += static_cast<char>((size >> (8 * i)) & 0xFF);
        mw::PayloadExtractor x(Folders(), nullptr);
        EXPECT_EQ(x.Write(header.data(), 7), 7u);
        try {
            x.Write(header.data() + 7, 1);
            ADD_FAILURE() << size << ": accepted";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), mw::make_error_code(CompressError::UnexpectedError));
        }
        // From now on every offer is taken and ignored.
        EXPECT_TRUE(x.broken());
        EXPECT_EQ(x.Write("abcdef", 6), 6u);
        EXPECT_EQ(x.processed(), 0u);
    }
}

TEST_F(PayloadExtractorTest, LinkPlantedAtDestinationIsNotFollowed) {
    fs::create_directories(install);
    const std::string outside = dir / "outside";
    mwtest::WriteFile(outside, "precious");
    fs::create_symlink(outside, At("victim"));
    Recorder rec;
    EXPECT_FALSE(Run(rec, {Raw("victim", "<InstallPath>", "overwritten?")}));
    EXPECT_EQ(rec.events.back(), "Failed system:" + std::to_string(ELOOP) + " " + At("victim"));
    EXPECT_EQ(mwtest::ReadFile(outside), "precious");
}

TEST_F(PayloadExtractorTest, DestinationThatIsAFolderFails) {
    fs::create_directories(At("taken"));
    Recorder rec;
    EXPECT_FALSE(Run(rec, {Raw("taken", "<InstallPath>", "x")}));
    EXPECT_EQ(rec.failures.size(), 1u);
    EXPECT_EQ(rec.failures[0].category(), std::system_category());
    EXPECT_TRUE(fs::is_directory(At("taken")));
}

TEST_F(PayloadExtractorTest, EveryFileSystemFailureGivesOneFailedWithItsOwnCode) {
    const std::vector<RawEntry> entries = {
        Raw("a", "<InstallPath>\\One", payloadtest::Filler(9000, 3)),
        Raw("b", "<InstallPath>\\Two", "bee"),
        Raw("c", "<InstallPath>\\Two", ""),
    };
    auto real = mw::platform::MakeRealFileSystem();
    mw::platform::FaultyFileSystem faulty(*real);
    const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faulty);
    Recorder clean;
    ASSERT_TRUE(Run(clean, entries));
    const uint64_t operations = faulty.Count();
    ASSERT_GT(operations, 10u);
    std::set<std::string> failedOperations;
    for (uint64_t n = 1; n <= operations; ++n) {
        fs::remove_all(install);
        faulty.ResetCount();
        faulty.FailAt(n, ENOSPC);
        errno = EACCES;  // stale, must not show up
        Recorder rec;
        const bool ok = Run(rec, entries);
        SCOPED_TRACE("operation " + std::to_string(n) + " " + faulty.LastFailed());
        EXPECT_FALSE(ok);
        ASSERT_EQ(rec.failures.size(), 1u);
        EXPECT_EQ(rec.failures[0], std::error_code(ENOSPC, std::system_category()));
        EXPECT_EQ(rec.events.back().find("Failed system:"), 0u);
        failedOperations.insert(faulty.LastFailed());
    }
    // Among them a write of the output and a read of the check of the
    // written file: both thrown as file errors, both in the system category.
    EXPECT_TRUE(failedOperations.count("Write"));
    EXPECT_TRUE(failedOperations.count("Read"));
}

TEST_F(PayloadExtractorTest, DamagedStreamFoundByVerifyWritesNothing) {
    const std::string raw = payloadtest::RawPayload(kThree);
    const std::string good = payloadtest::Bzip2(raw);
    struct Case {
        const char* what;
        std::string compressed;
        CompressError error;
    };
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    std::string badMagic = good;
    badMagic[0] = 'X';
    // The stream must end with the resource: bytes after its end, even a
    // second valid stream, are not decoded and fail the check (4), not the
    // decoder (6).
    const Case cases[] = {
        {"changed byte", flipped, CompressError::Bzip2Error},
        {"truncated", good.substr(0, good.size() - 1), CompressError::Bzip2Error},
        {"half", good.substr(0, good.size() / 2), CompressError::Bzip2Error},
        {"not bzip2", raw, CompressError::Bzip2Error},
        {"bad magic", badMagic, CompressError::Bzip2Error},
        {"empty", "", CompressError::Bzip2Error},
        {"garbage after the stream", good + "garbage", CompressError::VerificationFailed},
        {"one byte after the stream", good + std::string(1, '\0'),
         CompressError::VerificationFailed},
        {"a second stream", good + good, CompressError::VerificationFailed},
    };
    for (const auto& c : cases) {
        mw::PayloadSource source;
        source.OpenMemory(c.compressed.data(), c.compressed.size());
        Recorder rec;
        // What the install sequence does on Started; a leftover errno from an
        // unrelated call must not replace the decoder's own error.
        rec.onStarted = [&] {
            errno = EIO;
            if (!source.Verify()) throw std::system_error(CompressError::VerificationFailed);
            source.Rewind();
        };
        EXPECT_FALSE(mw::Extract(source, install, "", "", rec.Callback())) << c.what;
        EXPECT_EQ(rec.events, (std::vector<std::string>{"Started", Failed(c.error)})) << c.what;
        EXPECT_FALSE(fs::exists(install)) << c.what;
    }
}

TEST_F(PayloadExtractorTest, DamageMetWithoutVerifyStillFailsOnce) {
    std::string damaged = payloadtest::Bzip2(payloadtest::RawPayload(kThree));
    damaged[damaged.size() / 2] ^= 0x10;
    mw::PayloadSource source;
    source.OpenMemory(damaged.data(), damaged.size());
    Recorder rec;
    EXPECT_FALSE(mw::Extract(source, install, "", "", rec.Callback()));
    ASSERT_EQ(rec.failures.size(), 1u);
    EXPECT_EQ(rec.failures[0].category(), mw::CompressCategory());
}

TEST(ExtractionErrorCode, ByExceptionType) {
    auto code = [](auto e) { return mw::ExtractionErrorCode(std::make_exception_ptr(e)); };
    const auto sys = std::error_code(EACCES, std::system_category());
    EXPECT_EQ(code(boost::iostreams::bzip2_error(-4)),
              mw::make_error_code(CompressError::Bzip2Error));
    EXPECT_EQ(code(std::system_error(sys)), sys);
    EXPECT_EQ(code(std::system_error(mw::make_error_code(CompressError::Interrupted))),
              mw::make_error_code(CompressError::Interrupted));
    EXPECT_EQ(code(std::ios_base::failure("x")), std::error_code(std::io_errc::stream));
    EXPECT_EQ(code(fs::filesystem_error("x", "/p", sys)), sys);
    // The category is kept as thrown, never re-read from the value.
    EXPECT_EQ(
        code(fs::filesystem_error("x", "/p", std::error_code(ENOENT, std::generic_category()))),
        std::error_code(ENOENT, std::generic_category()));
    EXPECT_EQ(code(std::runtime_error("x")), mw::make_error_code(CompressError::UnexpectedError));
    EXPECT_EQ(code(std::bad_alloc()), mw::make_error_code(CompressError::UnexpectedError));
}

}  // namespace

namespace {

// Extraction into destinations named by tokens, against a staged machine
// root and a scratch home.
class PayloadTokensTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(root + "/var/opt");
        setenv("MW_ROOT", root.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        unsetenv("PKEXEC_UID");
        unsetenv("SUDO_UID");
        mw::platform::ResetRootsForTesting();
    }
    void TearDown() override {
        unsetenv("MW_ROOT");
        mw::platform::ResetRootsForTesting();
    }

    bool Run(Recorder& rec, const std::vector<RawEntry>& entries, const std::string& installFolder,
             const std::string& sample = "", const std::string& temp = "") {
        const std::string compressed = payloadtest::Bzip2(payloadtest::RawPayload(entries));
        mw::PayloadSource source;
        source.OpenMemory(compressed.data(), compressed.size());
        return mw::Extract(source, installFolder, sample, temp, rec.Callback());
    }

    mwtest::ScratchDir dir;
    std::string root = dir / "root";
    std::string home = dir / "home";
    std::string install = dir / "install";
    std::string shared = root + "/var/opt/Meridan Works";
};

// The ACL entries for all users ("other"), of the folder and its default.
std::string OtherEntries(const std::string& path) {
    std::string out;
    for (acl_type_t type : {ACL_TYPE_ACCESS, ACL_TYPE_DEFAULT}) {
        const mw::platform::AclHandle acl(acl_get_file(path.c_str(), type));
        if (!acl) return "<no ACL>";
        acl_entry_t entry;
        for (int id = ACL_FIRST_ENTRY; acl_get_entry(acl.get(), id, &entry) == 1;
             id = ACL_NEXT_ENTRY) {
            acl_tag_t tag;
            acl_get_tag_type(entry, &tag);
            if (tag != ACL_OTHER) continue;
            acl_permset_t perms;
            acl_get_permset(entry, &perms);
            out += type == ACL_TYPE_DEFAULT ? "d:" : "";
            out += acl_get_perm(perms, ACL_READ) ? 'r' : '-';
            out += acl_get_perm(perms, ACL_WRITE) ? 'w' : '-';
            out += acl_get_perm(perms, ACL_EXECUTE) ? 'x' : '-';
            out += ' ';
        }
    }
    return out;
}

TEST_F(PayloadTokensTest, SharedFoldersAreOpenedOnceWhenTheFirstFileIsWritten) {
    const std::string textures = shared + "/Textures/Arbolux";
    const std::vector<RawEntry> entries = {
        Raw("skipped.jpg", "<CommonData>\\Meridan Works\\Skipped", "s"),
        Raw("one.jpg", "<CommonData>\\Meridan Works\\Textures\\Arbolux", "1"),
        Raw("two.jpg", "<CommonData>\\Meridan Works\\Textures\\Arbolux", "2"),
        Raw("private.dat", "<UserData>\\Meridan Works\\Arbolux", "p"),
    };
    Recorder rec;
    rec.answerFor[shared + "/Skipped/skipped.jpg"] = notification::result::Skip;
    // Between the two textures the access is taken away again: a second grant
    // would bring it back.
    bool tookBack = false;
    auto inner = rec.Callback();
    auto callback = [&](const notification& n) {
        const auto answer = inner(n);
        if (const auto* done = std::get_if<notification::EntryDone>(&n.value);
            done && done->entry.destination == textures + "/one.jpg") {
            for (const std::string& f : {shared, shared + "/Textures", textures})
                fs::permissions(f, fs::perms::others_all, fs::perm_options::remove);
            tookBack = true;
        }
        return answer;
    };
    const std::string compressed = payloadtest::Bzip2(payloadtest::RawPayload(entries));
    mw::PayloadSource source;
    source.OpenMemory(compressed.data(), compressed.size());
    ASSERT_TRUE(mw::Extract(source, install, "", "", callback));
    ASSERT_TRUE(tookBack);
    if (OtherEntries(textures) == "<no ACL>") GTEST_SKIP() << "no ACLs on this file system";
    for (const std::string& f : {shared, shared + "/Textures", textures})
        EXPECT_EQ(OtherEntries(f), "--- d:rwx ") << f;  // granted once, then taken back
    // A skipped entry writes nothing, so its folder is neither made nor opened.
    EXPECT_FALSE(fs::exists(shared + "/Skipped"));
    // The user's own folders are never opened to the others.
    EXPECT_EQ(mwtest::ReadFile(home + "/.local/share/Meridan Works/Arbolux/private.dat"), "p");
    EXPECT_EQ(OtherEntries(home + "/.local/share/Meridan Works/Arbolux"), "r-x ");
}

TEST_F(PayloadTokensTest, LinkPlantedBelowASharedFolderFailsItsEntry) {
    const std::vector<RawEntry> entries = {
        Raw("one.jpg", "<CommonData>\\Meridan Works\\Textures\\Arbolux", "1"),
    };
    Recorder first;
    ASSERT_TRUE(Run(first, entries, install));
    if (OtherEntries(shared) == "<no ACL>") GTEST_SKIP() << "no ACLs on this file system";
    // Anyone may now write in the shared folder; someone swaps a folder below
    // it for a link to a folder of root's.
    const std::string target = dir / "elsewhere";
    fs::create_directories(target + "/Arbolux");
    fs::rename(shared + "/Textures", dir / "moved");
    fs::create_symlink(target, shared + "/Textures");
    Recorder second;
    EXPECT_FALSE(Run(second, entries, install));
    ASSERT_EQ(second.failures.size(), 1u);
    EXPECT_EQ(second.failures[0], std::error_code(ELOOP, std::system_category()));
    EXPECT_TRUE(fs::is_empty(target + "/Arbolux"));
    EXPECT_EQ(OtherEntries(target), "r-x ");
}

TEST_F(PayloadTokensTest, FoldersOfTheTokens) {
    const std::string sample = dir / "samples";
    struct Case {
        const char* what;
        std::string directory, installFolder, sampleName, temp, expected;
    };
    const Case cases[] = {
        {"temporary", "<Temporary>", install, "", dir / "work", dir / "work/f"},
        {"temporary with no work folder", "<Temporary>", install, "", "", install + "/f"},
        {"sample folder by name", "<SamplePath>\\Sub", install, "Arbolux Examples", "",
         home + "/Desktop/Arbolux Examples/Sub/f"},
        {"sample folder absolute", "<SamplePath>\\Sub", install, sample, "", sample + "/Sub/f"},
        {"sample folder unnamed", "<SamplePath>", install, "", "", home + "/Desktop/f"},
        {"plain absolute folder", dir / "plain\\x", install, "", "", dir / "plain/x/f"},
    };
    for (const auto& c : cases) {
        Recorder rec;
        EXPECT_TRUE(
            Run(rec, {Raw("f", c.directory, "content")}, c.installFolder, c.sampleName, c.temp))
            << c.what << ": " << (rec.events.empty() ? "" : rec.events.back());
        EXPECT_EQ(mwtest::ReadFile(c.expected), "content") << c.what;
    }
}

TEST_F(PayloadTokensTest, FolderThatCannotBeDeterminedFailsBeforeWriting) {
    const std::string cwd = fs::current_path();
    struct Case {
        const char* what;
        std::string directory, installFolder, temp;
    };
    const Case cases[] = {
        {"empty install folder", "<InstallPath>\\Lang", "", ""},
        {"relative install folder", "<InstallPath>", "relative/install", ""},
        {"temporary falling back on an empty install folder", "<Temporary>", "", ""},
        {"relative work folder", "<Temporary>", install, "work"},
        {"lower-case token", "<installpath>\\Lang", install, ""},
        {"unknown token", "<Elsewhere>\\Lang", install, ""},
        {"relative plain folder", "Sub\\Dir", install, ""},
        {"empty folder", "", install, ""},
        {"up and out", "<InstallPath>\\..\\..\\etc", install, ""},
        {"windows folder", "<WinDir>", install, ""},
        {"plain absolute folder going up", dir / "a/../b", install, ""},
        {"plain absolute folder going up, Windows separators", dir / "a\\..\\b", install, ""},
    };
    fs::current_path(dir.path());
    for (const auto& c : cases) {
        Recorder rec;
        EXPECT_FALSE(Run(rec, {Raw("early", "<InstallPath>", "1"), Raw("f", c.directory, "2")},
                         c.installFolder, "", c.temp))
            << c.what;
        EXPECT_EQ(rec.events,
                  (std::vector<std::string>{"Started", Failed(CompressError::UnexpectedError)}))
            << c.what;
        // Nothing at all was written, not even the entry before.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
            << c.what;
    }
    fs::current_path(cwd);
}

}  // namespace
