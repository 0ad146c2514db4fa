// Modal message boxes with the Windows box types (MB_* flags), icons and
// default buttons. The layers below the user interface reach boxes only
// through MessageBoxes(): the real boxes (an FLTK dialog of our own, in
// platform/ui) are installed by the installer at start-up; every other program
// and every test gets the headless one, which records every box and answers
// as it was told to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace mw::platform {

namespace mb {
inline constexpr uint32_t Ok = 0x0;
inline constexpr uint32_t OkCancel = 0x1;
inline constexpr uint32_t AbortRetryIgnore = 0x2;
inline constexpr uint32_t YesNoCancel = 0x3;
inline constexpr uint32_t YesNo = 0x4;
inline constexpr uint32_t RetryCancel = 0x5;
inline constexpr uint32_t IconError = 0x10;
inline constexpr uint32_t IconQuestion = 0x20;
inline constexpr uint32_t IconExclamation = 0x30;
inline constexpr uint32_t IconInformation = 0x40;
inline constexpr uint32_t DefButton2 = 0x100;
inline constexpr uint32_t DefButton3 = 0x200;
inline constexpr uint32_t TaskModal = 0x2000;
inline constexpr uint32_t SetForeground = 0x10000;
inline constexpr uint32_t RtlReading = 0x100000;
}  // namespace mb

// Button results, as MessageBoxW returns them.
namespace idc {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace idc

class Window;  // a top-level window of ours; owner of a box
class UiToolkit;

// What a box of a given type holds, the same for the real and the headless
// boxes.
namespace msgbox {
struct ButtonSpec {
    const char* label;  // toolkit label: '&' marks the access key
    const char* text;   // as the user reads it
    int result;
};
std::vector<ButtonSpec> ButtonsOf(uint32_t type);
// The default button; one the box does not have falls back to the first.
std::size_t DefaultButton(uint32_t type, std::size_t count);
// What Escape and closing the window answer; 0: they do nothing.
int EscapeResult(uint32_t type);
enum class IconKind { NoIcon, Error, Question, Exclamation, Information };
IconKind IconOf(uint32_t type);
const char* IconName(IconKind kind);  // as the UI dump names it; "" for none
// The UI dump's states of button `index`.
std::string ButtonStates(std::size_t index, std::size_t defaultIndex, bool focused);
}  // namespace msgbox

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual int Show(Window* owner, const std::string& text, const std::string& caption,
                     uint32_t type) = 0;
};

class HeadlessMessageBoxes final : public MessageBoxService {
public:
    struct Shown {
        std::string text;
        std::string caption;
        uint32_t type;
    };
    int Show(Window* owner, const std::string& text, const std::string& caption,
             uint32_t type) override;
    std::vector<Shown> shown;
    std::deque<int> answers;  // next answers; when empty, the default button
    bool echo = false;        // also write "caption: text" to standard error
    // Where the box is built; null: a headless toolkit of its own.
    UiToolkit* toolkit = nullptr;
};

// Builds a box of `type` on `ui` (the one way every box of ours is made),
// lays it out around its measured text and runs it modally; the button
// chosen, or 0 when no window can be made (the text then goes to standard
// error). On a headless toolkit the box is answered from `answers`, else by
// the steps of the toolkit's script, else by its default button.
int ShowMessageBoxOn(UiToolkit& ui, Window* owner, const std::string& text,
                     const std::string& caption, uint32_t type, std::deque<int>& answers);

// The process-wide service: the one a test installed; else the headless one
// when the environment asks for it (MW_HEADLESS=1) or no user interface was
// installed (then it echoes each box to standard error); else the installed
// interactive one.
MessageBoxService& MessageBoxes();
void SetMessageBoxesForTesting(MessageBoxService* service);
// Installed once at start-up by the program's user-interface layer.
void SetInteractiveMessageBoxes(MessageBoxService* service);

}  // namespace mw::platform
