// The real dialogs' modal loop on an X display.
// The test framework first: FLTK's headers bring in Xlib, whose macros (None,
// Status, ...) would otherwise rewrite its names.
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Tree.H>
#include <FL/Fl_Window.H>
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

// Held open for a whole test: an X server resets whenever its last client
// leaves.
struct DisplayHolder {
    Display* display = XOpenDisplay(nullptr);
    ~DisplayHolder() {
        if (display) XCloseDisplay(display);
    }
};

// A dialog that holds one control, its caption made unique to this process.
DialogTemplate OneControlLayout(const std::string& caption, int width, int height,
                                DialogControl control) {
    DialogTemplate layout;
    layout.width = width;
    layout.height = height;
    layout.caption = caption + " " + std::to_string(getpid());
    layout.controls.push_back(std::move(control));
    return layout;
}

// The first widget of type T below `group`, depth first.
template <class T>
T* FindWidget(Fl_Group* group) {
    for (int i = 0; i < group->children(); ++i) {
        if (auto* found = dynamic_cast<T*>(group->child(i))) return found;
        if (Fl_Group* g = group->child(i)->as_group())
            if (T* found = FindWidget<T>(g)) return found;
    }
    return nullptr;
}

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
    DisplayHolder holder;
    if (!holder.display) GTEST_SKIP() << "the X display cannot be opened";

    DialogControl go;
    go.id = 7;
    go.kind = ControlKind::PushButton;
    go.flags = ctl::TabStop;
    go.x = 10;
    go.y = 10;
    go.width = 50;
    go.height = 14;
    go.text = "Go";
    const DialogTemplate layout = OneControlLayout("Loop test", 120, 40, go);
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
}

// An item selected before the window is shown (the folder chooser's start
// folder, deep in a long list) is in view once the window is up.
TEST(RealDialogTree, TheSelectionMadeBeforeShowingIsScrolledIntoView) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    DisplayHolder holder;
    if (!holder.display) GTEST_SKIP() << "the X display cannot be opened";

    DialogControl tree;
    tree.id = 9;
    tree.kind = ControlKind::Tree;
    tree.flags = ctl::TabStop;
    tree.x = 5;
    tree.y = 5;
    tree.width = 150;
    tree.height = 80;
    const DialogTemplate layout = OneControlLayout("Tree test", 160, 120, tree);
    std::unique_ptr<Dialog> dialog = FltkToolkit().CreateDialog(layout, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    TreeItem target = kTreeRoot;
    for (int i = 0; i < 60; ++i) {
        const TreeItem item =
            dialog->InsertTreeItem(9, kTreeRoot, "folder " + std::to_string(i), false);
        if (i == 47) target = item;
    }
    dialog->SelectTreeItem(9, target);
    dialog->ShowDialog(true);
    Fl::check();

    Fl_Tree* shown = FindWidget<Fl_Tree>(Fl::first_window());
    ASSERT_NE(shown, nullptr);
    Fl_Tree_Item* selected = shown->first_selected_item();
    ASSERT_NE(selected, nullptr);
    EXPECT_STREQ(selected->label(), "folder 47");
    EXPECT_TRUE(shown->displayed(selected)) << "the selected item is scrolled out of view";
    dialog.reset();
}

// A line longer than a read-only log panel is wide is shown whole, down to
// its last character, inside the panel (the installation log's folders).
TEST(RealDialogLog, ALongLineIsNotCutOffAtThePanelsEdge) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    DisplayHolder holder;
    if (!holder.display) GTEST_SKIP() << "the X display cannot be opened";

    DialogControl log;
    log.id = 4;
    log.kind = ControlKind::Edit;
    log.flags = ctl::MultiLine | ctl::ReadOnly;
    log.x = 5;
    log.y = 5;
    log.width = 150;
    log.height = 60;
    const DialogTemplate layout = OneControlLayout("Log test", 160, 80, log);
    std::unique_ptr<Dialog> dialog = FltkToolkit().CreateDialog(layout, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    const std::string line =
        "Creating a Shortcut in the Start Menu (Folder \"/usr/local/share/applications/"
        "Meridan Works/Arbolux 7\").";
    ASSERT_GT(dialog->TextWidth(line), dialog->TextAreaWidth(4)) << "the line must be too long";
    dialog->AppendText(4, line + "\r\n");
    dialog->ScrollToTop(4);
    dialog->ShowDialog(true);
    Fl::check();

    Fl_Text_Display* panel = FindWidget<Fl_Text_Display>(Fl::first_window());
    ASSERT_NE(panel, nullptr);
    int x = 0, y = 0;
    ASSERT_NE(panel->position_to_xy(static_cast<int>(line.size()) - 1, &x, &y), 0)
        << "the line's end is not in view";
    EXPECT_LT(x, panel->x() + panel->w()) << "the line's end is cut off";
    dialog.reset();
}

}  // namespace
}  // namespace mw::platform
