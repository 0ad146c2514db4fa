// The registry's shared rules: value conversions, name folding, key paths and
// the saved-key file format.
#include "platform/registry.hpp"

#include <gtest/gtest.h>

#include "platform/case_fold.hpp"
#include "platform/registry_detail.hpp"

namespace mw::platform {
namespace {

using regdetail::KeySnapshot;

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
    std::vector<uint8_t> out;
    for (int x : b) out.push_back(static_cast<uint8_t>(x));
    return out;
}

TEST(RegValueTest, StringIsUtf16LeWithTerminator) {
    struct Case {
        const char* utf8;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"", Bytes({0, 0})},
        {"Ab", Bytes({'A', 0, 'b', 0, 0, 0})},
        {"\xC3\xA9", Bytes({0xE9, 0, 0, 0})},                         // é
        {"\xE2\x80\x93", Bytes({0x13, 0x20, 0, 0})},                  // –
        {"\xF0\x9F\x98\x80", Bytes({0x3D, 0xD8, 0x00, 0xDE, 0, 0})},  // U+1F600
        {"a\xFF", Bytes({'a', 0, 0xFD, 0xFF, 0, 0})},                 // not UTF-8
    };
    for (const auto& c : cases) {
        RegValue v = RegValue::String(c.utf8);
        EXPECT_EQ(v.type, RegType::Sz);
        EXPECT_EQ(v.data, c.bytes) << c.utf8;
    }
    EXPECT_EQ(RegValue::String("x", RegType::ExpandSz).type, RegType::ExpandSz);
}

