// The FLTK toolkit of the control model: real windows on the X display.
// Each template control becomes an FLTK widget; a child dialog is a group
// inside its parent's window, so Tab walks through the page's controls as
// if they were the host's own. The display is opened on first use.
#pragma once

#include "platform/controls.hpp"

namespace mw::platform {

// The process's FLTK toolkit. Creating dialogs needs a display
// (EnsureFltkDisplay); without one CreateDialog returns nullptr.
UiToolkit& FltkToolkit();

}  // namespace mw::platform
