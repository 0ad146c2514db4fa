#include "app/errors.hpp"

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_services.hpp"
#include "app/languages.hpp"
#include "platform/message_box.hpp"
#include "support/env_guard.hpp"
#include "support/string_tables.hpp"

namespace mw {
namespace {

TEST(SystemErrorText, CodesTheInstallerShows) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {170, "The requested resource is in use."},
        {161, "The specified path is invalid."},
        {0x8000FFFF, "Catastrophic failure"},
        {0x80004005, "Unspecified error"},
        {0x800700CE, "The filename or extension is too long."},
        {206, "The filename or extension is too long."},
        {0x80070005, "Access is denied."},
        {0x800700AA, "The requested resource is in use."},
        {2, "The system cannot find the file specified."},
        {112, "There is not enough space on the disk."},
        {0, "The operation completed successfully."},
        // Unknown codes read as E_FAIL.
        {0x12345678, "Unspecified error"},
        {0x8007FFFF, "Unspecified error"},
        {99999, "Unspecified error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SystemErrorText(c.code, 0), c.text) << std::hex << c.code;
        // Our table has English only: another language falls back to it.
        EXPECT_EQ(SystemErrorText(c.code, 0x040C), c.text) << std::hex << c.code;
        EXPECT_EQ(SystemErrorText(c.code, 0x0809), c.text) << std::hex << c.code;
    }
}

TEST(SystemErrorText, TableAnswersLikeTheSystem) {
    uint32_t error = 0;
    EXPECT_EQ(LookUpSystemMessage(170, 0, error), "The requested resource is in use.\r\n");
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(LookUpSystemMessage(170, 0x0407, error), std::nullopt);
    EXPECT_EQ(error, kErrorResourceLangNotFound);
    EXPECT_EQ(LookUpSystemMessage(0x12345678, 0, error), std::nullopt);
    EXPECT_EQ(error, kErrorMessageNotFound);
}

// A system message table under the test's control, recording the questions.
class FakeSystemMessages {
public:
    FakeSystemMessages() {
        SetSystemMessageSourceForTesting(
            [this](uint32_t code, uint32_t lang, uint32_t& error) -> std::optional<std::string> {
                asked.push_back({code, lang});
                auto it = texts.find(code);
                if (it == texts.end()) {
                    error = kErrorMessageNotFound;
                    return std::nullopt;
                }
                if (lang != 0 && !allLanguages) {
                    error = kErrorResourceLangNotFound;
                    return std::nullopt;
                }
                return it->second;
            });
    }
    ~FakeSystemMessages() { SetSystemMessageSourceForTesting({}); }

