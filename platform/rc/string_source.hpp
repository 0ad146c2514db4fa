// Reader of the string-table sources under res/strings: one file per language,
// named "<index>-<language>.tsv" (for example "01-english.tsv"), one string a
// line as "<resource id><TAB><text>". Lines that are empty or start with '#'
// followed by a space or nothing are comments ("#" alone after a TAB is the
// marker of a missing translation, not a comment). The text is UTF-8 with the
// escapes \r \n \t \\ ; ids are decimal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

namespace mw::platform {

using StringTable = std::map<uint32_t, std::string>;

// Parses one source file. A malformed line fails with a message naming the
// file and line in `error`.
bool ParseStringTableSource(std::string_view text, StringTable& out, std::string& error);
bool ReadStringTableFile(const std::string& path, StringTable& out, std::string& error);

}  // namespace mw::platform
