// One table of registry behaviours, run against the in-memory fake and the
// SQLite store alike so the two cannot drift apart.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/os_error.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "platform/testing/registry_fake.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

enum class Op {
    Create,
    Exists,
    Set,
    Get,
    Delete,
    DeleteTree,
    SubKeys,
    Values,
    Save,
    Restore,
    Write
};

// One call and what it must give. `text` is the expected result for
// Exists ("1"/"0"), SubKeys and Values ("a|b"), the file for Save/Restore
// (relative to the case's scratch folder), and the file content for Write.
struct Step {
    Op op;
    std::string key;
    std::string name = {};
    std::optional<RegValue> value = std::nullopt;  // to write (Set) or to expect (Get)
    std::errc error = std::errc();                 // std::errc() means success
    std::string text = {};
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

const RegValue kText = RegValue::String("Arbolux");
const RegValue kOther = RegValue::String("other", RegType::ExpandSz);
constexpr auto kMissing = std::errc::no_such_file_or_directory;
constexpr auto kInvalid = std::errc::invalid_argument;

// "d\\d\\...": `levels` levels.
std::string Deep(int levels) {
    std::string path = "d";
    for (int i = 1; i < levels; ++i) path += "\\d";
    return path;
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"NestingIsLimitedTo512Levels",
         {{Op::Create, Deep(513), {}, {}, kInvalid},
          {Op::Exists, "d", {}, {}, {}, "0"},
          {Op::Create, Deep(512)},
          {Op::Exists, Deep(512), {}, {}, {}, "1"},
          {Op::Save, "d", {}, {}, {}, "deep"},
          {Op::Create, "top"},
          {Op::Restore, "top", {}, {}, {}, "deep"},  // 1 + 511 levels fit
          {Op::Create, "top\\one"},
          {Op::Restore, "top\\one", {}, {}, kInvalid, "deep"},  // 2 + 511 do not
          {Op::SubKeys, "top\\one", {}, {}, {}, ""}}},
        {"CreateMakesParentsAndIgnoresCase",
         {{Op::Create, "Software\\Meridan Works\\Arbolux 7"},
          {Op::Exists, "Software", {}, {}, {}, "1"},
          {Op::Exists, "SOFTWARE\\meridan works", {}, {}, {}, "1"},
          {Op::Exists, "Software\\Meridan", {}, {}, {}, "0"},
          {Op::Exists, "Software\\Meridan Works\\Arbolux 7\\x", {}, {}, {}, "0"},
          {Op::Create, "software\\MERIDAN WORKS"},
          {Op::SubKeys, "Software", {}, {}, {}, "Meridan Works"},
          {Op::Exists, "", {}, {}, {}, "1"}}},
        {"NamesFoldBeyondAscii",
         {{Op::Create, "\xC3\x84rger\\\xCE\xA3"},                   // Ärger\Σ
          {Op::Exists, "\xC3\xA4RGER\\\xCF\x82", {}, {}, {}, "1"},  // äRGER\ς
          {Op::Create,
           "Stra\xC3\x9F"
           "e"},
          {Op::Exists, "STRASSE", {}, {}, {}, "0"},
          {Op::Set, "\xC3\x84rger", "\xC3\x89t\xC3\xA9", kText},  // Été
          {Op::Get, "\xC3\xA4rger", "\xC3\xA9T\xC3\x89", kText}}},
        {"BadPathsAndNamesAreRefused",
         {{Op::Create, "\\Software", {}, {}, kInvalid},
          {Op::Create, "Software\\", {}, {}, kInvalid},
          {Op::Create, "a\\\\b", {}, {}, kInvalid},
          {Op::Create, "a\xFF", {}, {}, kInvalid},
          {Op::Exists, "a\\\\b", {}, {}, kInvalid, "0"},
          {Op::Create, "a"},
          {Op::Set, "a", "\xFF", kText, kInvalid},
          {Op::Get, "a", "\xFF", std::nullopt, kInvalid},
          {Op::SubKeys, "", {}, {}, {}, "a"}}},
        {"ValuesNeedTheirKey",
         {{Op::Set, "Nowhere", "v", kText, kMissing},
          {Op::Get, "Nowhere", "v"},
          {Op::Create, "K"},
          {Op::Get, "K", "v"},
          {Op::Values, "K", {}, {}, {}, ""},
          {Op::Values, "Nowhere", {}, {}, kMissing, ""},
          {Op::SubKeys, "Nowhere", {}, {}, kMissing, ""}}},
        {"SetReplacesTypeAndBytesKeepsFirstSpelling",
         {{Op::Create, "K"},
          {Op::Set, "K", "Path", kText},
          {Op::Set, "K", "PATH", kOther},
          {Op::Get, "k", "path", kOther},
          {Op::Values, "K", {}, {}, {}, "Path"}}},
        {"BytesAreKeptExactly",
         {{Op::Create, "K"},
          {Op::Set, "K", "odd", RegValue{RegType::Binary, {1, 2, 3}}},
          {Op::Get, "K", "odd", RegValue{RegType::Binary, {1, 2, 3}}},
          {Op::Set, "K", "empty", RegValue{RegType::Sz, {}}},
          {Op::Get, "K", "empty", RegValue{RegType::Sz, {}}},
          {Op::Set, "K", "zeros", RegValue{RegType::Binary, {0, 0, 'a', 0}}},
          {Op::Get, "K", "zeros", RegValue{RegType::Binary, {0, 0, 'a', 0}}},
          {Op::Set, "K", "odd type", RegValue{static_cast<RegType>(0xFFFFFFFF), {9}}},
          {Op::Get, "K", "odd type", RegValue{static_cast<RegType>(0xFFFFFFFF), {9}}},
          {Op::Set, "K", "", RegValue::Dword(0xDEADBEEF)},
          {Op::Get, "K", "", RegValue::Dword(0xDEADBEEF)},
          {Op::Values, "K", {}, {}, {}, "|empty|odd|odd type|zeros"}}},
        {"DeleteValue",
         {{Op::Create, "K"},
          {Op::Set, "K", "a", kText},
          {Op::Set, "K", "b", kText},
          {Op::Delete, "K", "A"},
          {Op::Values, "K", {}, {}, {}, "b"},
          {Op::Delete, "K", "a", {}, kMissing},
          {Op::Delete, "Nowhere", "a", {}, kMissing}}},
        {"DeleteTreeTakesEverythingBelowAndNothingBeside",
         {{Op::Create, "S\\A\\deep\\deeper"},
          {Op::Create, "S\\AB"},
          {Op::Set, "S\\A\\deep", "v", kText},
          {Op::Set, "S\\AB", "v", kText},
          {Op::DeleteTree, "s\\a"},
          {Op::SubKeys, "S", {}, {}, {}, "AB"},
          {Op::Get, "S\\AB", "v", kText},
          {Op::Create, "S\\A\\deep"},
          {Op::Get, "S\\A\\deep", "v"},  // no stale value comes back
          {Op::DeleteTree, "S\\Nowhere", {}, {}, kMissing},
          {Op::DeleteTree, "", {}, {}, kInvalid},
          {Op::Exists, "S", {}, {}, {}, "1"}}},
        {"ListingsAreSortedByFoldedName",
         {{Op::Create, "K\\b"},
          {Op::Create, "K\\A"},
          {Op::Create, "K\\C"},
          {Op::Create, "K\\\xC3\xA4"},
          {Op::SubKeys, "K", {}, {}, {}, "A|b|C|\xC3\xA4"},
          {Op::Set, "K", "y", kText},
          {Op::Set, "K", "X", kText},
          {Op::Values, "K", {}, {}, {}, "X|y"}}},
        {"SaveAndRestoreRoundTrip",
         {{Op::Create, "U\\Arbolux 7\\Sub\\Deeper"},
          {Op::Set, "U\\Arbolux 7", "DisplayName", kText},
          {Op::Set, "U\\Arbolux 7\\Sub", "n", RegValue::Dword(5)},
          {Op::Save, "U\\Arbolux 7", {}, {}, {}, "saved"},
          {Op::Set, "U\\Arbolux 7", "DisplayName", kOther},
          {Op::Set, "U\\Arbolux 7", "Added", kOther},
          {Op::DeleteTree, "U\\Arbolux 7\\Sub"},
          {Op::Create, "U\\Arbolux 7\\New\\Child"},
          {Op::Restore, "U\\Arbolux 7", {}, {}, {}, "saved"},
          {Op::Get, "U\\Arbolux 7", "DisplayName", kText},
          {Op::Values, "U\\Arbolux 7", {}, {}, {}, "DisplayName"},
          {Op::SubKeys, "U\\Arbolux 7", {}, {}, {}, "Sub"},
          {Op::SubKeys, "U\\Arbolux 7\\Sub", {}, {}, {}, "Deeper"},
          {Op::Get, "U\\Arbolux 7\\Sub", "n", RegValue::Dword(5)},
          // Into another key: a copy, and the key keeps its own name.
          {Op::Create, "Copy"},
          {Op::Restore, "Copy", {}, {}, {}, "saved"},
          {Op::Get, "Copy\\Sub", "n", RegValue::Dword(5)},
          {Op::SubKeys, "", {}, {}, {}, "Copy|U"}}},
        {"SaveAndRestoreRefusals",
         {{Op::Create, "K"},
          {Op::Set, "K", "v", kText},
          {Op::Save, "K", {}, {}, {}, "saved"},
          {Op::Save, "K", {}, {}, std::errc::file_exists, "saved"},
          {Op::Save, "Nowhere", {}, {}, kMissing, "other"},
          {Op::Restore, "Nowhere", {}, {}, kMissing, "saved"},
          {Op::Restore, "K", {}, {}, kMissing, "no such file"},
          {Op::Write, "", {}, {}, {}, "garbage"},
          {Op::Restore, "K", {}, {}, std::errc::bad_message, "garbage"},
          {Op::Get, "K", "v", kText},
          {Op::Create, "Empty"},
          {Op::Save, "Empty", {}, {}, {}, "empty"},
          {Op::Restore, "K", {}, {}, {}, "empty"},
          {Op::Values, "K", {}, {}, {}, ""}}},
    };
    return cases;
}

