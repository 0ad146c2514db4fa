// What the installer's user-interface framework knows about the running
// application: its title (the caption of every message box of ours), the
// replaceable entries boxes consult (default caption, owner window, silence
// test, modal state, debugger output) and the top-level windows that can own
// a box. Filled at start-up and by the wizard; read by the message helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace mw::platform {
class Window;
}

namespace mw {

// The application's title. Until start-up sets it, the executable's file
// name (without a ".exe" extension, should it have one).
std::string AppTitle();
void SetAppTitle(std::string title);

struct ApplicationServices {
    // The caption of boxes given none; empty function: AppTitle().
    std::function<std::string()> defaultCaption;
    // The owner of boxes; empty function: DefaultOwner().
    std::function<platform::Window*()> owner;
    // Whether OK-only messages go to the debugger output instead of a box.
    std::function<bool()> silent;
    // Told false when a modal box begins and true when it has ended.
    std::function<void(bool ended)> modalState;
    // Where silent messages go; empty function: standard error.
    std::function<void(const std::string&)> debugOutput;
};

// The process-wide table (entries empty until someone fills them).
ApplicationServices& AppServices();
// Empties every entry and forgets the title and the windows (tests).
void ResetAppServicesForTesting();

std::string DefaultCaption();

// Top-level windows of ours, most recently shown or activated last. The UI
// layer reports them so that a box without a named owner finds one.
void NoteTopLevelWindowShown(platform::Window* window, bool rightToLeftLayout);
void NoteTopLevelWindowHidden(platform::Window* window);
// The most recent one; nullptr when none is shown.
platform::Window* ActiveTopLevelWindow();
// Whether that window (any shown one) has right-to-left layout.
bool HasRightToLeftLayout(platform::Window* window);

// The framework's ordinary message box, used for the installer's own
// localised messages: owner the active top-level window, caption AppTitle(),
// the type as given. Returns the button chosen.
int AppMessageBox(const std::string& text, uint32_t type);

}  // namespace mw
