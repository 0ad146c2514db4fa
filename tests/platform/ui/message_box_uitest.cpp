// The real FLTK message box on an X display, answered from the keyboard with
// xdotool and closed through the window-manager protocol; what the box showed
// is read back from its control dump.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.hpp"
#include "platform/ui/fltk_ui.hpp"
#include "support/env_guard.hpp"
#include "support/test_env.hpp"
#include "support/x_keyboard.hpp"

// Last: Xlib defines macros (None, Status, ...) that clash with other headers.
#include <X11/Xlib.h>

namespace mw::platform {
namespace {

using namespace std::chrono_literals;

MessageBoxService& RealBoxes() {
    static MessageBoxService* real = [] {
        mwtest::EnvGuard env;
        env.Set("MW_HEADLESS", std::nullopt);
        InstallFltkUserInterface();
        return &MessageBoxes();
    }();
    return *real;
}

std::string ReadIfExists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int CountRecords(const std::string& dump) {
    int n = 0;
    for (std::size_t pos = 0; (pos = dump.find("\nend\n", pos)) != std::string::npos; ++pos) ++n;
    return n;
}

std::vector<std::vector<std::string>> Lines(const std::string& dump) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (true) {
            std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        lines.push_back(fields);
    }
    return lines;
}

// The top-level window named `caption`; 0 when there is none.
unsigned long FindWindow(const std::string& caption) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    unsigned long found = 0;
    ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name && caption == name) {
                found = children[i];
            }
            if (name) XFree(name);
        }
        if (children) XFree(children);
    }
    XCloseDisplay(display);
    return found;
}

// Sends the window manager's close request, as a window manager does when
// its close button is pressed.
bool SendCloseRequest(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}

// Keys go to the box's own window (other tests may show windows on the same
// display at the same time), and only once it has the keyboard.
bool SendKey(unsigned long window, const std::string& key) {
    return mwtest::PressKeyIn(std::to_string(window), key);
}

class RealMessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        // Held open for the whole test: an X server resets (and turns new
        // connections away for a moment) whenever its last client leaves.
        holder = XOpenDisplay(nullptr);
        if (!holder) GTEST_SKIP() << "the X display cannot be opened";
        dumpPath = dir / "dump.txt";
        env.Set("MW_UI_DUMP", dumpPath);
    }

    // Shows a box and, from another thread, waits until the box has
    // described itself, then performs the actions ("key:Return",
    // "close"). Should the box stay open, it is answered with Return until
    // it closes, and the test fails.
    int ShowAndAct(const std::string& text, const std::string& caption, uint32_t type,
                   const std::vector<std::string>& actions) {
        const int before = CountRecords(ReadIfExists(dumpPath));
        std::atomic<bool> returned{false};
        std::atomic<bool> forced{false};
        std::thread actor([&] {
            auto deadline = std::chrono::steady_clock::now() + 20s;
            while (CountRecords(ReadIfExists(dumpPath)) == before &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(20ms);
            }
            const unsigned long window = FindWindow(caption);
            if (window == 0) ADD_FAILURE() << "no window named " << caption;
            for (const std::string& action : actions) {
                if (action == "close") {
                    SendCloseRequest(window);
                } else if (action == "hold") {
                    // Long enough for a held key to repeat.
                    std::this_thread::sleep_for(1500ms);
                } else if (action.rfind("keyup:", 0) == 0) {
                    (void)std::system(("xdotool keyup " + action.substr(6)).c_str());
                } else if (action.rfind("key:", 0) == 0) {
                    EXPECT_TRUE(SendKey(window, action.substr(4)))
                        << "the box never had the keyboard for " << action;
                }
                std::this_thread::sleep_for(150ms);
            }
            auto end = std::chrono::steady_clock::now() + 5s;
            while (!returned && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(20ms);
            }
            while (!returned) {
                forced = true;
                (void)SendKey(window, "Return");
                std::this_thread::sleep_for(300ms);
            }
        });
        int result = RealBoxes().Show(nullptr, text, caption, type);
        returned = true;
        actor.join();
        EXPECT_FALSE(forced) << "the box did not close on the test's actions";
        return result;
    }

    void TearDown() override {
        if (holder) XCloseDisplay(holder);
    }

    Display* holder = nullptr;
    mwtest::EnvGuard env;
    mwtest::ScratchDir dir;
    std::string dumpPath;
};

