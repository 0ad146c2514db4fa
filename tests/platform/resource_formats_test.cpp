// Formats inside the resource bundle: version resource, dialog templates,
// pictures, and the compiler that produces them from res/ sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/dialog_template.hpp"
#include "platform/image.hpp"
#include "platform/rc/resource_compiler.hpp"
#include "platform/resources.hpp"
#include "platform/version_resource.hpp"
#include "support/test_env.hpp"

namespace mp = mw::platform;

namespace {

uint16_t U16(std::span<const std::byte> b, std::size_t at) {
    return uint16_t(uint8_t(b[at])) | uint16_t(uint8_t(b[at + 1])) << 8;
}

std::string Utf16Value(const mp::VersionValue& v) {
    std::string s;
    for (std::size_t i = 0; i + 1 < v.bytes.size(); i += 2) s += char(U16(v.bytes, i));
    return s;
}

// A bundle over a ResourceMap, kept alive with its bytes.
struct TestBundle {
    explicit TestBundle(const mp::ResourceMap& m) : bytes(mp::SerializeBundle(m, 0)) {
        mp::BundleLocation where;
        EXPECT_FALSE(mp::LocateBundle(bytes, where));
        std::error_code ec;
        bundle = mp::ParseBundle(where.bundle, ec);
        EXPECT_TRUE(bundle) << ec.message();
    }
    std::vector<std::byte> bytes;
    std::unique_ptr<mp::ResourceBundle> bundle;
};

}  // namespace

// --- version resource -------------------------------------------------------

TEST(VersionResource, WindowsLayoutOfAMinimalResource) {
    mp::VersionDescription d;
    d.stringTables.push_back({"040004b0", {{"A", "b"}}});
    d.translations.push_back({0x0400, 0x04b0});
    auto block = mp::BuildVersionResource(d);
    ASSERT_EQ(block.size(), 236u);
    // Offset of each node: wLength, wValueLength, wType.
    struct Node {
        std::size_t at;
        uint16_t length, valueLength, type;
    };
    const Node nodes[] = {
        {0, 236, 52, 0},  // VS_VERSION_INFO with VS_FIXEDFILEINFO
        {92, 76, 0, 1},   // StringFileInfo
        {128, 40, 0, 1},  // 040004b0
        {152, 16, 2, 1},  // A = "b" and its terminating zero
        {168, 68, 0, 1},  // VarFileInfo
        {200, 36, 4, 0},  // Translation
    };
    for (const Node& n : nodes) {
        SCOPED_TRACE(n.at);
        EXPECT_EQ(U16(block, n.at), n.length);
        EXPECT_EQ(U16(block, n.at + 2), n.valueLength);
        EXPECT_EQ(U16(block, n.at + 4), n.type);
    }
    EXPECT_EQ(U16(block, 40), 0x04BD);  // fixed info signature starts on a 4-byte boundary
    EXPECT_EQ(U16(block, 232), 0x0400);
    EXPECT_EQ(U16(block, 234), 0x04B0);
}

