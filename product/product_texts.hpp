// The texts of the product's own programs (the program's window and the
// uninstaller's boxes) in the nine languages the product is installed in,
// and the choice of that language: the one the installation stored
// (MwLanguage), else the user's default among the nine, else English.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mw::product {

enum class Text {
    Version,         // "Version %1"
    Libraries,       // heading of the libraries found
    Textures,        // heading of the textures found
    NoneFound,       // an empty list
    Close,           // the window's button
    UninstallTitle,  // caption of the uninstaller's boxes: "%1" the product
    Confirm,         // "%1" the product
    ConfirmData,     // added to Confirm when data files are removed too
    Running,         // "%1" the product
    Busy,            // another installer or uninstaller runs
    LogUnusable,     // "%1" the log's path
    Done,            // "%1" the product
    Incomplete,      // "%1" the product; the list of items follows
    KeptData,        // heading of the kept data files
};

// The text in a language index (LanguageIndex of the installer); a language
// the product is not installed in gives English.
std::string ProductTextIn(int32_t language, Text id);

// The language an installation stored as a value of the uninstall key, when
// it is one of the product's nine.
std::optional<int32_t> StoredProductLanguage();

// StoredProductLanguage, else the user's default product language.
int32_t ProductLanguage();

}  // namespace mw::product
