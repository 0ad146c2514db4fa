#include "platform/message_box.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

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

int HeadlessMessageBoxes::Show(Window*, const std::string& text, const std::string& caption,
                               uint32_t type) {
    shown.push_back({text, caption, type});
    if (echo)
        std::fprintf(stderr, "%s: %s\n", caption.empty() ? "Error" : caption.c_str(), text.c_str());
    const std::vector<ButtonSpec> buttons = ButtonsOf(type);
    const std::size_t defaultIndex = DefaultButton(type, buttons.size());
    if (!UiDumpPath().empty()) {
        UiDumpWindow dump{"MessageBox", caption.empty() ? "Error" : caption, 0, 0, 0, 0, {}};
        if (IconOf(type) != IconKind::NoIcon) {
            dump.controls.push_back({"Icon", 0x14, IconName(IconOf(type)), 0, 0, 0, 0, ""});
        }
        dump.controls.push_back(
            {"Static", 0xFFFF, text, 0, 0, 0, 0, (type & mb::RtlReading) ? "rtl" : ""});
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            dump.controls.push_back({"Button", buttons[i].result, buttons[i].text, 0, 0, 0, 0,
                                     ButtonStates(i, defaultIndex, i == defaultIndex)});
        }
        AppendUiDump(dump);
    }
    if (!answers.empty()) {
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons[defaultIndex].result;
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
