#include "platform/resources.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/resource_writer.hpp"
#include "support/test_env.hpp"

namespace mp = mw::platform;

namespace {

std::vector<std::byte> Bytes(std::string_view s) {
    auto p = reinterpret_cast<const std::byte*>(s.data());
    return {p, p + s.size()};
}
std::string Text(std::span<const std::byte> b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}
std::span<const std::byte> Span(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

void Put64(std::string& s, std::size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + i] = char(v >> (8 * i));
}
void Put32(std::string& s, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (8 * i));
}

mp::ResourceMap Sample() {
    mp::ResourceMap m;
    m[{mp::rt::Version, 1, 0}] = Bytes("version block");
    m[{mp::rt::String, 63, 1036}] = Bytes("french");
    m[{mp::rt::String, 63, 1033}] = Bytes("english");
    m[{mp::rt::Payload, 134, 0}] = std::vector<std::byte>(100000, std::byte{0x5A});
    m[{mp::rt::Manifest, 1, 0}] = Bytes("<assembly/>");
    return m;
}

std::string Image(const std::string& program, const mp::ResourceMap& m) {
    return program + Text(mp::SerializeBundle(m, program.size()));
}

}  // namespace

TEST(ResourceBundle, RoundTripInMemory) {
    const std::string program =
        "\x7f"
        "ELF program bytes";
    std::string image = Image(program, Sample());
    mp::BundleLocation where;
    ASSERT_FALSE(mp::LocateBundle(Span(image), where));
    EXPECT_EQ(where.programSize, program.size());
    std::error_code ec;
    auto bundle = mp::ParseBundle(where.bundle, ec);
    ASSERT_TRUE(bundle) << ec.message();
    auto keys = bundle->List();
    ASSERT_EQ(keys.size(), Sample().size());
    for (const auto& [key, data] : Sample()) {
        auto found = bundle->Find(key.type, key.name, key.language);
        EXPECT_EQ(std::vector<std::byte>(found.begin(), found.end()), data) << key.type;
        // In place: the span points into the image, nothing was copied.
        EXPECT_GE(reinterpret_cast<const char*>(found.data()), image.data());
        EXPECT_LT(reinterpret_cast<const char*>(found.data()), image.data() + image.size());
    }
    // Any language: the lowest language number wins; a wrong one finds nothing.
    EXPECT_EQ(Text(bundle->Find(mp::rt::String, 63)), "english");
    EXPECT_TRUE(bundle->Find(mp::rt::String, 63, 1031).empty());
    EXPECT_TRUE(bundle->Find(mp::rt::String, 64).empty());
    // Bytes the caller keeps are never given back: they would come back as zeros.
    const auto payload = bundle->Find(mp::rt::Payload, 134);
    bundle->Release(payload);
    EXPECT_TRUE(std::all_of(payload.begin(), payload.end(),
                            [](std::byte b) { return b == std::byte{0x5A}; }));
}

TEST(ResourceBundle, EmptyBundleHasNoResources) {
    std::string image = Image("prog", {});
    mp::BundleLocation where;
    ASSERT_FALSE(mp::LocateBundle(Span(image), where));
    std::error_code ec;
    auto bundle = mp::ParseBundle(where.bundle, ec);
    ASSERT_TRUE(bundle);
    EXPECT_TRUE(bundle->List().empty());
}

