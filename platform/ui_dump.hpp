// A test aid for the real windows: when the environment names a file in
// MW_UI_DUMP, every window of ours appends a description of its controls
// there each time it is shown, so tests (and people) can check what a real
// window showed without reading pixels.
//
// One record per showing, written with a single append so that records of
// concurrent processes never interleave:
//   window<TAB><class><TAB><caption><TAB><x><TAB><y><TAB><w><TAB><h>
//   control<TAB><class><TAB><id><TAB><text><TAB><x><TAB><y><TAB><w><TAB><h><TAB><states>
//   ...
//   end
// Texts escape backslash, tab, CR and LF as \\ \t \r \n. Control geometry is
// relative to the window; states are comma-separated words such as
// "default", "focus", "disabled", "hidden", "checked", "readonly",
// "rtl" (possibly none).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_template.hpp"

namespace mw::platform {

struct UiDumpControl {
    std::string cls;
    int id = 0;
    std::string text;
    int x = 0, y = 0, w = 0, h = 0;
    std::string states;
};

struct UiDumpWindow {
    std::string cls;
    std::string caption;
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<UiDumpControl> controls;
};

// The file named by MW_UI_DUMP; empty when no dump is asked for.
std::string UiDumpPath();
std::string EscapeUiDumpText(std::string_view text);
std::string FormatUiDump(const UiDumpWindow& window);
// The dump's class of a control kind ("Button", "Static", "Edit", ...) and
// its state words in their fixed order.
std::string UiDumpClassOf(ControlKind kind);
std::string UiDumpStates(bool isDefault, bool focused, bool enabled, bool visible, bool checked,
                         bool readOnly, bool rightToLeft = false);
// Appends the record when a dump is asked for; failures are ignored (the
// dump must never disturb the program).
// Appends to that file: an absolute path walked without following links, and
// only a regular file of this process's own user with a single name.
void AppendUiDump(const UiDumpWindow& window);

}  // namespace mw::platform
