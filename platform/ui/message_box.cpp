#include "platform/message_box.hpp"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/system_info.hpp"
#include "platform/ui/fltk_setup.hpp"
#include "platform/ui/fltk_ui.hpp"
#include "platform/ui_dump.hpp"

namespace mw::platform {
namespace {

using namespace msgbox;

// ---- FLTK ----

constexpr int kMargin = 14;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonHeight = 28;
constexpr int kButtonMinWidth = 88;
constexpr int kButtonGap = 8;
constexpr int kBandPadding = 10;
constexpr int kFontSize = 14;
constexpr int kLabelInset = 3;

class CBoxButton;

// The box's window. It remembers which button had the focus, so that the
// keyboard still reaches that button after another window took the X focus
// away (FLTK then has no focused widget at all).
class CBoxWindow : public Fl_Double_Window {
public:
    CBoxWindow(int w, int h) : Fl_Double_Window(w, h) {}

    void SetCurrent(Fl_Widget* button) { current_ = button; }

    int handle(int event) override;

private:
    Fl_Widget* current_ = nullptr;
};

// A button that Enter presses when it has the focus, as in the system's own
// boxes (FLTK's buttons answer only the space bar), and that shows the
// focus as the default frame.
class CBoxButton : public Fl_Button {
public:
    CBoxButton(int x, int y, int w, int h, const char* label, int result)
        : Fl_Button(x, y, w, h, label), result_(result) {}

    int result() const { return result_; }

    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            do_callback();
            return 1;
        }
        if (event == FL_FOCUS) static_cast<CBoxWindow*>(window())->SetCurrent(this);
        if (event == FL_FOCUS || event == FL_UNFOCUS) redraw();
        return Fl_Button::handle(event);
    }

    void draw() override {
        Fl_Button::draw();
        if (Fl::focus() == this) {
            fl_color(fl_rgb_color(0, 84, 153));
            fl_rect(x(), y(), w(), h());
            fl_rect(x() + 1, y() + 1, w() - 2, h() - 2);
        }
    }

private:
    int result_;
};

int CBoxWindow::handle(int event) {
    if (event == FL_FOCUS && current_ && current_->take_focus()) return 1;
    if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && current_ && !contains(Fl::focus()) &&
        Fl::event_key() != FL_Escape) {
        current_->take_focus();
        if (Fl::focus() == current_ && current_->handle(FL_KEYBOARD)) return 1;
        if (Fl_Double_Window::handle(FL_KEYBOARD)) return 1;  // Tab and arrows move on
    }
    return Fl_Double_Window::handle(event);
}

class CBoxIcon : public Fl_Widget {
public:
    CBoxIcon(int x, int y, IconKind kind) : Fl_Widget(x, y, kIconSize, kIconSize), kind_(kind) {}

    void draw() override {
        const int x0 = x(), y0 = y(), s = kIconSize;
        switch (kind_) {
            case IconKind::Error:
                fl_color(fl_rgb_color(200, 32, 32));
                fl_pie(x0, y0, s, s, 0, 360);
                fl_color(FL_WHITE);
                fl_line_style(FL_SOLID | FL_CAP_ROUND, 4);
                fl_line(x0 + 10, y0 + 10, x0 + s - 11, y0 + s - 11);
                fl_line(x0 + s - 11, y0 + 10, x0 + 10, y0 + s - 11);
                fl_line_style(0);
                break;
            case IconKind::Question:
                Disc(fl_rgb_color(32, 96, 192), "?", FL_HELVETICA_BOLD);
                break;
            case IconKind::Information:
                Disc(fl_rgb_color(32, 96, 192), "i", FL_TIMES_BOLD);
                break;
            case IconKind::Exclamation:
                fl_color(fl_rgb_color(240, 192, 16));
                fl_polygon(x0 + s / 2, y0 + 1, x0 + s - 1, y0 + s - 2, x0, y0 + s - 2);
                fl_color(fl_rgb_color(128, 96, 0));
                fl_loop(x0 + s / 2, y0 + 1, x0 + s - 1, y0 + s - 2, x0, y0 + s - 2);
                fl_color(FL_BLACK);
                fl_font(FL_HELVETICA_BOLD, 20);
                fl_draw("!", x0, y0 + 6, s, s - 6, FL_ALIGN_CENTER, nullptr, 0);
                break;
            case IconKind::NoIcon:
                break;
        }
    }

private:
    void Disc(Fl_Color color, const char* glyph, Fl_Font font) {
        fl_color(color);
        fl_pie(x(), y(), kIconSize, kIconSize, 0, 360);
        fl_color(FL_WHITE);
        fl_font(font, 22);
        fl_draw(glyph, x(), y(), kIconSize, kIconSize, FL_ALIGN_CENTER, nullptr, 0);
    }

