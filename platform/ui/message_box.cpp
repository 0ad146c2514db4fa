#include "platform/message_box.hpp"

#include <FL/Fl.H>
#include <FL/x.H>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/controls.hpp"
#include "platform/headless_ui.hpp"
#include "platform/ui/fltk_setup.hpp"

namespace mw::platform {
namespace {

struct ButtonSpec {
    const char* label;  // FLTK label: '&' marks the access key
    const char* text;   // as the user reads it
    int result;
};

std::vector<ButtonSpec> ButtonsOf(uint32_t type) {
    switch (type & 0xF) {
        case mb::OkCancel:
            return {{"OK", "OK", idc::Ok}, {"Cancel", "Cancel", idc::Cancel}};
        case mb::AbortRetryIgnore:
            return {{"&Abort", "Abort", idc::Abort},
                    {"&Retry", "Retry", idc::Retry},
                    {"&Ignore", "Ignore", idc::Ignore}};
        case mb::YesNoCancel:
            return {{"&Yes", "Yes", idc::Yes},
                    {"&No", "No", idc::No},
                    {"Cancel", "Cancel", idc::Cancel}};
        case mb::YesNo:
            return {{"&Yes", "Yes", idc::Yes}, {"&No", "No", idc::No}};
        case mb::RetryCancel:
            return {{"&Retry", "Retry", idc::Retry}, {"Cancel", "Cancel", idc::Cancel}};
        default:
            return {{"OK", "OK", idc::Ok}};
    }
}

// The default button; one the box does not have falls back to the first.
std::size_t DefaultButton(uint32_t type, std::size_t count) {
    std::size_t index = 0;
    if ((type & 0xF00) == mb::DefButton2) index = 1;
    if ((type & 0xF00) == mb::DefButton3) index = 2;
    return index < count ? index : 0;
}

// What Escape and closing the window answer; 0: they do nothing.
int EscapeResult(uint32_t type) {
    switch (type & 0xF) {
        case mb::Ok:
            return idc::Ok;
        case mb::OkCancel:
        case mb::YesNoCancel:
        case mb::RetryCancel:
            return idc::Cancel;
        default:
            return 0;
    }
}

enum class IconKind { NoIcon, Error, Question, Exclamation, Information };

IconKind IconOf(uint32_t type) {
    switch (type & 0xF0) {
        case mb::IconError:
            return IconKind::Error;
        case mb::IconQuestion:
            return IconKind::Question;
        case mb::IconExclamation:
            return IconKind::Exclamation;
        case mb::IconInformation:
            return IconKind::Information;
        default:
            return IconKind::NoIcon;
    }
}

const char* IconName(IconKind kind) {
    switch (kind) {
        case IconKind::Error:
            return "error";
        case IconKind::Question:
            return "question";
        case IconKind::Exclamation:
            return "exclamation";
        case IconKind::Information:
            return "information";
        default:
            return "";
    }
}

// ---- Headless ----

std::deque<int> AnswersFromEnvironment() {
    std::deque<int> answers;
    const char* list = std::getenv("MW_MSGBOX_ANSWERS");
    if (!list) return answers;
    for (const char* p = list; *p;) {
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p) break;
        answers.push_back(static_cast<int>(v));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',') break;
    }
    return answers;
}

// ---- The box, on the control model ----

constexpr int kMargin = 14;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonHeight = 28;
constexpr int kButtonMinWidth = 88;
constexpr int kButtonGap = 8;
constexpr int kBandPadding = 10;
constexpr int kIconId = 0x14;
constexpr int kTextId = 0xFFFF;

std::deque<int>& EnvironmentAnswers() {
    static std::deque<int> answers = AnswersFromEnvironment();
    return answers;
}

