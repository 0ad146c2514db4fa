// The running program's own file, which the Windows design reads as the
// run-time library's program path or the module file name: the identity
// fall-back and the default message-box caption are formed from it.
#pragma once

#include <string>

namespace mw::platform {

// Absolute path of the running executable (from /proc/self/exe); empty when
// the system does not tell it. When the file has been replaced while the
// program runs, the path it had is still given.
std::string ProgramPath();

}  // namespace mw::platform