enum class Store { Fake, Sqlite };

std::string Join(const std::vector<std::string>& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) out += (i ? "|" : "") + v[i];
    return out;
}

class RegistryTable : public ::testing::TestWithParam<std::tuple<Store, size_t>> {
protected:
    void SetUp() override {
        if (std::get<0>(GetParam()) == Store::Fake) {
            reg_ = MakeFakeRegistry();
        } else {
            std::error_code ec;
            reg_ = OpenRegistryAt(dir_ / "registry.db", ec);
            ASSERT_TRUE(reg_) << ec.message();
        }
    }
    mwtest::ScratchDir dir_;
    std::unique_ptr<Registry> reg_;
};

TEST_P(RegistryTable, Case) {
    const Case& c = Cases()[std::get<1>(GetParam())];
    Registry& r = *reg_;
    int n = 0;
    for (const Step& s : c.steps) {
        SCOPED_TRACE("step " + std::to_string(n++) + " key \"" + s.key + "\" name \"" + s.name +
                     "\"");
        const auto want = s.error == std::errc() ? std::error_code() : OsError(s.error);
        std::error_code ec;
        switch (s.op) {
            case Op::Create:
                ec = r.CreateKey(s.key);
                break;
            case Op::Exists:
                EXPECT_EQ(r.KeyExists(s.key, ec) ? "1" : "0", s.text);
                break;
            case Op::Set:
                ec = r.SetValue(s.key, s.name, *s.value);
                break;
            case Op::Get:
                EXPECT_EQ(r.GetValue(s.key, s.name, ec), s.value);
                break;
            case Op::Delete:
                ec = r.DeleteValue(s.key, s.name);
                break;
            case Op::DeleteTree:
                ec = r.DeleteTree(s.key);
                break;
            case Op::SubKeys:
                EXPECT_EQ(Join(r.SubKeys(s.key, ec)), s.text);
                break;
            case Op::Values:
                EXPECT_EQ(Join(r.ValueNames(s.key, ec)), s.text);
                break;
            case Op::Save:
                ec = r.SaveKey(s.key, dir_ / s.text);
                break;
            case Op::Restore:
                ec = r.RestoreKey(s.key, dir_ / s.text);
                break;
            case Op::Write:
                mwtest::WriteFile(dir_ / s.text, s.text);
                break;
        }
        EXPECT_EQ(ec, want) << ec.message();
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistryTable,
                         ::testing::Combine(::testing::Values(Store::Fake, Store::Sqlite),
                                            ::testing::Range<size_t>(0, Cases().size())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Store::Fake
                                                    ? "Fake_"
                                                    : "Sqlite_") +
                                    Cases()[std::get<1>(info.param)].name;
                         });

