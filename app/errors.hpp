// Texts for error codes the installer cannot explain in its own words, and
// the small message service that reports them. Error codes are 32-bit:
// Windows system error codes or HRESULTs, as the rest of the installer shows
// them; codes with bit 29 set are the program's own. The system's texts come
// from a message table of our own (English, the system's language here);
// errno values carried in std::error_code read as the C library words them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace mw::platform {
class Window;
}

namespace mw {

inline constexpr uint32_t kErrorBusy = 170;         // ERROR_BUSY
inline constexpr uint32_t kErrorBadPathname = 161;  // ERROR_BAD_PATHNAME
inline constexpr uint32_t kErrorResourceLangNotFound = 1815;
inline constexpr uint32_t kErrorMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND
inline constexpr uint32_t kEFail = 0x80004005;
inline constexpr uint32_t kEUnexpected = 0x8000FFFF;
inline constexpr uint32_t kCustomerBit = 0x20000000;  // bit 29: our own code
inline constexpr uint32_t kStringIdBit = 0x08000000;  // bit 27: low word is a string id

// The system's message table: the text of `code` in `languageId` (its low 16
// bits; 0 = the system's choice), ending with "\r\n" as system texts do.
// nullopt when there is none; `error` then says why: 1815 when the code has
// a text but not in that language, 317 when the code has none.
using SystemMessageSource =
    std::function<std::optional<std::string>(uint32_t code, uint32_t languageId, uint32_t& error)>;

// Our own table. Knows the Windows error codes the installer can meet
// (plain, and as HRESULTs 0x8007xxxx) and the COM results E_UNEXPECTED,
// E_NOTIMPL, E_NOINTERFACE, E_POINTER, E_ABORT, E_FAIL, E_OUTOFMEMORY,
// E_INVALIDARG, E_ACCESSDENIED. English only: any language other than 0 and
// English gives error 1815.
std::optional<std::string> LookUpSystemMessage(uint32_t code, uint32_t languageId, uint32_t& error);
// Installs another table (tests); an empty function restores ours.
void SetSystemMessageSourceForTesting(SystemMessageSource source);

// The system's text for `code` in `languageId`, without trailing line ends.
// Falls back to language 0 when the language has no text, then to the text
// of E_FAIL, and, for E_FAIL itself, to "Error".
std::string SystemErrorText(uint32_t code, uint32_t languageId);
// The text of an error carried as std::error_code: errno values (system and
// generic categories) read as strerror gives them; other categories as their
// own message; an empty message reads as E_FAIL's text.
std::string SystemErrorText(const std::error_code& ec);

// The Windows error code that stands for an errno value (ENOENT -> 2,
// EACCES -> 5, EBUSY -> 170, ENAMETOOLONG -> 206, ...); 0 for 0, and
// ERROR_GEN_FAILURE (31) for a value without a closer counterpart.
uint32_t Win32ErrorFromErrno(int errnoValue);
// The same as an HRESULT (0x8007xxxx); 0 for 0.
uint32_t HResultFromErrno(int errnoValue);

// The text of any code: with bits 29 and 27 set, the string resource
// code & 0xFFFF; with bit 29 alone, E_FAIL's text; else the system's text.
std::string ErrorCodeText(uint32_t code);

// Shows ErrorCodeText(code) with an exclamation icon and an OK button.
void ReportError(uint32_t code);

// Shows a message box through the application services: owner, completed
// type (missing icon, right-to-left reading), caption (the given one, else
// the default caption). An OK-only message goes to the debugger output
// instead when the services' silence test says so; the result is then 1.
int ShowMessage(const std::string& text, uint32_t type, const std::string& caption = {});

// The window that owns a box when nobody names one: the most recent
// top-level window of ours that is shown; nullptr when none is.
platform::Window* DefaultOwner();

}  // namespace mw
