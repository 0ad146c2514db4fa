#include "wizard/page_texts.hpp"

#include "app/errors.hpp"
#include "app/languages.hpp"
#include "app/text_format.hpp"
#include "app/user_path_text.hpp"
#include "platform/message_box.hpp"
#include "wizard/folder_browser.hpp"

namespace mw {

namespace {

constexpr uint32_t kContinueText = 1106;
constexpr uint32_t kNextText = 1006;
// The framework's own message, not a catalog text: its resource id as is.
constexpr uint32_t kMaxCharsMessage = 61716;

}  // namespace

std::string ContinueStatusText() {
    return FormatMessageText(LoadCatalogString(kContinueText), {LoadCatalogString(kNextText)});
}

bool CheckFolderTextLength(const std::string& text) {
    if (FolderTextLength(text) <= kMaxFolderChars) return true;
    ShowMessage(FormatMessageText(LoadStringById(kMaxCharsMessage).value_or(std::string()),
                                  {std::to_string(kMaxFolderChars)}),
                platform::mb::IconExclamation);
    return false;
}

bool CheckFolderTextCharacters(const std::string& text) {
    if (IsAcceptableUserPathText(text)) return true;
    ShowMessage(SystemErrorText(kErrorBadPathname, 0), platform::mb::IconExclamation);
    return false;
}

}  // namespace mw