    std::map<uint32_t, std::string> texts;
    bool allLanguages = false;
    std::vector<std::pair<uint32_t, uint32_t>> asked;
};

TEST(SystemErrorText, TrailingLineEndsAreRemoved) {
    struct Case {
        const char* system;
        const char* shown;
    };
    const Case cases[] = {
        {"Boom\r\n", "Boom"}, {"Boom\r\n\r\n\n", "Boom"},
        {"Boom\n\r", "Boom"}, {"Line 1\r\nLine 2\r\n", "Line 1\r\nLine 2"},
        {"No end", "No end"}, {"Trailing space \r\n", "Trailing space "},
    };
    for (const Case& c : cases) {
        FakeSystemMessages system;
        system.texts[5] = c.system;
        EXPECT_EQ(SystemErrorText(5, 0), c.shown) << c.system;
    }
}

TEST(SystemErrorText, FallBacks) {
    {
        // The language has no text: asked again in language 0.
        FakeSystemMessages system;
        system.texts[5] = "Denied\r\n";
        EXPECT_EQ(SystemErrorText(5, 0x0407), "Denied");
        ASSERT_EQ(system.asked.size(), 2u);
        EXPECT_EQ(system.asked[0], std::make_pair(5u, 0x0407u));
        EXPECT_EQ(system.asked[1], std::make_pair(5u, 0u));
    }
    {
        // Only the low 16 bits of the language are passed on.
        FakeSystemMessages system;
        system.texts[5] = "Denied";
        system.allLanguages = true;
        EXPECT_EQ(SystemErrorText(5, 0x12340407), "Denied");
        EXPECT_EQ(system.asked.at(0).second, 0x0407u);
    }
    {
        // No text for the code: E_FAIL's, in the same language.
        FakeSystemMessages system;
        system.texts[kEFail] = "Unspecified\r\n";
        system.allLanguages = true;
        EXPECT_EQ(SystemErrorText(42, 0x040C), "Unspecified");
        EXPECT_EQ(system.asked.back(), std::make_pair(kEFail, 0x040Cu));
    }
    {
        // Not even E_FAIL has a text.
        FakeSystemMessages system;
        EXPECT_EQ(SystemErrorText(kEFail, 0), "Error");
        EXPECT_EQ(SystemErrorText(42, 0), "Error");
    }
}

TEST(SystemErrorText, ErrnoValues) {
    EXPECT_EQ(SystemErrorText(std::error_code(ENOENT, std::system_category())),
              std::strerror(ENOENT));
    EXPECT_EQ(SystemErrorText(std::error_code(EACCES, std::generic_category())),
              std::strerror(EACCES));
    EXPECT_EQ(SystemErrorText(std::make_error_code(std::io_errc::stream)),
              std::make_error_code(std::io_errc::stream).message());

    struct Case {
        int errnoValue;
        uint32_t win32;
    };
    const Case cases[] = {
        {0, 0},           {ENOENT, 2},         {EACCES, 5},   {EPERM, 5},
        {EBUSY, 170},     {ENAMETOOLONG, 206}, {ENOSPC, 112}, {EEXIST, 80},
        {ENOTEMPTY, 145}, {EXDEV, 17},         {EROFS, 19},   {ENOMEM, 8},
        {ETXTBSY, 32},    {ENOTDIR, 267},      {EIO, 1117},   {EDQUOT, 112},
        {EHWPOISON, 31},  // nothing closer: ERROR_GEN_FAILURE
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Win32ErrorFromErrno(c.errnoValue), c.win32) << c.errnoValue;
        EXPECT_EQ(HResultFromErrno(c.errnoValue), c.win32 ? 0x80070000 | c.win32 : 0u);
        // Every mapped code has a text of its own.
        EXPECT_NE(SystemErrorText(c.win32, 0), "Unspecified error") << c.win32;
    }
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.SetUserLanguage("fr_FR.UTF-8");
        platform::SetMessageBoxesForTesting(&boxes);
        ResetAppServicesForTesting();
        SetAppTitle("Installer \u2013 Arbolux 7.13c");
    }
    void TearDown() override {
        platform::SetMessageBoxesForTesting(nullptr);
        ResetAppServicesForTesting();
    }
    mwtest::EnvGuard env;
    platform::HeadlessMessageBoxes boxes;
    mwtest::ScopedSourceStrings strings;
};

TEST_F(MessageTest, ErrorCodeTextWithCustomerBits) {
    SelectLanguage(kEnglish);
    struct Case {
        uint32_t code;
        std::string text;
    };
    const Case cases[] = {
        {0x20000001, "Unspecified error"},  // customer bit alone
        {0x2000007B, "Unspecified error"},
        {0x28000000 | 2126,
         "You should have Administrator Rights in order to proceed to Installation."},
        {0x28000000 | 1012, "Échec"},
        {0x28000000 | 9999, "Unspecified error"},  // no such string
        {0x28000000 | 2131, "#"},                  // read as stored, not through the catalog
        {0x08000000 | 170, "Unspecified error"},   // bit 27 without bit 29: a plain code
        {170, "The requested resource is in use."},
        {0x8000FFFF, "Catastrophic failure"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorCodeText(c.code), c.text) << std::hex << c.code;
    }
    SetStringSourceForTesting([](uint32_t id) -> std::optional<std::string> {
        if (id == 77) return std::string();
        return std::nullopt;
    });
    EXPECT_EQ(ErrorCodeText(0x28000000 | 77), "Unspecified error");  // empty text
}

TEST_F(MessageTest, ReportErrorShowsAnExclamationBoxWithTheTitle) {
    ReportError(170);
    ReportError(kEUnexpected);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "The requested resource is in use.");
    EXPECT_EQ(boxes.shown[0].caption, "Installer \u2013 Arbolux 7.13c");
    EXPECT_EQ(boxes.shown[0].type, 0x30u);
    EXPECT_EQ(boxes.shown[1].text, "Catastrophic failure");
}

TEST_F(MessageTest, CaptionBeforeTheTitleIsSetIsTheProgramName) {
    ResetAppServicesForTesting();
    ReportError(170);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(boxes.shown[0].caption.empty());
    EXPECT_EQ(boxes.shown[0].caption.find('/'), std::string::npos);
}

TEST_F(MessageTest, TypeCompletion) {
    struct Case {
        uint32_t given;
        uint32_t shown;
    };
    const Case cases[] = {
        {0x00, 0x30}, {0x01, 0x31}, {0x02, 0x02}, {0x03, 0x23}, {0x04, 0x24},   {0x05, 0x05},
        {0x40, 0x40}, {0x10, 0x10}, {0x14, 0x14}, {0x21, 0x21}, {0x104, 0x124}, {0x2000, 0x2030},
    };
    for (const Case& c : cases) {
        boxes.shown.clear();
        ShowMessage("text", c.given);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].type, c.shown) << std::hex << c.given;
    }
}

