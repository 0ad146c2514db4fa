// The string tables of res/strings, read from the source tree, for tests that
// need the catalog's real texts without a built resource bundle.
#pragma once

#include <string>

#include "platform/rc/string_source.hpp"

namespace mwtest {

// Every table of MW_SOURCE_DIR/res/strings merged into one (identifiers are
// unique across the languages). Throws when a file cannot be read or parsed.
const mw::platform::StringTable& SourceStringTables();

// Makes the catalog read SourceStringTables() for the scope's lifetime and
// starts from a fresh language state.
class ScopedSourceStrings {
public:
    ScopedSourceStrings();
    ~ScopedSourceStrings();
    ScopedSourceStrings(const ScopedSourceStrings&) = delete;
    ScopedSourceStrings& operator=(const ScopedSourceStrings&) = delete;
};

}  // namespace mwtest
