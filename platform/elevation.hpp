// Administrator rights: who counts as one (effective user id 0) and how a
// program started by someone else asks for the rights, the counterpart of a
// manifest that requires an administrator. A non-root program re-runs itself
// through pkexec, keeping the asking user's display, language and machine
// root; when that is not possible or is refused, the caller runs on and its
// own checks report the missing rights. The asking user's HOME does not
// cross: root's own serves root's settings, and the target user's home comes
// from the password database. The elevated run trusts the machine root only
// after its own check (SecureStartup).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mw::platform {

// Effective user id 0. Never fails.
bool IsAdministrator();

// Environment entries passed to the elevated run: DISPLAY, XAUTHORITY,
// WAYLAND_DISPLAY, MW_ROOT, LANG, LANGUAGE, every LC_*, from `environ`
// ("NAME=value" entries), plus MW_NO_ELEVATION=1 so the run never offers
// again. Everything else is left to pkexec's clean environment.
std::vector<std::string> ElevationEnvironment(const std::vector<std::string>& environ);

// The argument vector that re-runs `program` with `args` elevated:
// pkexec env NAME=value... program args...
std::vector<std::string> ElevationCommand(const std::string& pkexec, const std::string& program,
                                          const std::vector<std::string>& args,
                                          const std::vector<std::string>& environ);

// Offers elevation when it makes sense: not root, MW_NO_ELEVATION not set to
// a non-empty value other than "0", a display (DISPLAY or WAYLAND_DISPLAY)
// to ask on, pkexec in $PATH, and a program path env can take (no '=').
// Returns the elevated run's exit code when it ran; nullopt when it was not
// offered, could not start, or was refused or dismissed (pkexec's 126 and
// 127), in which case the caller runs on.
std::optional<int> OfferElevation(const std::vector<std::string>& args);

}  // namespace mw::platform
