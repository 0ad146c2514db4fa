#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/payload_extractor.hpp"
#include "engine/payload_test_support.hpp"
#include "engine/payload_writer.hpp"
#include "platform/memstream.hpp"

namespace {

using payloadtest::RawEntry;

void PutLE(std::string& s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutText16(std::string& s, const std::u16string& text) {
    PutLE(s, text.size(), 4);
    for (char16_t u : text) PutLE(s, u, 2);
}
std::string Entry16(const std::u16string& source, const std::u16string& dir, uint32_t kind,
                    uint64_t size, uint32_t crc) {
    std::string s;
    PutText16(s, source);
    PutText16(s, dir);
    PutLE(s, kind, 4);
    PutLE(s, size, 8);
    PutLE(s, crc, 4);
    return s;
}
// A table whose size field says `declared` (by default its real length).
std::string Table(uint32_t count, const std::string& entries, int64_t declared = -1) {
    std::string t;
    PutLE(t, declared < 0 ? 12 + entries.size() : static_cast<uint64_t>(declared), 8);
    PutLE(t, count, 4);
    return t + entries;
}

mw::PayloadArchive Parse(const std::string& table) {
    mw::imemstream in(table.data(), table.size());
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(table[i]);
    return mw::ParsePayloadTable(in, size);
}

TEST(PayloadTable, RoundTripKeepsEveryField) {
    const std::vector<RawEntry> entries = {
        payloadtest::Raw("bin\\Arbolux.exe", "<InstallPath>", "program", 1),
        payloadtest::Raw("Été/Grüße.ax-lib", "<CommonData>\\Meridan Works\\Arbolux", "", 3),
        payloadtest::Raw("\xF0\x9F\x8C\xB3.jpg", "<CommonData>\\Textures", "tree", -5),  // not BMP
    };
    const std::string table = payloadtest::TableOf(entries);
    const mw::PayloadArchive a = Parse(table);
    EXPECT_EQ(a.tableSize, table.size());
    ASSERT_EQ(a.entries.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a.entries[i].source, entries[i].source);
        EXPECT_EQ(a.entries[i].destination, entries[i].directory);
        EXPECT_EQ(static_cast<int32_t>(a.entries[i].kind), entries[i].kind);
        EXPECT_EQ(a.entries[i].size, entries[i].content.size());
        EXPECT_EQ(a.entries[i].crc,
                  mw::Crc32Of(entries[i].content.data(), entries[i].content.size()));
    }
    EXPECT_EQ(a.total, table.size() + 11);
}

TEST(PayloadTable, TextsAreUtf16LittleEndian) {
    // "Ä" (U+00C4) and a surrogate pair for U+1F333.
    const std::string table = Table(1, Entry16(u"\u00C4", u"\U0001F333", 0, 0, 0));
    const mw::PayloadArchive a = Parse(table);
    EXPECT_EQ(a.entries[0].source, "\xC3\x84");
    EXPECT_EQ(a.entries[0].destination, "\xF0\x9F\x8C\xB3");
    EXPECT_EQ(table.substr(16, 2), std::string("\xC4\x00", 2));
}

TEST(PayloadTable, EmptyTable) {
    const mw::PayloadArchive a = Parse(Table(0, ""));
    EXPECT_EQ(a.tableSize, 12u);
    EXPECT_TRUE(a.entries.empty());
    EXPECT_EQ(a.total, 12u);
}

TEST(PayloadTable, MalformedTablesAreUnexpectedErrors) {
    const std::string one = Entry16(u"a", u"<InstallPath>", 0, 1, 0);
    std::string longText;  // claims more UTF-16 units than the table holds
    PutLE(longText, 1000, 4);
    longText += "ab";
    std::string overflowing = Entry16(u"a", u"d", 0, std::numeric_limits<uint64_t>::max() - 20, 0);
    struct Case {
        const char* what;
        std::string table;
    };
    const Case cases[] = {
        {"size below the header", Table(0, "", 11).substr(0, 11)},
        {"size above the cap", Table(0, "", int64_t(mw::kPayloadMaxTableSize) + 1)},
        {"count with no entries", Table(1, "")},
        {"count larger than the entries", Table(2, one)},
        {"bytes after the last entry", Table(1, one + "x")},
        {"text runs past the table", Table(1, longText)},
        {"entry cut short", Table(1, one.substr(0, one.size() - 1))},
        {"sizes overflow", Table(1, overflowing)},
        {"sizes overflow together", Table(2, Entry16(u"a", u"d", 0, uint64_t(1) << 63, 0) +
                                                 Entry16(u"b", u"d", 0, uint64_t(1) << 63, 0))},
        {"lone high surrogate", Table(1, Entry16(u"a\xD800", u"d", 0, 0, 0))},
        {"lone low surrogate", Table(1, Entry16(u"\xDC00", u"d", 0, 0, 0))},
        {"zero in a path", Table(1, Entry16(std::u16string(u"a\0b", 3), u"d", 0, 0, 0))},
        {"huge count", Table(0xFFFFFFFFu, one)},
    };
    for (const auto& c : cases) {
        mw::imemstream in(c.table.data(), c.table.size());
        uint64_t size = 0;
        for (int i = 7; i >= 0 && c.table.size() >= 8; --i)
            size = (size << 8) | static_cast<unsigned char>(c.table[i]);
        if (c.table.size() < 8) size = c.table.size();
        try {
            mw::ParsePayloadTable(in, size);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), mw::make_error_code(mw::CompressError::UnexpectedError)) << c.what;
        }
    }
}

TEST(PayloadTable, SizeFieldMustMatch) {
    std::string table = Table(0, "");
    mw::imemstream in(table.data(), table.size());
    table[0] = 13;  // says 13, parsed as 12
    EXPECT_THROW(mw::ParsePayloadTable(in, 12), std::system_error);
}

TEST(EncodePayloadTable, RefusesInvalidUtf8) {
    for (const char* text : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
        mw::PayloadEntry e;
        e.source = std::string("a") + text;
        EXPECT_THROW(mw::EncodePayloadTable({e}), std::invalid_argument) << e.source;
    }
}

}  // namespace