TEST(VersionResource, QueriesLikeVerQueryValue) {
    mp::VersionDescription d;
    d.fixed->fileVersionMS = 0x00070000D;
    d.fixed->fileVersionLS = 0x00030001;
    d.fixed->fileFlags = mp::vs_ff::PreRelease;
    d.stringTables.push_back({"040904e4", {{"ProductName", "Other"}}});
    d.stringTables.push_back({"040004b0", {{"ProductName", "Install"}, {"Empty", ""}}});
    d.translations = {{0x0409, 0x04e4}, {0x0400, 0x04b0}};
    auto block = mp::BuildVersionResource(d);

    auto fixed = mp::ReadFixedFileInfo(block);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(*fixed, *d.fixed);

    auto name = mp::QueryVersionValue(block, "\\StringFileInfo\\040004b0\\ProductName");
    ASSERT_TRUE(name);
    EXPECT_TRUE(name->text);
    EXPECT_EQ(name->length, 8u);  // with its terminating zero
    EXPECT_EQ(Utf16Value(*name).substr(0, 7), "Install");
    // Keys compare without regard to case.
    auto same = mp::QueryVersionValue(block, "\\stringfileinfo\\040004B0\\PRODUCTNAME");
    ASSERT_TRUE(same);
    EXPECT_EQ(same->bytes.data(), name->bytes.data());
    auto empty = mp::QueryVersionValue(block, "\\StringFileInfo\\040004b0\\Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->length, 1u);
    auto translation = mp::QueryVersionValue(block, "\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation);
    EXPECT_FALSE(translation->text);
    EXPECT_EQ(translation->length, 8u);
    EXPECT_FALSE(mp::QueryVersionValue(block, "\\StringFileInfo\\040004b0\\Missing"));
    EXPECT_FALSE(mp::QueryVersionValue(block, "\\StringFileInfo\\04000000\\ProductName"));

    d.terminateStrings = false;
    auto bare = mp::QueryVersionValue(mp::BuildVersionResource(d),
                                      "\\StringFileInfo\\040004b0\\ProductName");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->length, 7u);
}

TEST(VersionResource, DamagedBlocksNeverReadOutside) {
    mp::VersionDescription d;
    d.stringTables.push_back({"040004b0", {{"ProductName", "Install"}, {"ApplicationId", "X"}}});
    d.translations.push_back({0x0400, 0x04b0});
    const auto good = mp::BuildVersionResource(d);
    const char* paths[] = {"\\", "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\040004b0\\ApplicationId"};
    auto probe = [&](std::span<const std::byte> block) {
        for (const char* p : paths) {
            if (auto v = mp::QueryVersionValue(block, p)) {
                EXPECT_GE(v->bytes.data(), block.data());
                EXPECT_LE(v->bytes.data() + v->bytes.size(), block.data() + block.size());
            }
        }
        mp::ReadFixedFileInfo(block);
    };
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        probe(std::span(good).first(cut));
        // A root that claims more than the block holds is refused.
        if (cut < 6) {
            EXPECT_FALSE(mp::QueryVersionValue(std::span(good).first(cut), "\\"));
        }
    }
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        auto bad = good;
        for (int k = 0; k < 3; ++k) bad[random() % bad.size()] = std::byte(random());
        probe(bad);
    }
}

// --- version source ---------------------------------------------------------

TEST(VersionSource, ParsesSectionsAndRefusesMistakes) {
    mp::VersionDescription d;
    std::string error;
    ASSERT_TRUE(mp::ParseVersionSource(
        "# c\n[fixed]\nFileVersion = 7.13.3.1\nFileFlags = 0x2\n[translations]\n0400 04b0\n"
        "0409 04e4\n[strings 040004b0]\nProductName =  Arbolux 7  \nEmpty =\n",
        d, error))
        << error;
    ASSERT_TRUE(d.fixed);
    EXPECT_EQ(d.fixed->fileVersionMS, 0x0007000Du);
    EXPECT_EQ(d.fixed->fileVersionLS, 0x00030001u);
    EXPECT_EQ(d.fixed->fileFlags, 2u);
    EXPECT_EQ(d.translations.size(), 2u);
    ASSERT_EQ(d.stringTables.size(), 1u);
    EXPECT_EQ(d.stringTables[0].values[0].second, "Arbolux 7");
    EXPECT_EQ(d.stringTables[0].values[1].second, "");

    ASSERT_TRUE(mp::ParseVersionSource("[strings 040004b0]\nA = b\n", d, error));
    EXPECT_FALSE(d.fixed) << "no [fixed] section, no fixed file information";

    const std::pair<const char*, const char*> bad[] = {
        {"A = b\n", "line 1"},
        {"[fixed]\nFileVersion = 1.2.3\n", "line 2"},
        {"[fixed]\nFileVersion = 1.2.3.65536\n", "line 2"},
        {"[fixed]\nColour = 1\n", "unknown fixed field"},
        {"[fixed]\n[fixed]\n", "twice"},
        {"[translations]\n0400\n", "line 2"},
        {"[translations]\n10000 04b0\n", "line 2"},
        {"[strings 040004b0]\nA = 1\nA = 2\n", "A twice"},
        {"[strings 040004b0]\nno equals sign\n", "line 2"},
        {"[colours]\n", "unknown section"},
        {"[fixed\n", "unclosed"},
    };
    for (auto [source, message] : bad) {
        EXPECT_FALSE(mp::ParseVersionSource(source, d, error)) << source;
        EXPECT_NE(error.find(message), std::string::npos) << source << " -> " << error;
    }
}

// --- dialog templates -------------------------------------------------------