    IconKind kind_;
};

// FLTK reads '@' in a label as the start of a symbol; "@@" is a plain '@'.
// Line ends become '\n' alone, since FLTK shows a '\r' as "^M".
std::string LabelText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '@') {
            out += "@@";
        } else if (c == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

struct BoxRun {
    Fl_Double_Window* window = nullptr;
    int result = 0;
    int escapeResult = 0;
};

void OnButton(Fl_Widget* widget, void* data) {
    auto* run = static_cast<BoxRun*>(data);
    run->result = static_cast<CBoxButton*>(widget)->result();
    run->window->hide();
}

void OnWindowClose(Fl_Widget*, void* data) {
    auto* run = static_cast<BoxRun*>(data);
    if (run->escapeResult == 0) return;  // Yes/No and Abort/Retry/Ignore must be answered
    run->result = run->escapeResult;
    run->window->hide();
}

int ShowFltkBox(const std::string& text, const std::string& givenCaption, uint32_t type) {
    // A box without caption is titled "Error", as the system's boxes are.
    const std::string caption = givenCaption.empty() ? "Error" : givenCaption;
    if (!EnsureFltkDisplay()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return 0;
    }
    const std::vector<ButtonSpec> buttons = ButtonsOf(type);
    const std::size_t defaultIndex = DefaultButton(type, buttons.size());
    const IconKind icon = IconOf(type);
    const bool rtl = (type & mb::RtlReading) != 0;
    const std::string label = LabelText(text);

    fl_font(FL_HELVETICA, kFontSize);
    int textW = 0, textH = 0;
    fl_measure(label.c_str(), textW, textH);
    if (textW > kMaxTextWidth) {
        textW = kMaxTextWidth;
        textH = 0;
        fl_measure(label.c_str(), textW, textH);
    }
    textH = std::max(textH, fl_height());

    std::vector<int> buttonWidths;
    int buttonsW = 0;
    for (const ButtonSpec& b : buttons) {
        int bw = 0, bh = 0;
        fl_measure(b.label, bw, bh);
        bw = std::max(kButtonMinWidth, bw + 24);
        buttonWidths.push_back(bw);
        buttonsW += bw;
    }
    buttonsW += kButtonGap * static_cast<int>(buttons.size() - 1);

    const int iconW = icon == IconKind::NoIcon ? 0 : kIconSize + kIconGap;
    const int contentW = iconW + textW;
    const int width = std::max({240, contentW + 2 * kMargin, buttonsW + 2 * kMargin});
    const int contentH = std::max(icon == IconKind::NoIcon ? 0 : kIconSize, textH);
    const int bandY = kMargin + contentH + kMargin;
    const int height = bandY + kBandPadding + kButtonHeight + kBandPadding;

    BoxRun run;
    run.escapeResult = EscapeResult(type);
    auto window = std::make_unique<CBoxWindow>(width, height);
    run.window = window.get();
    window->copy_label(caption.c_str());
    window->color(FL_WHITE);
    window->callback(OnWindowClose, &run);

    // The icon sits on the reading side's start; the text fills the rest.
    const int iconX = rtl ? width - kMargin - kIconSize : kMargin;
    const int textX = rtl ? width - kMargin - contentW : kMargin + iconW;
    const int textY = kMargin + (contentH - textH) / 2;
    CBoxIcon* iconWidget = nullptr;
    if (icon != IconKind::NoIcon) {
        iconWidget = new CBoxIcon(iconX, kMargin + (contentH - kIconSize) / 2, icon);
    }
    // FLTK insets a left- or right-aligned label by 3 pixels on each side.
    auto* textBox = new Fl_Box(textX - kLabelInset, textY, textW + 2 * kLabelInset, textH);
    textBox->copy_label(label.c_str());
    textBox->labelfont(FL_HELVETICA);
    textBox->labelsize(kFontSize);
    textBox->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP |
                   (rtl ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT));

    auto* band = new Fl_Box(FL_FLAT_BOX, 0, bandY, width, height - bandY, nullptr);
    band->color(fl_rgb_color(240, 240, 240));

    std::vector<CBoxButton*> buttonWidgets;
    int bx = width - kMargin - buttonsW;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        auto* b = new CBoxButton(bx, bandY + kBandPadding, buttonWidths[i], kButtonHeight,
                                 buttons[i].label, buttons[i].result);
        b->labelsize(kFontSize);
        b->callback(OnButton, &run);
        buttonWidgets.push_back(b);
        bx += buttonWidths[i] + kButtonGap;
    }
    window->end();
    window->set_modal();

    int sx = 0, sy = 0, sw = 0, sh = 0;
    Fl::screen_xywh(sx, sy, sw, sh);
    window->position(sx + (sw - width) / 2, sy + (sh - height) / 2);
    window->show();
    buttonWidgets[defaultIndex]->take_focus();
    window->wait_for_expose();
    // Without a window manager nobody else gives the box the keyboard.
    XSetInputFocus(fl_display, fl_xid(window.get()), RevertToParent, CurrentTime);
    XFlush(fl_display);

    if (!UiDumpPath().empty()) {
        UiDumpWindow dump{"MessageBox", caption, window->x(), window->y(), width, height, {}};
        if (iconWidget) {
            dump.controls.push_back({"Icon", 0x14, IconName(icon), iconWidget->x(), iconWidget->y(),
                                     kIconSize, kIconSize, ""});
        }
        dump.controls.push_back(
            {"Static", 0xFFFF, text, textX, textY, textW, textH, rtl ? "rtl" : ""});
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            CBoxButton* b = buttonWidgets[i];
            dump.controls.push_back({"Button", buttons[i].result, buttons[i].text, b->x(), b->y(),
                                     b->w(), b->h(),
                                     ButtonStates(i, defaultIndex, Fl::focus() == b)});
        }
        AppendUiDump(dump);
    }

    while (window->shown()) Fl::wait();
    return run.result;
}

