// The three foldings side by side: the same pairs of names give different
// answers where the rules differ, so that a caller using the wrong helper, or
// a helper drifting to another rule, shows here.
#include "platform/case_fold.hpp"

#include <gtest/gtest.h>

namespace mw::platform {
namespace {

TEST(CaseFold, EachMeaningHasItsOwnRule) {
    struct Case {
        const char* a;
        const char* b;
        bool registry;   // simple folding
        bool file;       // full folding
        bool privilege;  // ASCII letters only
    } cases[] = {
        {"SeBackupPrivilege", "SEBACKUPPRIVILEGE", true, true, true},
        {"Arbolux 7", "arbolux 7", true, true, true},
        {"Stra\xC3\x9F"
         "e",
         "STRASSE", false, true, false},                        // ß, full folding gives "ss"
        {"\xC3\x84rger", "\xC3\xA4RGER", true, true, false},   // Ärger / äRGER
        {"K", "\xE2\x84\xAA", true, true, false},               // KELVIN SIGN
        {"\xC5\xBF", "s", true, true, false},                   // LONG S folds to s
        {"a", "b", false, false, false},
        {"abc", "abcd", false, false, false},
        {"", "", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(FoldRegistryName(c.a) == FoldRegistryName(c.b), c.registry);
        EXPECT_EQ(SameFileName(c.a, c.b), c.file);
        EXPECT_EQ(FoldFileName(c.a) == FoldFileName(c.b), c.file);
        EXPECT_EQ(CompareFileNames(c.a, c.b) == 0, c.file);
        EXPECT_EQ(SamePrivilegeName(c.a, c.b), c.privilege);
    }
}

TEST(CaseFold, FileNamesSortIgnoringCase) {
    EXPECT_LT(CompareFileNames("apple", "Banana"), 0);
    EXPECT_GT(CompareFileNames("Banana", "apple"), 0);
    EXPECT_LT(CompareFileNames("\xC3\xA4", "\xC3\x96"), 0);  // ä before Ö
}

}  // namespace
}  // namespace mw::platform
