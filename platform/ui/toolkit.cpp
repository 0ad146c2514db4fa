#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/controls.hpp"
#include "platform/headless_ui.hpp"
#include "platform/ui/fltk_setup.hpp"
#include "platform/ui/fltk_ui.hpp"

namespace mw::platform {
namespace {

std::mutex g_mutex;
UiToolkit* g_override = nullptr;

bool HeadlessRequested() {
    const char* v = std::getenv("MW_HEADLESS");
    return v && std::strcmp(v, "1") == 0;
}

}  // namespace

UiToolkit& Ui() {
    {
        std::lock_guard lock(g_mutex);
        if (g_override) return *g_override;
    }
    static UiToolkit* chosen = []() -> UiToolkit* {
        if (!HeadlessRequested()) {
            if (EnsureFltkDisplay()) return &FltkToolkit();
            std::fprintf(stderr, "No X display: the windows run without being shown.\n");
        }
        auto* headless = new HeadlessToolkit;
        headless->noDisplay = !HeadlessRequested();
        if (const char* script = std::getenv("MW_UI_SCRIPT"))
            headless->steps = HeadlessToolkit::ParseSteps(script);
        return headless;
    }();
    return *chosen;
}

void SetUiForTesting(UiToolkit* toolkit) {
    std::lock_guard lock(g_mutex);
    g_override = toolkit;
}

}  // namespace mw::platform