TEST(DialogTemplate, SourceToBinaryAndBack) {
    const char* source =
        "# page\n"
        "dialog 132\n"
        "size 251 84\n"
        "font \"MS Shell Dlg\" 8\n"
        "caption \"Say \\\"hi\\\"\"\n"
        "style child control\n"
        "control 1016 text \"Info1\\nInfo2\" 7 38 237 27 sunken noprefix group\n"
        "control -1 bitmap 137 -3 0 58 105\n"
        "control -1 icon 128 9 6 20 20\n"
        "control 1 defpushbutton \"Next >>\" 138 118 66 14 tabstop group\n";
    uint32_t id = 0;
    mp::DialogTemplate d;
    std::string error;
    ASSERT_TRUE(mp::ParseDialogSource(source, id, d, error)) << error;
    EXPECT_EQ(id, 132u);
    EXPECT_EQ(d.caption, "Say \"hi\"");
    EXPECT_EQ(d.style, mp::dlg::Child | mp::dlg::Control);
    ASSERT_EQ(d.controls.size(), 4u);
    EXPECT_EQ(d.controls[0].text, "Info1\nInfo2");
    EXPECT_EQ(d.controls[0].flags, mp::ctl::Sunken | mp::ctl::NoPrefix | mp::ctl::Group);
    EXPECT_EQ(d.controls[1].image, 137u);
    EXPECT_EQ(d.controls[1].x, -3);
    EXPECT_EQ(d.controls[2].kind, mp::ControlKind::Icon);
    EXPECT_EQ(d.Find(1)->kind, mp::ControlKind::DefPushButton);
    EXPECT_EQ(d.Find(2), nullptr);

    auto bytes = mp::SerializeDialogTemplate(d);
    auto back = mp::ParseDialogTemplate(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, d);
    // Every cut, and any extra byte, makes the template unreadable.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(mp::ParseDialogTemplate(std::span(bytes).first(cut))) << cut;
    }
    bytes.push_back(std::byte{0});
    EXPECT_FALSE(mp::ParseDialogTemplate(bytes));
}

TEST(DialogTemplate, SourceMistakesNameTheLine) {
    const std::string head = "dialog 5\nsize 10 10\n";
    const std::pair<std::string, std::string> bad[] = {
        {"size 10 10\n", "needs"},
        {"dialog 5\n", "needs"},
        {"dialog 0\nsize 1 1\n", "line 1"},
        {head + "control 1 slider \"\" 0 0 1 1\n", "line 3: unknown control kind"},
        {head + "control 1 text \"a\" 0 0 1 1 sparkly\n", "line 3: unknown control flag"},
        {head + "control 1 text unquoted 0 0 1 1\n", "line 3: the text"},
        {head + "control 1 bitmap \"137\" 0 0 1 1\n", "line 3: a bitmap"},
        {head + "control 1 text \"a\" 0 0 1\n", "line 3"},
        {head + "control 1 text \"a\" 0 0 1 40000\n", "line 3: bad rectangle"},
        {head + "control 1 text \"a\" 0 0 1 1\ncontrol 1 edit \"\" 0 0 1 1\n",
         "line 4: control id 1 twice"},
        {head + "control 1 text \"open 0 0 1 1\n", "line 3: unterminated"},
        {head + "control 1 text \"\\q\" 0 0 1 1\n", "line 3: unknown escape"},
        {head + "style wobbly\n", "line 3: unknown dialog style"},
        {head + "window 1\n", "line 3: unknown statement"},
    };
    for (const auto& [source, message] : bad) {
        uint32_t id;
        mp::DialogTemplate d;
        std::string error;
        EXPECT_FALSE(mp::ParseDialogSource(source, id, d, error)) << source;
        EXPECT_NE(error.find(message), std::string::npos) << source << " -> " << error;
    }
}

// --- pictures ---------------------------------------------------------------

