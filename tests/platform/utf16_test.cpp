#include "platform/utf16.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mw::platform {
namespace {

TEST(Utf16, WellFormedTextsTravelBothWaysAndStrictlyToo) {
    for (const std::string text : {"", "plain", "Größe", "日本語", "\xF0\x9D\x84\x9E clef"}) {
        const std::u16string wide = Utf8ToUtf16(text);
        EXPECT_EQ(Utf16ToUtf8(wide), text);
        EXPECT_EQ(StrictUtf8ToUtf16(text), wide);
        EXPECT_EQ(StrictUtf16ToUtf8(wide), text);
        EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
        EXPECT_EQ(Utf32ToUtf8(Utf16ToUtf32(wide)), text);
    }
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9D\x84\x9E"), u"\U0001D11E");  // a surrogate pair
}

TEST(Utf16, IllFormedUtf8IsRefusedStrictlyAndReplacedOtherwise) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"overlong slash",
         "a\xC0\xAF"
         "b"},
        {"encoded surrogate",
         "a\xED\xA0\x80"
         "b"},
        {"truncated sequence", "a\xE2\x82"},
        {"past U+10FFFF", "a\xF4\x90\x80\x80"},
        {"stray continuation byte",
         "a\x80"
         "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(StrictUtf8ToUtf16(c.bytes), std::nullopt);
        const std::u16string lenient = Utf8ToUtf16(c.bytes);
        EXPECT_EQ(lenient.front(), u'a');
        EXPECT_NE(lenient.find(u'\uFFFD'), std::u16string::npos);
    }
}

TEST(Utf16, LoneSurrogatesAreRefusedStrictlyAndReplacedOtherwise) {
    for (const std::u16string& text :
         {std::u16string(u"a\xD800"), std::u16string(u"\xDC00z"), std::u16string(u"a\xD800z")}) {
        EXPECT_EQ(StrictUtf16ToUtf8(text), std::nullopt);
        EXPECT_NE(Utf16ToUtf8(text).find("\xEF\xBF\xBD"), std::string::npos);
        EXPECT_NE(Utf16ToUtf32(text).find(U'\uFFFD'), std::u32string::npos);
    }
}

TEST(Utf16, LittleEndianBytesIgnoreAnOddLastByte) {
    const std::byte bytes[] = {std::byte{'h'}, std::byte{0}, std::byte{0xE9}, std::byte{0},
                               std::byte{'x'}};
    EXPECT_EQ(Utf16LeToUtf8(bytes), "h\xC3\xA9");
    EXPECT_EQ(FromUtf16Le(bytes), u"h\u00E9");
}

}  // namespace
}  // namespace mw::platform
