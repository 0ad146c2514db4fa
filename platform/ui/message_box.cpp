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
#include "platform/system_info.hpp"
#include "platform/ui/fltk_setup.hpp"
#include "platform/ui/fltk_ui.hpp"

namespace mw::platform {
namespace {

// The linked library's version as (major << 16) | minor.
uint32_t FltkVersion() {
    // major * 10000 + minor * 100 + patch
    const int v = Fl::api_version();
    if (v <= 0) return 0;
    const uint32_t major = static_cast<uint32_t>(v / 10000);
    const uint32_t minor = static_cast<uint32_t>((v / 100) % 100);
    return (major << 16) | (minor & 0xFFFF);
}

// The boxes of the running program, built on the FLTK toolkit.
class FltkMessageBoxes final : public MessageBoxService {
public:
    int Show(Window* owner, const std::string& text, const std::string& caption,
             uint32_t type) override {
        return ShowMessageBoxOn(FltkToolkit(), owner, text, caption, type, noAnswers_);
    }

private:
    std::deque<int> noAnswers_;  // answers are for headless boxes only
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
    SetInteractiveToolkit(&FltkToolkit());
    SetToolkitVersion(FltkVersion());
}

}  // namespace mw::platform
