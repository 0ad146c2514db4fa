// Modal message boxes with the Windows box types (MB_* flags), icons and
// default buttons. The real one is an FLTK dialog of our own; the headless one
// records every box and answers as a test told it to.
#pragma once

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
};

// The process-wide service: the FLTK one, or the headless one when the
// environment asks for it (MW_HEADLESS=1) or a test installed one.
MessageBoxService& MessageBoxes();
void SetMessageBoxesForTesting(MessageBoxService* service);

}  // namespace mw::platform
