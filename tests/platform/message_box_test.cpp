#include "platform/message_box.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/testing/scoped_for_testing.hpp"
#include "platform/ui_dump.hpp"
#include "support/env_guard.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

TEST(HeadlessMessageBoxes, DefaultButtonAnswersWhenNoAnswerIsQueued) {
    struct Case {
        uint32_t type;
        int result;
    };
    const Case cases[] = {
        {mb::Ok, idc::Ok},
        {mb::Ok | mb::DefButton2, idc::Ok},  // a default the box lacks: the first
        {mb::OkCancel, idc::Ok},
        {mb::OkCancel | mb::DefButton2, idc::Cancel},
        {mb::AbortRetryIgnore, idc::Abort},
        {mb::AbortRetryIgnore | mb::DefButton2, idc::Retry},
        {mb::AbortRetryIgnore | mb::DefButton3, idc::Ignore},
        {mb::YesNoCancel | mb::IconQuestion, idc::Yes},
        {mb::YesNoCancel | mb::DefButton3, idc::Cancel},
        {mb::YesNo, idc::Yes},
        {mb::YesNo | mb::DefButton2, idc::No},
        {mb::YesNo | mb::DefButton3, idc::Yes},
        {mb::RetryCancel | mb::IconExclamation, idc::Retry},
        {mb::RetryCancel | mb::DefButton2, idc::Cancel},
    };
    HeadlessMessageBoxes boxes;
    for (const Case& c : cases) {
        EXPECT_EQ(boxes.Show(nullptr, "t", "c", c.type), c.result) << std::hex << c.type;
    }
    EXPECT_EQ(boxes.shown.size(), std::size(cases));
}

TEST(HeadlessMessageBoxes, RecordsAndAnswersInOrder) {
    HeadlessMessageBoxes boxes;
    boxes.answers = {idc::Retry, idc::Retry, idc::Cancel};
    EXPECT_EQ(boxes.Show(nullptr, "close it", "Title", 0x35), idc::Retry);
    EXPECT_EQ(boxes.Show(nullptr, "close it", "Title", 0x35), idc::Retry);
    EXPECT_EQ(boxes.Show(nullptr, "close it", "Title", 0x35), idc::Cancel);
    EXPECT_EQ(boxes.Show(nullptr, "close it", "Title", 0x35), idc::Retry);  // queue empty
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[2].text, "close it");
    EXPECT_EQ(boxes.shown[2].caption, "Title");
    EXPECT_EQ(boxes.shown[2].type, 0x35u);
}

TEST(HeadlessMessageBoxes, DumpsWhatItShowsWhenAsked) {
    mwtest::ScratchDir dir;
    mwtest::EnvGuard env;
    env.Set("MW_UI_DUMP", dir / "dump.txt");
    HeadlessMessageBoxes boxes;
    boxes.Show(nullptr, "Line 1\r\nLine\t2 \\ end", "Cap", 0x124 | mb::RtlReading);
    boxes.Show(nullptr, "Second", "Cap 2", 0);
    boxes.Show(nullptr, "Initialization Error", "", 0x12010);
    // The same box as the real one, laid out with the headless metrics.
    EXPECT_EQ(mwtest::ReadFile(dir / "dump.txt"),
              "window\tMessageBox\tCap\t0\t0\t240\t108\n"
              "control\tIcon\t20\tquestion\t194\t14\t32\t32\t\n"
              "control\tStatic\t65535\tLine 1\\r\\nLine\\t2 \\\\ end\t116\t17\t66\t26\trtl\n"
              "control\tButton\t6\tYes\t42\t70\t88\t28\t\n"
              "control\tButton\t7\tNo\t138\t70\t88\t28\tdefault,focus\n"
              "end\n"
              "window\tMessageBox\tCap 2\t0\t0\t240\t89\n"
              "control\tStatic\t65535\tSecond\t14\t14\t36\t13\t\n"
              "control\tButton\t1\tOK\t138\t51\t88\t28\tdefault,focus\n"
              "end\n"
              "window\tMessageBox\tError\t0\t0\t240\t108\n"
              "control\tIcon\t20\terror\t14\t14\t32\t32\t\n"
              "control\tStatic\t65535\tInitialization Error\t58\t23\t117\t13\t\n"
              "control\tButton\t1\tOK\t138\t70\t88\t28\tdefault,focus\n"
              "end\n");
    EXPECT_EQ(boxes.shown.at(2).caption, "");
}

TEST(MessageBoxes, ProcessWideServiceFollowsTheEnvironmentAndTests) {
    mwtest::EnvGuard env;
    env.Set("MW_HEADLESS", "1");
    auto* headless = dynamic_cast<HeadlessMessageBoxes*>(&MessageBoxes());
    ASSERT_NE(headless, nullptr);
    HeadlessMessageBoxes mine;
    {
        const ScopedForTesting boxes(&SetMessageBoxesForTesting, &mine);
        EXPECT_EQ(&MessageBoxes(), &mine);
    }
    EXPECT_EQ(&MessageBoxes(), headless);
    // Not asked for: the installed user interface's boxes, and without one
    // (a program that has none) a headless service that echoes what it shows.
    env.Set("MW_HEADLESS", "0");
    HeadlessMessageBoxes interactive;
    SetInteractiveMessageBoxes(&interactive);
    EXPECT_EQ(&MessageBoxes(), &interactive);
    SetInteractiveMessageBoxes(nullptr);
    auto* fallback = dynamic_cast<HeadlessMessageBoxes*>(&MessageBoxes());
    ASSERT_NE(fallback, nullptr);
    EXPECT_NE(fallback, headless);
    EXPECT_TRUE(fallback->echo);
}

TEST(MessageBoxes, ProcessWideHeadlessServiceTakesAnswersFromTheEnvironment) {
    // A fresh process, so that the service is created with this environment.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    mwtest::EnvGuard env;
    env.Set("MW_HEADLESS", "1");
    env.Set("MW_MSGBOX_ANSWERS", "4,2");
    EXPECT_EXIT(
        {
            MessageBoxService& boxes = MessageBoxes();
            int a = boxes.Show(nullptr, "t", "c", mb::RetryCancel);
            int b = boxes.Show(nullptr, "t", "c", mb::RetryCancel);
            int c = boxes.Show(nullptr, "t", "c", mb::YesNo | mb::DefButton2);
            std::fprintf(stderr, "answers %d %d %d\n", a, b, c);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "answers 4 2 7");
}

}  // namespace
}  // namespace mw::platform
