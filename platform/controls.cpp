#include "platform/controls.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/headless_ui.hpp"

namespace mw::platform {
namespace {

std::mutex g_mutex;
UiToolkit* g_override = nullptr;
UiToolkit* g_interactive = nullptr;

bool HeadlessRequested() {
    const char* v = std::getenv("MW_HEADLESS");
    return v && std::strcmp(v, "1") == 0;
}

}  // namespace

UiToolkit& Ui() {
    UiToolkit* interactive = nullptr;
    {
        std::lock_guard lock(g_mutex);
        if (g_override) return *g_override;
        interactive = g_interactive;
    }
    if (HeadlessRequested() || !interactive) {
        static HeadlessToolkit* headless = [] {
            auto* h = new HeadlessToolkit;
            if (const char* script = std::getenv("MW_UI_SCRIPT"))
                h->steps = HeadlessToolkit::ParseSteps(script);
            return h;
        }();
        return *headless;
    }
    return *interactive;
}

void SetUiForTesting(UiToolkit* toolkit) {
    std::lock_guard lock(g_mutex);
    g_override = toolkit;
}

void SetInteractiveToolkit(UiToolkit* toolkit) {
    std::lock_guard lock(g_mutex);
    g_interactive = toolkit;
}

}  // namespace mw::platform
