// Applying a language's locale with real system locales, compiled into a
// scratch folder with localedef and found through LOCPATH.
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>

#include "app/languages.hpp"
#include "support/env_guard.hpp"
#include "support/string_tables.hpp"
#include "support/test_env.hpp"

// glibc keeps, and never frees, its copy of LOCPATH each time it looks a
// locale up there; that is the C library's, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\n";
}

namespace mw {
namespace {

class LocaleApplyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new mwtest::ScratchDir;
        const std::string cmd =
            "localedef -i de_DE -f UTF-8 '" + (*dir / "de_DE.UTF-8") + "' >/dev/null 2>&1";
        built = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (!built) GTEST_SKIP() << "localedef could not build de_DE.UTF-8";
        env.Set("LOCPATH", dir->path());
    }
    void TearDown() override {
        std::locale::global(std::locale::classic());
        setlocale(LC_ALL, "C");
    }

    static mwtest::ScratchDir* dir;
    static bool built;
    mwtest::EnvGuard env;
    mwtest::ScopedSourceStrings strings;
};
mwtest::ScratchDir* LocaleApplyTest::dir = nullptr;
bool LocaleApplyTest::built = false;

TEST_F(LocaleApplyTest, LanguageLocaleAppliesEveryCategoryButNumbers) {
    // The locale itself formats numbers with a comma: the checks below can fail.
    ASSERT_EQ(std::use_facet<std::numpunct<char>>(std::locale("de_DE.UTF-8")).decimal_point(), ',');

    env.SetUserLanguage("de_DE.UTF-8");
    SelectLanguage(2);
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "de_DE.UTF-8");
    EXPECT_STREQ(setlocale(LC_COLLATE, nullptr), "de_DE.UTF-8");
    EXPECT_STREQ(setlocale(LC_TIME, nullptr), "de_DE.UTF-8");
    EXPECT_STREQ(setlocale(LC_MONETARY, nullptr), "de_DE.UTF-8");
    EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(setlocale(LC_MESSAGES, nullptr), "C");

    std::locale global;
    EXPECT_EQ(std::use_facet<std::numpunct<char>>(global).decimal_point(), '.');
    EXPECT_EQ(std::use_facet<std::moneypunct<char>>(global).decimal_point(), ',');
    std::ostringstream s;
    s << 1234567 << " " << 2.5;
    EXPECT_EQ(s.str(), "1234567 2.5");
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", 2.5);
    EXPECT_STREQ(buffer, "2.5");
}

TEST_F(LocaleApplyTest, MissingLocaleFallsBackToClassicWithUtf8Characters) {
    env.SetUserLanguage("de_DE.UTF-8");
    SelectLanguage(2);
    SelectLanguage(11);  // it_IT.UTF-8 was not built
    EXPECT_EQ(std::locale().name(), "C");
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    EXPECT_STREQ(setlocale(LC_TIME, nullptr), "C");
}

TEST_F(LocaleApplyTest, ProcessLocaleAtStartUsesTheUsersLocale) {
    env.SetUserLanguage("de_DE.UTF-8");
    ASSERT_TRUE(SetUpProcessLocale());
    EXPECT_EQ(std::use_facet<std::moneypunct<char>>(std::locale()).decimal_point(), ',');
    EXPECT_EQ(std::use_facet<std::numpunct<char>>(std::locale()).decimal_point(), '.');
}

}  // namespace
}  // namespace mw