// Builds the box on `ui`, lays it out in pixels around its measured text
// and runs it modally. On a headless toolkit the box is answered from
// `answers`, else by the steps of the toolkit's script, else by its default
// button.
int ShowBox(UiToolkit& ui, Window* owner, const std::string& text, const std::string& givenCaption,
            uint32_t type, std::deque<int>& answers) {
    // A box without caption is titled "Error", as the system's boxes are.
    const std::string caption = givenCaption.empty() ? "Error" : givenCaption;
    const std::vector<ButtonSpec> buttons = ButtonsOf(type);
    const std::size_t defaultIndex = DefaultButton(type, buttons.size());
    const IconKind icon = IconOf(type);
    const bool rtl = (type & mb::RtlReading) != 0;

    DialogTemplate t;
    t.style = dlg::Popup | dlg::Caption | dlg::SysMenu | dlg::ModalFrame;
    t.caption = caption;
    if (icon != IconKind::NoIcon)
        t.controls.push_back({kIconId, ControlKind::Icon, 0, 0, 0, 0, 0, IconName(icon), 0});
    t.controls.push_back({kTextId, ControlKind::Text,
                          ctl::NoPrefix | (rtl ? ctl::Right | ctl::RtlReading : 0u), 0, 0, 0, 0,
                          text, 0});
    for (const ButtonSpec& b : buttons)
        t.controls.push_back(
            {b.result, ControlKind::PushButton, ctl::TabStop, 0, 0, 0, 0, b.label, 0});
    auto* headless = dynamic_cast<HeadlessToolkit*>(&ui);
    std::unique_ptr<Dialog> box =
        headless && headless->noDisplay ? nullptr : ui.CreateDialog(t, nullptr, owner);
    if (!box) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return 0;
    }
    box->SetWindowClass("MessageBox");

    Rect measured = box->MeasureText(text, 0);
    if (measured.w > kMaxTextWidth) measured = box->MeasureText(text, kMaxTextWidth);
    const int textW = measured.w, textH = measured.h;
    std::vector<int> buttonWidths;
    int buttonsW = 0;
    for (const ButtonSpec& b : buttons) {
        const int bw = std::max(kButtonMinWidth, box->TextWidth(b.text) + 24);
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
    // The icon sits on the reading side's start; the text fills the rest.
    const int iconX = rtl ? width - kMargin - kIconSize : kMargin;
    const int textX = rtl ? width - kMargin - contentW : kMargin + iconW;
    if (icon != IconKind::NoIcon)
        box->SetControlRect(kIconId,
                            {iconX, kMargin + (contentH - kIconSize) / 2, kIconSize, kIconSize});
    box->SetControlRect(kTextId, {textX, kMargin + (contentH - textH) / 2, textW, textH});
    int bx = width - kMargin - buttonsW;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        box->SetControlRect(buttons[i].result,
                            {bx, bandY + kBandPadding, buttonWidths[i], kButtonHeight});
        bx += buttonWidths[i] + kButtonGap;
    }
    const Rect at = box->Geometry();
    box->SetGeometry({at.x, at.y, width, height});
    const int defaultId = buttons[defaultIndex].result;
    box->SetDefaultButton(defaultId);
    box->SetFocus(defaultId);

    const int escapeResult = EscapeResult(type);
    Dialog* self = box.get();
    box->SetHandler([self, &buttons, escapeResult](const ControlEvent& event) {
        if (event.what != Notify::Clicked) return;
        for (const ButtonSpec& b : buttons) {
            if (b.result == event.id) {
                self->EndDialog(event.id);
                return;
            }
        }
        // Escape and the close button; Yes/No and Abort/Retry/Ignore must be answered.
        if (event.id == cmd::Cancel && escapeResult != 0) self->EndDialog(escapeResult);
    });

    if (headless) {
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            headless->modalScripts.push_front([answer](HeadlessDialog& d) { d.EndDialog(answer); });
        } else if (headless->steps.empty()) {
            headless->modalScripts.push_front([](HeadlessDialog& d) { d.PressKey(Key::Enter); });
        }
    }
    return box->RunModal();
}

// The boxes of the running program, on the process's toolkit.
class ToolkitMessageBoxes final : public MessageBoxService {
public:
    int Show(Window* owner, const std::string& text, const std::string& caption,
             uint32_t type) override {
        return ShowBox(Ui(), owner, text, caption, type, EnvironmentAnswers());
    }
};

std::mutex g_mutex;
MessageBoxService* g_override = nullptr;

}  // namespace

int HeadlessMessageBoxes::Show(Window* owner, const std::string& text, const std::string& caption,
                               uint32_t type) {
    shown.push_back({text, caption, type});
    static HeadlessToolkit* ui = new HeadlessToolkit;
    return ShowBox(*ui, owner, text, caption, type, answers);
}

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

MessageBoxService& MessageBoxes() {
    {
        std::lock_guard lock(g_mutex);
        if (g_override) return *g_override;
    }
    static ToolkitMessageBoxes* boxes = new ToolkitMessageBoxes;
    return *boxes;
}

void SetMessageBoxesForTesting(MessageBoxService* service) {
    std::lock_guard lock(g_mutex);
    g_override = service;
}

}  // namespace mw::platform
