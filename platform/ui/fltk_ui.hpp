// The installer's user-interface layer, the only part of the program that
// sees FLTK. Start-up installs it before the first box or window, so that the
// layers below reach real boxes through platform/message_box.hpp and learn the
// toolkit's version through platform/system_info.hpp without linking FLTK.
#pragma once

namespace mw::platform {

// Installs the FLTK message boxes and records the toolkit version. Safe to
// call more than once.
void InstallFltkUserInterface();

}  // namespace mw::platform
