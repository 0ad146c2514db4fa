#include "app/app_services.hpp"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "app/identity.hpp"
#include "platform/message_box.hpp"

namespace mw {
namespace {

struct ShownWindow {
    platform::Window* window;
    bool rightToLeft;
};

struct ServicesState {
    std::mutex mutex;
    std::optional<std::string> title;
    ApplicationServices services;
    std::vector<ShownWindow> windows;
};

ServicesState& State() {
    static ServicesState* state = new ServicesState;  // lives until exit
    return *state;
}

std::string ExecutableName() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return "Install";
    path.resize(static_cast<std::size_t>(n));
    return ProgramNameWithoutExtension(path);
}

}  // namespace

std::string AppTitle() {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    if (!s.title) s.title = ExecutableName();
    return *s.title;
}

void SetAppTitle(std::string title) {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    s.title = std::move(title);
}

ApplicationServices& AppServices() {
    return State().services;
}

void ResetAppServicesForTesting() {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    s.title.reset();
    s.services = ApplicationServices{};
    s.windows.clear();
}

std::string DefaultCaption() {
    if (AppServices().defaultCaption) return AppServices().defaultCaption();
    return AppTitle();
}

void NoteTopLevelWindowShown(platform::Window* window, bool rightToLeftLayout) {
    if (!window) return;
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.windows, [&](const ShownWindow& w) { return w.window == window; });
    s.windows.push_back({window, rightToLeftLayout});
}

void NoteTopLevelWindowHidden(platform::Window* window) {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.windows, [&](const ShownWindow& w) { return w.window == window; });
}

platform::Window* ActiveTopLevelWindow() {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    return s.windows.empty() ? nullptr : s.windows.back().window;
}

bool HasRightToLeftLayout(platform::Window* window) {
    ServicesState& s = State();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.windows.begin(), s.windows.end(),
                           [&](const ShownWindow& w) { return w.window == window; });
    return it != s.windows.end() && it->rightToLeft;
}

int AppMessageBox(const std::string& text, uint32_t type) {
    return platform::MessageBoxes().Show(ActiveTopLevelWindow(), text, AppTitle(), type);
}

}  // namespace mw