TEST_F(RealMessageBoxTest, KeyboardAndCloseAnswers) {
    struct Case {
        const char* name;
        uint32_t type;
        std::vector<std::string> actions;
        int result;
    };
    const Case cases[] = {
        {"Enter on OK", mb::Ok | mb::IconError, {"key:Return"}, idc::Ok},
        {"Escape on OK", mb::Ok, {"key:Escape"}, idc::Ok},
        {"Escape on OK/Cancel", mb::OkCancel | mb::IconExclamation, {"key:Escape"}, idc::Cancel},
        {"Enter on the second default", mb::YesNo | mb::DefButton2, {"key:Return"}, idc::No},
        {"Escape does nothing on Yes/No", mb::YesNo, {"key:Escape", "key:Return"}, idc::Yes},
        {"close does nothing on Yes/No",
         mb::YesNo | mb::IconQuestion,
         {"close", "key:Return"},
         idc::Yes},
        {"Tab moves the focus Enter presses", mb::YesNoCancel, {"key:Tab", "key:Return"}, idc::No},
        {"Retry default", mb::RetryCancel | mb::IconExclamation, {"key:Return"}, idc::Retry},
        {"close on Retry/Cancel", mb::RetryCancel, {"close"}, idc::Cancel},
        {"close on OK", mb::Ok | mb::IconInformation, {"close"}, idc::Ok},
        {"third default", mb::AbortRetryIgnore | mb::DefButton3, {"key:Return"}, idc::Ignore},
        {"Escape does nothing on Abort/Retry/Ignore",
         mb::AbortRetryIgnore,
         {"key:Escape", "key:Return"},
         idc::Abort},
        {"access key", mb::YesNo, {"key:n"}, idc::No},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string caption =
            "Box test " + std::to_string(getpid()) + "-" + std::to_string(++n);
        EXPECT_EQ(ShowAndAct("Question number " + std::to_string(n), caption, c.type, c.actions),
                  c.result);
    }
}

// Enter held down from before the box was shown (the press that opened it,
// say) neither answers it nor repeats into it; the next key does.
TEST_F(RealMessageBoxTest, AKeyHeldFromBeforeTheBoxDoesNotAnswerIt) {
    ASSERT_EQ(std::system("xdotool keydown Return"), 0);
    const std::string caption = "Held key test " + std::to_string(getpid());
    const int result = ShowAndAct("Held", caption, mb::YesNo | mb::IconQuestion,
                                  {"hold", "keyup:Return", "key:n"});
    (void)std::system("xdotool keyup Return");
    EXPECT_EQ(result, idc::No);
}

TEST_F(RealMessageBoxTest, DumpShowsTheBoxAsDrawn) {
    const std::string text =
        "'Arbolux' will be installed in the selected Langage, but the Installer, still under "
        "translation,  shall run in English. mail@example.org\r\n\r\nSecond paragraph.";
    const std::string caption = "Installer \u2013 Arbolux 7.13c " + std::to_string(getpid());
    ASSERT_EQ(ShowAndAct(text, caption, mb::OkCancel | mb::IconInformation | mb::DefButton2,
                         {"key:Return"}),
              idc::Cancel);

    auto lines = Lines(ReadIfExists(dumpPath));
    ASSERT_EQ(lines.size(), 6u);
    ASSERT_EQ(lines[0].size(), 7u);
    EXPECT_EQ(lines[0][0], "window");
    EXPECT_EQ(lines[0][2], caption);
    const int x = std::stoi(lines[0][3]), y = std::stoi(lines[0][4]);
    const int w = std::stoi(lines[0][5]), h = std::stoi(lines[0][6]);
    // Centred on the screen, since nothing else places it.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const int sw = DisplayWidth(display, DefaultScreen(display));
    const int sh = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    EXPECT_NEAR(x + w / 2, sw / 2, 2);
    EXPECT_NEAR(y + h / 2, sh / 2, 2);

    EXPECT_EQ(lines[1][1], "Icon");
    EXPECT_EQ(lines[1][3], "information");
    EXPECT_EQ(lines[2][1], "Static");
    EXPECT_EQ(lines[2][3],
              "'Arbolux' will be installed in the selected Langage, but the Installer, still "
              "under translation,  shall run in English. mail@example.org\\r\\n\\r\\nSecond "
              "paragraph.");
    // The long text is wrapped into several lines within a bounded width.
    const int textW = std::stoi(lines[2][6]), textH = std::stoi(lines[2][7]);
    EXPECT_LE(textW, 420);
    EXPECT_GE(textH, 4 * 14);
    EXPECT_EQ(lines[3][1], "Button");
    EXPECT_EQ(lines[3][2], "1");
    EXPECT_EQ(lines[3][3], "OK");
    EXPECT_EQ(lines[3][8], "");
    EXPECT_EQ(lines[4][2], "2");
    EXPECT_EQ(lines[4][3], "Cancel");
    EXPECT_EQ(lines[4][8], "default,focus");
    // Every control lies inside the window, buttons below the text.
    for (int i = 1; i <= 4; ++i) {
        EXPECT_GE(std::stoi(lines[i][4]), 0);
        EXPECT_LE(std::stoi(lines[i][4]) + std::stoi(lines[i][6]), w);
        EXPECT_LE(std::stoi(lines[i][5]) + std::stoi(lines[i][7]), h);
    }
    EXPECT_GE(std::stoi(lines[3][5]), std::stoi(lines[2][5]) + textH);
    EXPECT_EQ(lines[5][0], "end");
}

}  // namespace
}  // namespace mw::platform
