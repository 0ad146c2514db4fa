// Getting FLTK ready before the first window of ours: the X display opened
// without FLTK's fatal exit when there is none, and the default fonts set to
// DejaVu Sans (FLTK draws a string in one font without fallback, and DejaVu
// covers Latin, Greek and Cyrillic).
#pragma once

namespace mw::platform {

// Opens the display once; false when no X display can be reached (nothing is
// shown then). Sets the fonts on first success.
bool EnsureFltkDisplay();

}  // namespace mw::platform
