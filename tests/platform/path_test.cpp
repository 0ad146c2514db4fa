// What the path helpers make of the texts their callers meet: runs of
// separators, a trailing separator, "." and "..", the root and nothing.
#include "platform/path.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace mw::platform {
namespace {

using Elements = std::vector<std::string>;

TEST(Path, ElementsAndNormalElements) {
    struct Case {
        const char* path;
        Elements elements;
        Elements normal;
    } cases[] = {
        {"", {}, {}},
        {"/", {}, {}},
        {"//", {}, {}},
        {"//a//b/", {"a", "b"}, {"a", "b"}},
        {"/a/b///", {"a", "b"}, {"a", "b"}},
        {"a/./b", {"a", ".", "b"}, {"a", "b"}},
        {".", {"."}, {}},
        {"..", {".."}, {}},
        {"/../a", {"..", "a"}, {"a"}},
        {"/a/b/../../../c", {"a", "b", "..", "..", "..", "c"}, {"c"}},
        {"/a/..b/.c", {"a", "..b", ".c"}, {"a", "..b", ".c"}},
        {"a\\b/c", {"a\\b", "c"}, {"a\\b", "c"}},  // a backslash is a letter of a name
        {"/a b/ c ", {"a b", " c "}, {"a b", " c "}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathElements(c.path), c.elements) << '"' << c.path << '"';
        EXPECT_EQ(NormalPathElements(c.path), c.normal) << '"' << c.path << '"';
    }
}

TEST(Path, ElementsWithOtherSeparators) {
    EXPECT_EQ(PathElements("<InstallPath>\\Data/x\\\\y\\", "/\\"),
              (Elements{"<InstallPath>", "Data", "x", "y"}));
    EXPECT_EQ(PathElements("\\", "/\\"), Elements{});
    EXPECT_EQ(NormalPathElements("/a\\..\\b/./c", "/\\"), (Elements{"b", "c"}));
    EXPECT_EQ(PathElements("Software\\Meridan Works", "\\"),
              (Elements{"Software", "Meridan Works"}));
}

TEST(Path, Parent) {
    struct Case {
        const char* path;
        const char* parent;
    } cases[] = {
        {"", ""},
        {"a", ""},
        {"/", "/"},
        {"/a", "/"},
        {"/a/b", "/a"},
        {"a/b", "a"},
        {"//a", "/"},
        {"/a/b.c", "/a"},
        // The text before the last '/': callers hand over paths without a
        // trailing one, and a folder walk ends on "/".
        {"/a/b/", "/a/b"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent) << '"' << c.path << '"';
}

TEST(Path, Join) {
    struct Case {
        const char* base;
        const char* element;
        const char* separators;
        const char* joined;
    } cases[] = {
        {"", "x", "/", "x"},
        {"/", "x", "/", "/x"},
        {"/a", "x", "/", "/a/x"},
        {"/a/", "x", "/", "/a/x"},
        {"/a", "/x", "/", "/a/x"},
        {"/a", "", "/", "/a/"},
        {"", "", "/", ""},
        {"/a\\", "x", "/", "/a\\/x"},
        {"/a\\", "x", "/\\", "/a\\x"},
        {"/a", "\\x", "/\\", "/a\\x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JoinPath(c.base, c.element, c.separators), c.joined)
            << '"' << c.base << "\" + \"" << c.element << '"';
    }
}

TEST(Path, PrependedElementsComeBeforeWhatWasLeft) {
    std::deque<std::string> todo = {"rest", "last"};
    PrependPathElements("/usr//lib/", todo);
    EXPECT_EQ(todo, (std::deque<std::string>{"usr", "lib", "rest", "last"}));
    PrependPathElements("", todo);
    PrependPathElements("/", todo);
    EXPECT_EQ(todo.size(), 4u);
    PrependPathElements("../x", todo);
    EXPECT_EQ(todo.front(), "..");
}

}  // namespace
}  // namespace mw::platform
