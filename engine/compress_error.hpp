// Errors of the payload archive and its extraction (the "compress" category),
// and the short text under which the installer shows any error code.
#pragma once

#include <string>
#include <system_error>

namespace mw {

enum class CompressError {
    InvalidChecksum = 3,     // a written file's CRC-32 differs from its entry's
    VerificationFailed = 4,  // the verification pass over the compressed stream failed
    Interrupted = 5,         // the callback answered Abort
    Bzip2Error = 6,          // the bzip2 decoder reported an error
    UnexpectedError = 7,     // malformed or short data, undeterminable folder, anything else
};

const std::error_category& CompressCategory();
std::error_code make_error_code(CompressError e);

// The code as a failure message shows it: "1:%08X" for the system category,
// "2:%08X" for the generic one, the decimal value for "compress", "7" for
// every other category. (Not app's ErrorCodeText, which gives a code's text.)
std::string FailureCodeText(const std::error_code& code);

}  // namespace mw

template <>
struct std::is_error_code_enum<mw::CompressError> : std::true_type {};