// The linked library's version as (major << 16) | minor.
uint32_t FltkVersion() {
    // major * 10000 + minor * 100 + patch
    const int v = Fl::api_version();
    if (v <= 0) return 0;
    const uint32_t major = static_cast<uint32_t>(v / 10000);
    const uint32_t minor = static_cast<uint32_t>((v / 100) % 100);
    return (major << 16) | (minor & 0xFFFF);
}

class FltkMessageBoxes final : public MessageBoxService {
public:
    int Show(Window*, const std::string& text, const std::string& caption, uint32_t type) override {
        return ShowFltkBox(text, caption, type);
    }
};

}  // namespace

bool EnsureFltkDisplay() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        if (!fl_display) {
            // An X server that is resetting after its last client left turns
            // connections away for a moment; a few tries ride that out.
            Display* display = nullptr;
            for (int attempt = 0; attempt < 10 && !display; ++attempt) {
                if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                display = XOpenDisplay(nullptr);
            }
            if (!display) return;
            fl_open_display(display);
        }
        // The leading character is FLTK's style mark: ' ' plain, 'B' bold.
        Fl::set_font(FL_HELVETICA, " DejaVu Sans");
        Fl::set_font(FL_HELVETICA_BOLD, "BDejaVu Sans");
        Fl::set_font(FL_TIMES_BOLD, "BDejaVu Serif");
        ready = true;
    });
    return ready;
}

void InstallFltkUserInterface() {
    static FltkMessageBoxes boxes;
    SetInteractiveMessageBoxes(&boxes);
    SetToolkitVersion(FltkVersion());
}

}  // namespace mw::platform
