// Texts and checks that several pages share.
#pragma once

#include <string>

namespace mw {

// The status line of the pages before the installation: "Click on 'Next' to
// continue." in the current language.
std::string ContinueStatusText();

// The framework's length check of a folder text on leaving a page: true
// when it has at most 260 characters; otherwise message 61716 ("Enter no
// more than 260 characters.") is shown with the exclamation icon.
bool CheckFolderTextLength(const std::string& text);

// A folder the user typed must be well-formed UTF-8 without control
// characters (IsAcceptableUserPathText): a line feed in a folder would become
// a line of its own in the install log. Otherwise the system's text of error
// 161 (bad path name) is shown and false returned.
bool CheckFolderTextCharacters(const std::string& text);

}  // namespace mw