// Every way a trailer or index can lie must give "no bundle" or "damaged",
// never a read outside the image.
TEST(ResourceBundle, DamagedBundlesAreRefused) {
    const std::string program = "program";
    mp::ResourceMap two;
    two[{1, 1, 0}] = Bytes("aaaa");
    two[{1, 2, 0}] = Bytes("bbbb");
    const std::string good = Image(program, two);
    const std::size_t trailer = good.size() - 24;
    const std::size_t bundle = program.size();
    const std::size_t entry0 = bundle + 16, entry1 = entry0 + 32;

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        mp::ResourceError expected;
    };
    const Case cases[] = {
        {"shorter than a trailer", [](std::string& s) { s.resize(10); },
         mp::ResourceError::NoBundle},
        {"no trailer magic", [&](std::string& s) { s[trailer + 16] = 'X'; },
         mp::ResourceError::NoBundle},
        {"plain file", [](std::string& s) { s = std::string(4096, 'x'); },
         mp::ResourceError::NoBundle},
        {"bundle offset past the trailer", [&](std::string& s) { Put64(s, trailer, trailer + 1); },
         mp::ResourceError::Damaged},
        {"bundle size not reaching the trailer",
         [&](std::string& s) { Put64(s, trailer + 8, trailer - bundle - 1); },
         mp::ResourceError::Damaged},
        {"bundle size overflowing", [&](std::string& s) { Put64(s, trailer + 8, ~uint64_t{0}); },
         mp::ResourceError::Damaged},
        {"bundle offset overflowing", [&](std::string& s) { Put64(s, trailer, ~uint64_t{0} - 3); },
         mp::ResourceError::Damaged},
        {"index magic", [&](std::string& s) { s[bundle] = 'x'; }, mp::ResourceError::Damaged},
        {"count beyond the bundle", [&](std::string& s) { Put32(s, bundle + 8, 0xFFFFFFFF); },
         mp::ResourceError::Damaged},
        {"data offset inside the index", [&](std::string& s) { Put64(s, entry0 + 16, 20); },
         mp::ResourceError::Damaged},
        {"data offset past the bundle", [&](std::string& s) { Put64(s, entry1 + 16, 1u << 20); },
         mp::ResourceError::Damaged},
        {"data size past the bundle", [&](std::string& s) { Put64(s, entry1 + 24, 1u << 20); },
         mp::ResourceError::Damaged},
        {"data end overflowing", [&](std::string& s) { Put64(s, entry1 + 24, ~uint64_t{0} - 8); },
         mp::ResourceError::Damaged},
        {"keys out of order", [&](std::string& s) { Put32(s, entry1 + 4, 0); },
         mp::ResourceError::Damaged},
        {"key twice", [&](std::string& s) { Put32(s, entry1 + 4, 1); }, mp::ResourceError::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string image = good;
        c.damage(image);
        mp::BundleLocation where;
        std::error_code ec = mp::LocateBundle(Span(image), where);
        if (!ec) {
            auto parsed = mp::ParseBundle(where.bundle, ec);
            EXPECT_FALSE(parsed);
        }
        EXPECT_EQ(ec, c.expected);
    }
}

TEST(ResourceBundle, StringBlocks) {
    // Block 64 holds ids 1008..1023: 1008 plain, 1009 empty, 1010 accented,
    // 1011 outside the basic plane; the rest are empty.
    std::u16string strings[16] = {u"Next", u"", u"Précédent", u"\U0001F333 tree"};
    std::string block;
    for (const auto& s : strings) {
        block += char(s.size() & 0xFF);
        block += char(s.size() >> 8);
        for (char16_t c : s) {
            block += char(c & 0xFF);
            block += char(c >> 8);
        }
    }
    mp::ResourceMap m;
    m[{mp::rt::String, 64, 1036}] = Bytes(block);
    // Block 65 (1024..1039) is cut one byte into its third string.
    m[{mp::rt::String, 65, 1036}] = Bytes(block.substr(0, 15));
    std::string image = Image("p", m);
    mp::BundleLocation where;
    ASSERT_FALSE(mp::LocateBundle(Span(image), where));
    std::error_code ec;
    auto bundle = mp::ParseBundle(where.bundle, ec);
    ASSERT_TRUE(bundle);

    struct Case {
        uint32_t id;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {1008, "Next"},       {1009, std::nullopt},  // zero length counts as absent
        {1010, "Précédent"},  {1011, "\xF0\x9F\x8C\xB3 tree"},
        {1023, std::nullopt}, {1024, "Next"},  // the cut block still holds what lies before the cut
        {1026, std::nullopt},                  // the string it cuts
        {1031, std::nullopt},                  // past the cut
        {1040, std::nullopt},                  // no such block
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mp::LoadStringResource(*bundle, c.id), c.expected) << c.id;
    }
}

class ResourceFileTest : public ::testing::Test {
protected:
    mwtest::ScratchDir dir;
};

