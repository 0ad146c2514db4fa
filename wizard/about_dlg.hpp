// The About box, opened from the host's window menu: the application icon,
// the installer's own name and version, and OK.
#pragma once

#include "platform/controls.hpp"

namespace mw {

namespace about_box {
inline constexpr int kProgram = 1019;
}  // namespace about_box

class CAboutDlg {
public:
    CAboutDlg(platform::UiToolkit& ui, platform::Window* owner);
    // Builds the box from template 100 and runs it modally; its result, or 0
    // when the box cannot be built.
    int DoModal();

private:
    platform::UiToolkit& ui_;
    platform::Window* owner_;
};

}  // namespace mw
