#include "platform/ui_dump.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace mw::platform {

std::string UiDumpPath() {
    const char* path = std::getenv("MW_UI_DUMP");
    return path && *path ? path : std::string{};
}

std::string EscapeUiDumpText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string FormatUiDump(const UiDumpWindow& window) {
    auto num = [](int v) { return "\t" + std::to_string(v); };
    std::string out = "window\t" + window.cls + "\t" + EscapeUiDumpText(window.caption) +
                      num(window.x) + num(window.y) + num(window.w) + num(window.h) + "\n";
    for (const UiDumpControl& c : window.controls) {
        out += "control\t" + c.cls + num(c.id) + "\t" + EscapeUiDumpText(c.text) + num(c.x) +
               num(c.y) + num(c.w) + num(c.h) + "\t" + c.states + "\n";
    }
    out += "end\n";
    return out;
}

void AppendUiDump(const UiDumpWindow& window) {
    std::string path = UiDumpPath();
    if (path.empty()) return;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return;
    std::string record = FormatUiDump(window);
    ssize_t written = ::write(fd, record.data(), record.size());
    (void)written;
    ::close(fd);
}

}  // namespace mw::platform
