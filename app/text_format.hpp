// Filling the numbered inserts of a message text: "%1" to "%9" stand for the
// first to ninth argument, as in the string resources of the catalog.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace mw {

// Replaces every "%n" (n = 1..9, one digit) by args[n-1]. An insert without
// an argument stays as it is, and so does every other '%'. Arguments are
// inserted as they are: an argument that itself contains "%1" is not
// expanded again.
std::string FormatMessageText(std::string_view text, const std::vector<std::string>& args);
std::string FormatMessageText(std::string_view text, std::initializer_list<std::string_view> args);

}  // namespace mw
