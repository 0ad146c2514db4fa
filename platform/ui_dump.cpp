#include "platform/ui_dump.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/safe_path.hpp"

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
    // The path comes from the environment, which may be another user's: no
    // link is followed on the way or at the end, and only a plain file of
    // this process's own user with no second name is appended to.
    UniqueFd fd;
    if (OpenNoFollow(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY, fd, 0644)) return;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1)
        return;
    std::string record = FormatUiDump(window);
    ssize_t written = ::write(fd.get(), record.data(), record.size());
    (void)written;
}

}  // namespace mw::platform
