// The one check for folder and path texts that come from the user (the
// wizard's folder pages and folder chooser, `mwtool install`). The elevated
// installer writes such texts into the install log, which the next elevated
// run and the uninstaller trust line by line: a text holding a line feed
// would add entries of the user's choosing. Every place that takes a folder
// or path from the user calls this before it stores the text.
#pragma once

#include <string_view>

namespace mw {

// True when `text` is well-formed UTF-8 without control characters (U+0000 to
// U+001F, U+007F to U+009F: line feed, carriage return, tab, escape, ...).
// Says nothing about the text's length or whether the folder exists.
bool IsAcceptableUserPathText(std::string_view text);

}  // namespace mw
