// Keys for real windows under test, sent with xdotool only once the window
// has the keyboard: a key sent earlier (while the window is still being
// mapped, or before its program has given it the focus) goes elsewhere or is
// lost, which on a loaded machine happens often enough to make a test flaky.
#pragma once

#include <chrono>
#include <string>

namespace mwtest {

// What a shell command (an xdotool query, say) prints on standard output,
// without the line end.
std::string ShellOutput(const std::string& command);

// The X window that has the keyboard focus, as a decimal id ("" when none
// can be read).
std::string FocusedWindow();

// Waits until `window` (a decimal X window id) has the keyboard focus; false
// when it has not got it within `timeout`.
bool WaitForKeyboard(const std::string& window,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Presses and releases `key` (an xdotool key name) in `window` once it has
// the keyboard; false when it never got it (nothing is sent then). The
// release is sent once more to the server itself: when the window closes on
// the press, xdotool cannot send the release to it, and the key would stay
// down and repeat into the next window.
bool PressKeyIn(const std::string& window, const std::string& key,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace mwtest