// Both stores write the same saved-key file for the same content, and each
// restores the other's.
TEST(RegistryStores, SavedFilesAreInterchangeable) {
    mwtest::ScratchDir dir;
    std::error_code ec;
    auto real = OpenRegistryAt(dir / "registry.db", ec);
    ASSERT_TRUE(real);
    auto fake = MakeFakeRegistry();
    for (Registry* r : {real.get(), fake.get()}) {
        ASSERT_FALSE(r->CreateKey("K\\Z"));
        ASSERT_FALSE(r->CreateKey("K\\a"));
        ASSERT_FALSE(r->SetValue("K", "B", kText));
        ASSERT_FALSE(r->SetValue("K", "a", RegValue::Dword(1)));
    }
    ASSERT_FALSE(real->SaveKey("K", dir / "real"));
    ASSERT_FALSE(fake->SaveKey("K", dir / "fake"));
    EXPECT_EQ(mwtest::ReadFile(dir / "real"), mwtest::ReadFile(dir / "fake"));
    ASSERT_FALSE(real->CreateKey("FromFake"));
    ASSERT_FALSE(real->RestoreKey("FromFake", dir / "fake"));
    EXPECT_EQ(Join(real->SubKeys("FromFake", ec)), "a|Z");
}

TEST(RegistryStores, SaveDoesNotFollowALinkAndKeepsItsFilePrivate) {
    mwtest::ScratchDir dir;
    std::error_code ec;
    auto reg = OpenRegistryAt(dir / "registry.db", ec);
    ASSERT_TRUE(reg);
    ASSERT_FALSE(reg->CreateKey("K"));
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(reg->SaveKey("K", dir / "link"), std::errc::file_exists);
    struct stat st;
    EXPECT_NE(::lstat((dir / "target").c_str(), &st), 0);  // nothing made through the link
    mode_t old = ::umask(0);
    EXPECT_FALSE(reg->SaveKey("K", dir / "saved"));
    ::umask(old);
    ASSERT_EQ(::stat((dir / "saved").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // A link given to restore is not followed either.
    ASSERT_EQ(::symlink((dir / "saved").c_str(), (dir / "link2").c_str()), 0);
    EXPECT_EQ(reg->RestoreKey("K", dir / "link2"), std::errc::too_many_symbolic_link_levels);
}

// The machine store makes its folders and file readable by every user and
// writable by its owner only, whatever the umask.
TEST(RegistryStores, MachineStoreIsCreatedWithFixedModes) {
    mwtest::ScratchDir dir;
    ASSERT_EQ(::setenv("MW_ROOT", dir.path().c_str(), 1), 0);
    ResetRootsForTesting();
    mode_t old = ::umask(077);
    std::error_code ec;
    auto reg = OpenMachineRegistry(ec);
    ::umask(old);
    ::unsetenv("MW_ROOT");
    ResetRootsForTesting();
    ASSERT_TRUE(reg) << ec.message();
    ASSERT_FALSE(reg->CreateKey("Software"));
    struct Want {
        const char* path;
        mode_t mode;
    } wants[] = {{"var/lib", 0755}, {"var/lib/mw", 0755}, {"var/lib/mw/registry.db", 0644}};
    for (const auto& w : wants) {
        struct stat st;
        ASSERT_EQ(::stat((dir / w.path).c_str(), &st), 0) << w.path;
        EXPECT_EQ(st.st_mode & 07777, w.mode) << w.path;
    }
    // A second opening finds the same content.
    ASSERT_EQ(::setenv("MW_ROOT", dir.path().c_str(), 1), 0);
    ResetRootsForTesting();
    auto again = OpenMachineRegistry(ec);
    ::unsetenv("MW_ROOT");
    ResetRootsForTesting();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->KeyExists("software", ec));
}

// A link at a folder of the store's path would have made root create the
// store, and change modes, wherever it pointed; a folder another user owns
// would let that user swap the store for one of theirs.
TEST(RegistryStores, MachineStoreFollowsNoLinkAndRootTakesOnlyItsOwnFolders) {
    if (::geteuid() != 0) GTEST_SKIP() << "the checks are root's";
    mwtest::ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string victim = dir / "victim", linked = dir / "linked", theirs = dir / "theirs";
    for (const std::string& d : {victim, linked + "/var", theirs + "/var/lib"})
        ASSERT_EQ(::system(("mkdir -p '" + d + "'").c_str()), 0);
    ASSERT_EQ(::chmod(victim.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (linked + "/var/lib").c_str()), 0);
    ASSERT_EQ(::chown((theirs + "/var/lib").c_str(), 65534, 65534), 0);
    for (const std::string& root : {linked, theirs}) {
        SCOPED_TRACE(root);
        ASSERT_EQ(::setenv("MW_ROOT", root.c_str(), 1), 0);
        ResetRootsForTesting();
        std::error_code ec;
        EXPECT_EQ(OpenMachineRegistry(ec), nullptr);
        EXPECT_TRUE(ec);
        ::unsetenv("MW_ROOT");
        ResetRootsForTesting();
    }
    EXPECT_TRUE(std::filesystem::is_empty(victim));
    struct stat st;
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(theirs + "/var/lib/mw/registry.db"));
}

TEST(RegistryStores, AFileThatIsNotAStoreIsRefused) {
    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "registry.db", std::string(4096, 'x'));
    std::error_code ec;
    EXPECT_FALSE(OpenRegistryAt(dir / "registry.db", ec));
    EXPECT_TRUE(ec);
    ASSERT_EQ(::symlink((dir / "registry.db").c_str(), (dir / "link.db").c_str()), 0);
    EXPECT_FALSE(OpenRegistryAt(dir / "link.db", ec));
    EXPECT_TRUE(ec);
}

}  // namespace
}  // namespace mw::platform
