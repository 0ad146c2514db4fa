#include "platform/message_box.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/controls.hpp"
#include "platform/headless_ui.hpp"
#include "platform/ui_dump.hpp"

namespace mw::platform {
namespace msgbox {

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

std::size_t DefaultButton(uint32_t type, std::size_t count) {
    std::size_t index = 0;
    if ((type & 0xF00) == mb::DefButton2) index = 1;
    if ((type & 0xF00) == mb::DefButton3) index = 2;
    return index < count ? index : 0;
}

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

std::string ButtonStates(std::size_t index, std::size_t defaultIndex, bool focused) {
    std::string states;
    if (index == defaultIndex) states = "default";
    if (focused) states += states.empty() ? "focus" : ",focus";
    return states;
}

}  // namespace msgbox

namespace {

using namespace msgbox;

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

}  // namespace

int ShowMessageBoxOn(UiToolkit& ui, Window* owner, const std::string& text,
                     const std::string& givenCaption, uint32_t type, std::deque<int>& answers) {
    using namespace msgbox;
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
    std::unique_ptr<Dialog> box = ui.CreateDialog(t, nullptr, owner);
    if (!box) {
        // No display: the text still reaches the user, and no button was pressed.
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

namespace {

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

std::mutex g_mutex;
MessageBoxService* g_override = nullptr;
MessageBoxService* g_interactive = nullptr;

bool HeadlessRequested() {
    const char* v = std::getenv("MW_HEADLESS");
    return v && std::strcmp(v, "1") == 0;
}

}  // namespace

int HeadlessMessageBoxes::Show(Window* owner, const std::string& text, const std::string& caption,
                               uint32_t type) {
    shown.push_back({text, caption, type});
    if (echo)
        std::fprintf(stderr, "%s: %s\n", caption.empty() ? "Error" : caption.c_str(), text.c_str());
    // The same box as the real one, on a toolkit without display.
    static HeadlessToolkit* own = new HeadlessToolkit;
    return ShowMessageBoxOn(toolkit ? *toolkit : *own, owner, text, caption, type, answers);
}

MessageBoxService& MessageBoxes() {
    MessageBoxService* interactive = nullptr;
    {
        std::lock_guard lock(g_mutex);
        if (g_override) return *g_override;
        interactive = g_interactive;
    }
    if (HeadlessRequested()) {
        static HeadlessMessageBoxes* headless = [] {
            auto* h = new HeadlessMessageBoxes;
            h->answers = AnswersFromEnvironment();
            // The process's headless toolkit, so that a script drives boxes too.
            h->toolkit = &Ui();
            return h;
        }();
        return *headless;
    }
    if (!interactive) {
        // A program without a user interface: nobody could answer, so the
        // default button does, and the text still reaches the user.
        static HeadlessMessageBoxes* fallback = [] {
            auto* h = new HeadlessMessageBoxes;
            h->echo = true;
            return h;
        }();
        return *fallback;
    }
    return *interactive;
}

void SetMessageBoxesForTesting(MessageBoxService* service) {
    std::lock_guard lock(g_mutex);
    g_override = service;
}

void SetInteractiveMessageBoxes(MessageBoxService* service) {
    std::lock_guard lock(g_mutex);
    g_interactive = service;
}

}  // namespace mw::platform