namespace {

// A DIB (BITMAPINFOHEADER, palette, rows) from top-down rows of palette
// indexes or BGR(A) bytes, stored bottom-up unless `topDown`.
std::vector<std::byte> MakeDib(int width, int height, int bits,
                               const std::vector<uint32_t>& palette,
                               const std::vector<std::vector<uint8_t>>& rows, bool topDown = false,
                               const std::vector<std::vector<uint8_t>>& mask = {}) {
    std::vector<std::byte> out;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(std::byte(v >> (8 * i)));
    };
    bool icon = !mask.empty();
    put(40, 4);
    put(uint32_t(width), 4);
    put(uint32_t(topDown ? -height : icon ? 2 * height : height), 4);
    put(1, 2);
    put(bits, 2);
    put(0, 4);
    put(0, 4);
    put(0, 4);
    put(0, 4);
    put(uint32_t(palette.size()), 4);
    put(0, 4);
    for (uint32_t c : palette) put(c, 4);
    auto putRows = [&](const std::vector<std::vector<uint8_t>>& r, bool down) {
        for (int i = 0; i < int(r.size()); ++i) {
            const auto& row = r[down ? i : r.size() - 1 - i];
            for (uint8_t b : row) out.push_back(std::byte(b));
            for (std::size_t k = row.size(); k % 4; ++k) out.push_back(std::byte{0});
        }
    };
    putRows(rows, topDown);
    if (icon) putRows(mask, false);
    return out;
}

