#include "support/x_keyboard.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace mwtest {

std::string ShellOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        std::array<char, 256> buf;
        while (fgets(buf.data(), buf.size(), p)) out += buf.data();
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string FocusedWindow() {
    return ShellOutput("xdotool getwindowfocus -f 2>/dev/null");
}

bool WaitForKeyboard(const std::string& window, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FocusedWindow() != window) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool PressKeyIn(const std::string& window, const std::string& key,
                std::chrono::milliseconds timeout) {
    if (!WaitForKeyboard(window, timeout)) return false;
    // The status is not looked at: when the window closes on the press the
    // release fails, and what the key did is what the caller checks.
    const std::string cmd = "xdotool key --window " + window + " " + key +
                            " 2>/dev/null; xdotool keyup " + key + " 2>/dev/null";
    (void)std::system(cmd.c_str());
    return true;
}

}  // namespace mwtest
