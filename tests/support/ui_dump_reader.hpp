// Reading back the UI dump (platform/ui_dump.hpp) that windows write when
// MW_UI_DUMP names a file: the records, their controls and texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui_dump.hpp"

namespace mwtest {

// Every record of a dump file, in order; an unreadable file gives none.
std::vector<mw::platform::UiDumpWindow> ReadUiDump(const std::string& path);

// The first record of windows of that class, if any.
std::optional<mw::platform::UiDumpWindow> FirstUiDumpOf(const std::string& path,
                                                        const std::string& windowClass);

// The control with that id in a record, or null.
const mw::platform::UiDumpControl* DumpedControl(const mw::platform::UiDumpWindow& window, int id);

}  // namespace mwtest