TEST_F(MessageTest, CaptionGivenOrDefault) {
    ShowMessage("a", 0, "Own caption");
    AppServices().defaultCaption = [] { return std::string("From the table"); };
    ShowMessage("b", 0);
    ShowMessage("c", 0, "");
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[0].caption, "Own caption");
    EXPECT_EQ(boxes.shown[1].caption, "From the table");
    EXPECT_EQ(boxes.shown[2].caption, "From the table");
}

TEST_F(MessageTest, RightToLeftReading) {
    int a = 0, b = 0;
    auto* rtlWindow = reinterpret_cast<platform::Window*>(&a);
    auto* ltrWindow = reinterpret_cast<platform::Window*>(&b);
    struct Case {
        const char* userLang;
        platform::Window* shownWindow;  // nullptr: no window of ours is shown
        bool rtl;
    };
    const Case cases[] = {
        {"fr_FR", nullptr, false},
        // Without an owner the user's language decides through the state's
        // mask, which holds French only: a Hebrew user still reads left to right.
        {"he_IL", nullptr, false},
        {"fr_FR", rtlWindow, true},
        {"he_IL", ltrWindow, false},
    };
    for (const Case& c : cases) {
        ResetAppServicesForTesting();
        env.SetUserLanguage(c.userLang);
        if (c.shownWindow) NoteTopLevelWindowShown(c.shownWindow, c.shownWindow == rtlWindow);
        boxes.shown.clear();
        ShowMessage("text", 0x40);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ((boxes.shown[0].type & platform::mb::RtlReading) != 0, c.rtl) << c.userLang;
    }
    // With a mask that holds Hebrew, the user default is Hebrew, which is RTL.
    env.SetUserLanguage("he_IL");
    GetLocaleState().mask = 0xFFFFF;
    ResetAppServicesForTesting();
    boxes.shown.clear();
    ShowMessage("text", 0x40);
    EXPECT_EQ(boxes.shown.at(0).type, 0x40u | platform::mb::RtlReading);
    GetLocaleState().mask = 1;
}

TEST_F(MessageTest, OwnerIsTheServicesEntryElseTheDefaultOwner) {
    int a = 0, b = 0;
    auto* first = reinterpret_cast<platform::Window*>(&a);
    auto* second = reinterpret_cast<platform::Window*>(&b);
    EXPECT_EQ(DefaultOwner(), nullptr);
    NoteTopLevelWindowShown(first, false);
    NoteTopLevelWindowShown(second, true);
    EXPECT_EQ(DefaultOwner(), second);
    NoteTopLevelWindowShown(first, false);  // activated again
    EXPECT_EQ(DefaultOwner(), first);
    NoteTopLevelWindowHidden(first);
    EXPECT_EQ(DefaultOwner(), second);

    // The owner's layout decides the reading order, so a different owner
    // from the table shows through the box type.
    ShowMessage("x", 0);
    EXPECT_NE(boxes.shown.back().type & platform::mb::RtlReading, 0u);
    AppServices().owner = [first] { return first; };
    ShowMessage("x", 0);
    EXPECT_EQ(boxes.shown.back().type & platform::mb::RtlReading, 0u);
    NoteTopLevelWindowHidden(second);
    EXPECT_EQ(DefaultOwner(), nullptr);
}

TEST_F(MessageTest, SilentRule) {
    std::vector<std::string> debug;
    std::vector<bool> modal;
    AppServices().silent = [] { return true; };
    AppServices().debugOutput = [&](const std::string& s) { debug.push_back(s); };
    AppServices().modalState = [&](bool ended) { modal.push_back(ended); };
    boxes.answers = {2};

    EXPECT_EQ(ShowMessage("quiet", 0), 1);
    EXPECT_EQ(ShowMessage("quiet too", 0x40), 1);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(modal.empty());
    EXPECT_EQ(debug, (std::vector<std::string>{"quiet\n", "quiet too\n"}));

    // Other button sets are always shown.
    EXPECT_EQ(ShowMessage("loud", 0x35), 2);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "loud");
    EXPECT_EQ(modal, (std::vector<bool>{false, true}));

    // Without the silence test nothing is silent.
    AppServices().silent = nullptr;
    EXPECT_EQ(ShowMessage("shown", 0), 1);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(debug.size(), 2u);
}

}  // namespace
}  // namespace mw