std::array<uint8_t, 4> At(const mp::Image& image, int x, int y) {
    const uint8_t* p = image.Pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(Image, DecodesEveryStoredDepth) {
    using Px = std::array<uint8_t, 4>;
    const Px red{255, 0, 0, 255}, blue{0, 0, 255, 255}, clearBlue{0, 0, 255, 0};
    // Palettes below: index 0 red, index 1 blue (BGRx in little-endian words).
    struct Case {
        const char* what;
        std::vector<std::byte> dib;
        bool icon;
        Px topLeft, topRight, bottomLeft;
    };
    const Case cases[] = {
        {"1 bit", MakeDib(3, 2, 1, {0x00FF0000, 0x000000FF}, {{0b01000000}, {0b10000000}}), false,
         red, red, blue},
        {"4 bits", MakeDib(3, 2, 4, {0x00FF0000, 0x000000FF}, {{0x01, 0x00}, {0x10, 0x00}}), false,
         red, red, blue},
        {"8 bits", MakeDib(3, 2, 8, {0x00FF0000, 0x000000FF}, {{0, 1, 0}, {1, 0, 0}}), false, red,
         red, blue},
        {"24 bits", MakeDib(2, 2, 24, {}, {{0, 0, 255, 255, 0, 0}, {255, 0, 0, 0, 0, 255}}), false,
         red, blue, blue},
        {"32 bits top-down",
         MakeDib(2, 2, 32, {}, {{0, 0, 255, 9, 255, 0, 0, 9}, {255, 0, 0, 9, 0, 0, 255, 9}}, true),
         false,
         {255, 0, 0, 9},
         {0, 0, 255, 9},
         {0, 0, 255, 9}},
        {"24-bit icon with mask",
         MakeDib(2, 2, 24, {}, {{0, 0, 255, 255, 0, 0}, {255, 0, 0, 0, 0, 255}}, false,
                 {{0b01000000}, {0b00000000}}),
         true, red, clearBlue, blue},
        {"32-bit icon without alpha uses its mask",
         MakeDib(2, 2, 32, {}, {{0, 0, 255, 0, 255, 0, 0, 0}, {255, 0, 0, 0, 0, 0, 255, 0}}, false,
                 {{0b10000000}, {0}}),
         true,
         {255, 0, 0, 0},
         blue,
         blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto image = mp::DecodeDib(c.dib, c.icon);
        ASSERT_TRUE(image);
        EXPECT_EQ(At(*image, 0, 0), c.topLeft);
        EXPECT_EQ(At(*image, image->width - 1, 0), c.topRight);
        EXPECT_EQ(At(*image, 0, image->height - 1), c.bottomLeft);
    }
}

TEST(Image, RefusesWhatItCannotHold) {
    auto good = MakeDib(3, 2, 8, {0x00FF0000, 0x000000FF}, {{0, 1, 0}, {1, 0, 0}});
    ASSERT_TRUE(mp::DecodeDib(good));
    auto patch32 = [&](std::size_t at, uint32_t v) {
        auto d = good;
        for (int i = 0; i < 4; ++i) d[at + i] = std::byte(v >> (8 * i));
        return d;
    };
    auto patch16 = [&](std::size_t at, uint16_t v) {
        auto d = good;
        d[at] = std::byte(v & 0xFF);
        d[at + 1] = std::byte(v >> 8);
        return d;
    };
    const std::pair<const char*, std::vector<std::byte>> cases[] = {
        {"truncated rows", std::vector<std::byte>(good.begin(), good.end() - 1)},
        {"header only", std::vector<std::byte>(good.begin(), good.begin() + 40)},
        {"zero width", patch32(4, 0)},
        {"negative width", patch32(4, 0xFFFFFFFF)},
        {"huge width", patch32(4, 0x7FFFFFFF)},
        {"huge height", patch32(8, 0x80000001)},
        {"lowest height", patch32(8, 0x80000000)},
        {"RLE compression", patch32(16, 1)},
        {"odd bit count", patch16(14, 16)},
        {"header size beyond the data", patch32(0, 1 << 20)},
        {"palette shorter than an index", patch32(32, 1)},
        {"palette larger than the depth", patch32(32, 257)},
    };
    for (const auto& [what, dib] : cases) EXPECT_FALSE(mp::DecodeDib(dib)) << what;
    // An icon's stored height is even and positive.
    EXPECT_FALSE(mp::DecodeDib(MakeDib(1, 3, 24, {}, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}), true));
}

TEST(Image, IconGroupPicksTheClosestSize) {
    auto dib = [](int size, uint8_t blue) {
        std::vector<std::vector<uint8_t>> rows(size, std::vector<uint8_t>(size * 3, 0));
        for (auto& r : rows) r[0] = blue;
        std::vector<std::vector<uint8_t>> mask(size, std::vector<uint8_t>(4, 0));
        return MakeDib(size, size, 24, {}, rows, false, mask);
    };
    std::vector<std::byte> group;
    auto put16 = [&](uint16_t v) {
        group.push_back(std::byte(v & 0xFF));
        group.push_back(std::byte(v >> 8));
    };
    put16(0);
    put16(1);
    put16(2);
    for (auto [size, id] : {std::pair{32, 7}, std::pair{16, 8}}) {
        group.push_back(std::byte(size));
        group.push_back(std::byte(size));
        put16(0);
        put16(1);
        put16(24);
        put16(0);
        put16(0);
        put16(uint16_t(id));
    }
    mp::ResourceMap m;
    m[{mp::rt::GroupIcon, 128, 0}] = group;
    m[{mp::rt::Icon, 7, 0}] = dib(32, 1);
    m[{mp::rt::Icon, 8, 0}] = dib(16, 2);
    m[{mp::rt::GroupIcon, 129, 0}] = std::vector<std::byte>(group.begin(), group.end() - 3);
    TestBundle b(m);
    EXPECT_EQ(mp::LoadIconResource(*b.bundle, 128)->width, 32);  // the first one
    EXPECT_EQ(mp::LoadIconResource(*b.bundle, 128, 18, 12)->width, 16);
    EXPECT_EQ(mp::LoadIconResource(*b.bundle, 128, 48, 48)->width, 32);
    EXPECT_FALSE(mp::LoadIconResource(*b.bundle, 129)) << "truncated group";
    EXPECT_FALSE(mp::LoadIconResource(*b.bundle, 130));
    EXPECT_FALSE(mp::LoadBitmapResource(*b.bundle, 137));
}

// --- compiler ---------------------------------------------------------------

class ResourceCompilerTest : public ::testing::Test {
protected:
    std::string Dir(const std::string& name) {
        std::filesystem::create_directories(dir / name);
        return dir / name;
    }
    mwtest::ScratchDir dir;
};

TEST_F(ResourceCompilerTest, StringTablesLoadBackById) {
    std::string strings = Dir("strings");
    mwtest::WriteFile(strings + "/00-french.tsv",
                      "# French\n1000\tInstalleur\n1012\tÉchec\n1131\tMise à jour de DirectX...\n");
    mwtest::WriteFile(strings + "/01-english.tsv",
                      "2000\tInstaller\n2131\t#\n2110\tLine\\r\\nNext\n");
    mwtest::WriteFile(strings + "/notes.txt", "not a table");
    mp::ResourceCompiler c;
    ASSERT_TRUE(c.AddStringTables(strings)) << c.error();
    TestBundle b(c.resources());
    const std::pair<uint32_t, std::optional<std::string>> cases[] = {
        {1000, "Installeur"}, {1012, "Échec"},      {1131, "Mise à jour de DirectX..."},
        {2000, "Installer"},  {2131, "#"},          {2110, "Line\r\nNext"},
        {1001, std::nullopt}, {3000, std::nullopt},
    };
    for (const auto& [id, text] : cases)
        EXPECT_EQ(mp::LoadStringResource(*b.bundle, id), text) << id;
    // Blocks are tagged with the language of their file.
    EXPECT_FALSE(b.bundle->Find(mp::rt::String, 1000 / 16 + 1, 1036).empty());
    EXPECT_FALSE(b.bundle->Find(mp::rt::String, 2000 / 16 + 1, 1033).empty());
    EXPECT_EQ(c.inputs().size(), 2u);
}

TEST_F(ResourceCompilerTest, StringTableMistakesStopTheBuild) {
    const std::pair<std::vector<std::pair<std::string, std::string>>, std::string> cases[] = {
        {{{"english.tsv", "2000\tx\n"}}, "language index"},
        {{{"20-klingon.tsv", "2000\tx\n"}}, "language index"},
        {{{"01-english.tsv", "70000\tx\n"}}, "above 65535"},
        {{{"01-english.tsv", "2000 x\n"}}, "01-english.tsv: line 1"},
        {{{"00-french.tsv", "1000\ta\n"}, {"01-english.tsv", "1001\tb\n"}}, "share a block"},
    };
    int round = 0;
    for (const auto& [files, message] : cases) {
        std::string strings = Dir("s" + std::to_string(round++));
        for (const auto& [name, content] : files) mwtest::WriteFile(strings + "/" + name, content);
        mp::ResourceCompiler c;
        EXPECT_FALSE(c.AddStringTables(strings));
        EXPECT_NE(c.error().find(message), std::string::npos) << c.error();
    }
}

TEST_F(ResourceCompilerTest, IconsBitmapsAndDuplicates) {
    std::string icons = Dir("icons");
    // One 2x2 24-bit image with its mask, as an .ico file.
    auto image =
        MakeDib(2, 2, 24, {}, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, false, {{0}, {0}});
    std::string ico("\0\0\1\0\1\0", 6);
    ico += std::string("\2\2\0\0\1\0\x18\0", 8);
    uint32_t size = image.size(), offset = 22;
    ico += std::string(reinterpret_cast<char*>(&size), 4) +
           std::string(reinterpret_cast<char*>(&offset), 4);
    ico += std::string(reinterpret_cast<const char*>(image.data()), image.size());
    mwtest::WriteFile(icons + "/141-german.ico", ico);
    mwtest::WriteFile(icons + "/142-danish.ico", ico);
    mp::ResourceCompiler c;
    ASSERT_TRUE(c.AddIcons(icons)) << c.error();
    TestBundle b(c.resources());
    auto entries = mp::IconGroupEntries(*b.bundle, 142);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].iconId, 2u);  // numbered over all groups in name order
    auto decoded = mp::LoadIconResource(*b.bundle, 141);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(At(*decoded, 0, 0), (std::array<uint8_t, 4>{3, 2, 1, 255}));

    // The same folder twice defines the groups twice.
    EXPECT_FALSE(c.AddIcons(icons));
    EXPECT_NE(c.error().find("defined twice"), std::string::npos);

    std::string broken = Dir("broken");
    std::string outside = ico;
    outside[18] = '\x7f';  // image offset far past the end
    mwtest::WriteFile(broken + "/150-bulgarian.ico", outside);
    mp::ResourceCompiler c2;
    EXPECT_FALSE(c2.AddIcons(broken));
    EXPECT_NE(c2.error().find("outside the file"), std::string::npos) << c2.error();

    std::string bitmaps = Dir("bitmaps");
    auto dib = MakeDib(3, 2, 8, {0x00FF0000, 0x000000FF}, {{0, 1, 0}, {1, 0, 0}});
    mwtest::WriteFile(bitmaps + "/137-banner.bmp",
                      std::string("BM", 2) + std::string(12, '\0') +
                          std::string(reinterpret_cast<const char*>(dib.data()), dib.size()));
    ASSERT_TRUE(c2.AddBitmaps(bitmaps)) << c2.error();
    TestBundle b2(c2.resources());
    EXPECT_EQ(mp::LoadBitmapResource(*b2.bundle, 137)->width, 3);
    mwtest::WriteFile(bitmaps + "/138-other.bmp",
                      "BM not a bitmap at all, but long enough to have a header..");
    mp::ResourceCompiler c3;
    EXPECT_FALSE(c3.AddBitmaps(bitmaps));
    EXPECT_NE(c3.error().find("138-other.bmp"), std::string::npos);
}