TEST_F(ResourceFileTest, WriteKeepsProgramAndModeAndReplacesBundle) {
    const std::string path = dir / "prog";
    const std::string program(5000, '\x90');
    mwtest::WriteFile(path, program);
    ASSERT_EQ(::chmod(path.c_str(), 0751), 0);

    ASSERT_FALSE(mp::WriteResources(path, Sample()));
    mp::ResourceMap read;
    ASSERT_FALSE(mp::ReadResources(path, read));
    EXPECT_EQ(read, Sample());
    std::string content = mwtest::ReadFile(path);
    EXPECT_EQ(content.substr(0, program.size()), program);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);

    // A second write replaces the bundle instead of stacking another one.
    mp::ResourceMap one;
    one[{mp::rt::Manifest, 1, 0}] = Bytes("m");
    ASSERT_FALSE(mp::WriteResources(path, one));
    ASSERT_FALSE(mp::ReadResources(path, read));
    EXPECT_EQ(read, one);
    EXPECT_LT(mwtest::ReadFile(path).size(), program.size() + 200);

    // No resources: the file is the program again, byte for byte.
    ASSERT_FALSE(mp::WriteResources(path, {}));
    EXPECT_EQ(mwtest::ReadFile(path), program);
    std::error_code ec;
    EXPECT_FALSE(mp::OpenResources(path, ec));
    EXPECT_EQ(ec, mp::ResourceError::NoBundle);
}

TEST_F(ResourceFileTest, OpenBundleSurvivesRewriteOfItsFile) {
    const std::string path = dir / "prog";
    mwtest::WriteFile(path, "program");
    ASSERT_FALSE(mp::WriteResources(path, Sample()));
    std::error_code ec;
    auto bundle = mp::OpenResources(path, ec);
    ASSERT_TRUE(bundle) << ec.message();
    auto payload = bundle->Find(mp::rt::Payload, 134);
    ASSERT_EQ(payload.size(), 100000u);

    mp::ResourceMap other;
    other[{mp::rt::Payload, 134, 0}] = Bytes("new");
    ASSERT_FALSE(mp::WriteResources(path, other));
    // The mapping still shows the old file, also where pages were given back.
    bundle->Release(payload);
    EXPECT_EQ(payload[99999], std::byte{0x5A});
    EXPECT_EQ(payload[50000], std::byte{0x5A});
    EXPECT_EQ(Text(mp::OpenResources(path, ec)->Find(mp::rt::Payload, 134)), "new");
}

TEST_F(ResourceFileTest, DamagedFileIsNeitherReadNorRewritten) {
    const std::string path = dir / "prog";
    std::string image = Image("program", Sample());
    Put64(image, image.size() - 16, 12345);  // bundle size no longer fits
    mwtest::WriteFile(path, image);
    mp::ResourceMap read;
    EXPECT_EQ(mp::ReadResources(path, read), mp::ResourceError::Damaged);
    EXPECT_EQ(mp::WriteResources(path, Sample()), mp::ResourceError::Damaged);
    EXPECT_EQ(mwtest::ReadFile(path), image);
    std::error_code ec;
    EXPECT_FALSE(mp::OpenResources(path, ec));
    EXPECT_EQ(ec, mp::ResourceError::Damaged);
}

TEST_F(ResourceFileTest, SymlinkIsFollowedAndMissingFileCreated) {
    const std::string target = dir / "real";
    const std::string link = dir / "link";
    mwtest::WriteFile(target, "program");
    std::filesystem::create_symlink(target, link);
    ASSERT_FALSE(mp::WriteResources(link, Sample()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    mp::ResourceMap read;
    ASSERT_FALSE(mp::ReadResources(target, read));
    EXPECT_EQ(read, Sample());

    const std::string fresh = dir / "bundle.res";
    ASSERT_FALSE(mp::WriteResources(fresh, Sample()));
    ASSERT_FALSE(mp::ReadResources(fresh, read));
    EXPECT_EQ(read, Sample());
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 3);
}

TEST_F(ResourceFileTest, OpenResourcesErrors) {
    std::error_code ec;
    EXPECT_FALSE(mp::OpenResources(dir / "missing", ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(mp::OpenResources(dir.path(), ec));
    EXPECT_TRUE(ec);
    mwtest::WriteFile(dir / "empty", "");
    EXPECT_FALSE(mp::OpenResources(dir / "empty", ec));
    EXPECT_EQ(ec, mp::ResourceError::NoBundle);
}
