#include "app/user_path_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mw {
namespace {

TEST(UserPathText, ControlCharactersAndMalformedTextAreRefused) {
    struct Case {
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {"/opt/Meridan Works/Arbolux 7", true},
        {"", true},
        {"relative\\folder", true},
        {"/opt/Zoë/Дерево/木", true},
        {"/opt/x\xC2\xA0y", true},  // no-break space is text
        {"/opt/x\n0001:0001:0 -- /etc/passwd", false},
        {"/opt/x\r", false},
        {"/opt/\tx", false},
        {std::string("/opt/x\0y", 8), false},
        {"/opt/\x1B[2Jx", false},
        {"/opt/x\x7F", false},
        {"/opt/x\xC2\x85y", false},  // NEL, a C1 line end
        {"/opt/x\xC2\x9F", false},
        {"/opt/\xFF\xFE", false},      // not UTF-8
        {"/opt/\xC0\x8A", false},      // overlong line feed
        {"/opt/\xE2\x82", false},      // cut sequence
        {"/opt/\xED\xA0\x80", false},  // a surrogate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsAcceptableUserPathText(c.text), c.accepted);
    }
}

}  // namespace
}  // namespace mw
