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

std::string UiDumpClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            return "Button";
        case ControlKind::GroupBox:
            return "GroupBox";
        case ControlKind::RadioButton:
            return "RadioButton";
        case ControlKind::CheckBox:
            return "CheckBox";
        case ControlKind::Text:
            return "Static";
        case ControlKind::WhiteRect:
            return "Rect";
        case ControlKind::Bitmap:
            return "Bitmap";
        case ControlKind::Icon:
            return "Icon";
        case ControlKind::EtchedLine:
            return "Line";
        case ControlKind::Edit:
            return "Edit";
        case ControlKind::ComboBoxEx:
            return "ComboBoxEx";
        case ControlKind::ProgressBar:
            return "Progress";
        case ControlKind::Tree:
            return "Tree";
    }
    return "Control";
}

std::string UiDumpStates(bool isDefault, bool focused, bool enabled, bool visible, bool checked,
                         bool readOnly, bool rightToLeft) {
    std::string s;
    auto add = [&s](const char* word) {
        if (!s.empty()) s += ',';
        s += word;
    };
    if (isDefault) add("default");
    if (focused) add("focus");
    if (!enabled) add("disabled");
    if (!visible) add("hidden");
    if (checked) add("checked");
    if (readOnly) add("readonly");
    if (rightToLeft) add("rtl");
    return s;
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