TEST(RegValueTest, NumbersAreLittleEndian) {
    EXPECT_EQ(RegValue::Dword(0x11223344).data, Bytes({0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(RegValue::Qword(0x0102030405060708ull).data, Bytes({8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(RegValue::Dword(7).DwordValue(), 7u);
    EXPECT_EQ((RegValue{RegType::Dword, Bytes({1, 0, 0})}).DwordValue(), std::nullopt);
    EXPECT_EQ((RegValue{RegType::Binary, Bytes({1, 0, 0, 0})}).DwordValue(), std::nullopt);
}

TEST(RegValueTest, TextFollowsTheStringReadingRule) {
    struct Case {
        RegType type;
        std::vector<uint8_t> data;
        std::optional<std::string> text;
    } cases[] = {
        {RegType::Sz, Bytes({'a', 0, 'b', 0, 0, 0}), "ab"},
        {RegType::ExpandSz, Bytes({'%', 0, 'X', 0, '%', 0, 0, 0}), "%X%"},  // not expanded
        {RegType::Sz, {}, ""},                                              // size 0: empty
        {RegType::Sz, Bytes({0, 0}), ""},
        {RegType::Sz, Bytes({'a', 0, 'b', 0}), std::nullopt},    // no terminating zero
        {RegType::Sz, Bytes({'a', 0, 0}), std::nullopt},         // odd size
        {RegType::Binary, Bytes({'a', 0, 0, 0}), std::nullopt},  // wrong type
        {RegType::MultiSz, Bytes({'a', 0, 0, 0}), std::nullopt},
        {RegType::Sz, Bytes({0x3D, 0xD8, 0x00, 0xDE, 0, 0}), "\xF0\x9F\x98\x80"},
        {RegType::Sz, Bytes({0x3D, 0xD8, 0, 0}), "\xEF\xBF\xBD"},  // lone surrogate
        {RegType::Sz, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0}), std::string("a\0b", 3)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RegValue v{cases[i].type, cases[i].data};
        EXPECT_EQ(v.Text(), cases[i].text) << "case " << i;
    }
}

TEST(RegistryNamesTest, KeyPathsSplitAtBackslash) {
    struct Case {
        const char* path;
        std::vector<std::string> levels;
        bool ok;
    } cases[] = {
        {"", {}, true},
        {"Software", {"Software"}, true},
        {"Software\\Meridan Works", {"Software", "Meridan Works"}, true},
        {"a/b", {"a/b"}, true},  // '/' is an ordinary character in a key name
        {"\\Software", {}, false},
        {"Software\\", {}, false},
        {"a\\\\b", {}, false},
        {"\\", {}, false},
        {"bad\xC3", {}, false},
        {"\xED\xA0\x80", {}, false},  // an encoded surrogate is not UTF-8
    };
    for (const auto& c : cases) {
        std::vector<std::string> levels{"stale"};
        auto ec = regdetail::SplitKeyPath(c.path, levels);
        EXPECT_EQ(!ec, c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(levels, c.levels) << c.path;
        } else {
            EXPECT_EQ(ec, std::errc::invalid_argument) << c.path;
            EXPECT_TRUE(levels.empty()) << c.path;
        }
    }
    EXPECT_FALSE(regdetail::CheckValueName(""));
    EXPECT_EQ(regdetail::CheckValueName("\x80"), std::errc::invalid_argument);
}

TEST(RegistryNamesTest, FoldingIsSimpleAndPerCodePoint) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Software", "SOFTWARE", true},
        {"\xC3\x84rger", "\xC3\xA4RGER", true},          // Ärger / äRGER
        {"\xCE\xA3\xCE\xA3", "\xCF\x83\xCF\x82", true},  // ΣΣ / σς
        {"\xD0\x96", "\xD0\xB6", true},                  // Ж / ж
        {"Stra\xC3\x9F"
         "e",
         "STRASSE", false},           // ß has no simple folding to "ss"
        {"K", "\xE2\x84\xAA", true},  // KELVIN SIGN folds to k
        {"a", "b", false},
        {"", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FoldRegistryName(c.a) == FoldRegistryName(c.b), c.same) << c.a << " / " << c.b;
}

KeySnapshot Sample() {
    KeySnapshot s;
    s.values.push_back({"Name", RegValue::String("Arbolux")});
    s.values.push_back({"", RegValue::Binary(Bytes({0, 1, 2}))});
    s.subkeys.push_back({"Sub", {}});
    s.subkeys[0].content.values.push_back({"Count", RegValue::Dword(3)});
    s.subkeys[0].content.subkeys.push_back({"Deeper", {}});
    regdetail::SortSnapshot(s);
    return s;
}

bool Same(const KeySnapshot& a, const KeySnapshot& b) {
    if (a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
    for (size_t i = 0; i < a.values.size(); ++i)
        if (a.values[i].name != b.values[i].name || !(a.values[i].value == b.values[i].value))
            return false;
    for (size_t i = 0; i < a.subkeys.size(); ++i)
        if (a.subkeys[i].name != b.subkeys[i].name ||
            !Same(a.subkeys[i].content, b.subkeys[i].content))
            return false;
    return true;
}

TEST(SavedKeyFormatTest, RoundTrips) {
    KeySnapshot s = Sample(), back;
    ASSERT_FALSE(regdetail::DecodeSnapshot(regdetail::EncodeSnapshot(s), back));
    EXPECT_TRUE(Same(s, back));
}

TEST(SavedKeyFormatTest, EveryTruncationAndEveryFlippedByteIsRefused) {
    const std::string good = regdetail::EncodeSnapshot(Sample());
    KeySnapshot out;
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_EQ(regdetail::DecodeSnapshot(good.substr(0, n), out), std::errc::bad_message) << n;
    for (size_t i = 0; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] ^= 0x01;
        EXPECT_EQ(regdetail::DecodeSnapshot(bad, out), std::errc::bad_message) << i;
    }
    EXPECT_EQ(regdetail::DecodeSnapshot(good + "x", out), std::errc::bad_message);
}

// Files with a correct checksum whose content breaks the rules.
TEST(SavedKeyFormatTest, IntactFilesWithBadContentAreRefused) {
    KeySnapshot out;
    std::vector<std::pair<const char*, KeySnapshot>> bad;
    {
        KeySnapshot s;
        s.values.push_back({"Path", RegValue::Dword(1)});
        s.values.push_back({"PATH", RegValue::Dword(2)});
        bad.emplace_back("duplicate value names", s);
    }
    {
        KeySnapshot s;
        s.subkeys.push_back({"Sub", {}});
        s.subkeys.push_back({"sub", {}});
        bad.emplace_back("duplicate subkey names", s);
    }
    for (const char* name : {"", "a\\b", "\xFF"}) {
        KeySnapshot s;
        s.subkeys.push_back({name, {}});
        bad.emplace_back("bad subkey name", s);
    }
    {
        KeySnapshot s;
        s.values.push_back({"\xC0\x80", RegValue::Dword(1)});
        bad.emplace_back("value name not UTF-8", s);
    }
    {
        KeySnapshot s;
        KeySnapshot* n = &s;
        for (int i = 0; i <= regdetail::kMaxDepth; ++i) {
            n->subkeys.push_back({"k", {}});
            n = &n->subkeys.back().content;
        }
        bad.emplace_back("too deep", s);
    }
    for (const auto& [what, s] : bad)
        EXPECT_EQ(regdetail::DecodeSnapshot(regdetail::EncodeSnapshot(s), out),
                  std::errc::bad_message)
            << what;
}

// Appends the CRC-32 (IEEE, computed bitwise here) the format ends with.
std::string Seal(std::string body) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : body) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFF;
    for (int i = 0; i < 4; ++i) body.push_back(static_cast<char>(crc >> (8 * i)));
    return body;
}

TEST(SavedKeyFormatTest, HugeCountsFailWithoutAllocating) {
    const std::string good = regdetail::EncodeSnapshot(KeySnapshot{});
    std::string body = good.substr(0, good.size() - 4);
    ASSERT_EQ(Seal(body), good);
    KeySnapshot out;
    // magic (8), version (4), value count at 12, subkey count at 16
    for (size_t at : {12, 16}) {
        std::string changed = body;
        changed.replace(at, 4, "\xFF\xFF\xFF\xFF");
        EXPECT_EQ(regdetail::DecodeSnapshot(Seal(changed), out), std::errc::bad_message) << at;
    }
    std::string version = body;
    version[8] = 2;
    EXPECT_EQ(regdetail::DecodeSnapshot(Seal(version), out), std::errc::bad_message);
}

}  // namespace
}  // namespace mw::platform
