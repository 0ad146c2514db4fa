// The real dialogs' modal loop on an X display.
#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/controls.hpp"
#include "platform/ui/fltk_ui.hpp"

// Last: Xlib defines macros (None, Status, ...) that clash with other headers.
#include <X11/Xlib.h>

namespace mw::platform {
namespace {

using namespace std::chrono_literals;

Fl_Widget* FindLabelled(Fl_Group* group, const char* label) {
    for (int i = 0; i < group->children(); ++i) {
        Fl_Widget* w = group->child(i);
        if (w->label() && std::strcmp(w->label(), label) == 0) return w;
        if (Fl_Group* g = w->as_group())
            if (Fl_Widget* found = FindLabelled(g, label)) return found;
    }
    return nullptr;
}

// Clicks "Go" the way a mouse release does: the button's callback, nothing
// else on the display.
void PressGo(void*) {
    if (Fl_Window* window = Fl::first_window())
        if (Fl_Widget* go = FindLabelled(window, "Go")) go->do_callback();
}

// Sends the window an event of no meaning, which wakes a loop that waits for
// the display.
void Nudge(const std::string& caption) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name && caption == name) {
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = children[i];
                event.xclient.message_type = XInternAtom(display, "MW_NUDGE", False);
                event.xclient.format = 32;
                XSendEvent(display, children[i], False, NoEventMask, &event);
            }
            if (name) XFree(name);
        }
        if (children) XFree(children);
    }
    XSync(display, False);
    XCloseDisplay(display);
}

// A click that ends the dialog runs from the event loop after the click
// itself; the modal loop must then return at once, not when the display
// next happens to send something (on an idle display: never).
TEST(RealDialogModalLoop, ReturnsAsSoonAsAClickEndsTheDialog) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    // Held open for the whole test: an X server resets whenever its last
    // client leaves.
    Display* holder = XOpenDisplay(nullptr);
    if (!holder) GTEST_SKIP() << "the X display cannot be opened";

    DialogTemplate layout;
    layout.width = 120;
    layout.height = 40;
    layout.caption = "Loop test " + std::to_string(getpid());
    DialogControl go;
    go.id = 7;
    go.kind = ControlKind::PushButton;
    go.flags = ctl::TabStop;
    go.x = 10;
    go.y = 10;
    go.width = 50;
    go.height = 14;
    go.text = "Go";
    layout.controls.push_back(go);
    std::unique_ptr<Dialog> dialog = FltkToolkit().CreateDialog(layout, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    dialog->SetHandler([&](const ControlEvent& event) {
        if (event.id == 7 && event.what == Notify::Clicked) dialog->EndDialog(7);
    });

    // Pressed once the window is up and the display has gone quiet.
    Fl::add_timeout(0.5, PressGo, nullptr);
    std::atomic<bool> returned{false}, nudged{false};
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!returned && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        while (!returned) {
            nudged = true;
            Nudge(layout.caption);
            std::this_thread::sleep_for(200ms);
        }
    });
    const int result = dialog->RunModal();
    returned = true;
    watchdog.join();
    EXPECT_EQ(result, 7);
    EXPECT_FALSE(nudged) << "the loop went on waiting after its dialog had ended";
    dialog.reset();
    XCloseDisplay(holder);
}

}  // namespace
}  // namespace mw::platform
