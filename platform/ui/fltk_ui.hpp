// The installer's user-interface layer, the only part of the program that
// sees FLTK. Start-up installs it before the first box or window, so that the
// layers below reach real boxes through platform/message_box.hpp, real
// windows through the control model (platform/controls.hpp) and learn the
// toolkit's version through platform/system_info.hpp without linking FLTK.
//
// Each template control becomes an FLTK widget; a child dialog is a group
// inside its parent's window, so Tab walks through a page's controls as if
// they were the host's own. The display is opened on first use.
#pragma once

#include "platform/controls.hpp"

namespace mw::platform {

// Installs the FLTK message boxes and toolkit and records the toolkit
// version. Safe to call more than once.
void InstallFltkUserInterface();

// The process's FLTK toolkit. Without a display CreateDialog gives nullptr.
UiToolkit& FltkToolkit();

}  // namespace mw::platform
