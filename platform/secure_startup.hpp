// What every program that may run as root does before anything else: the
// installer, mwtool, and the product's own programs. Files and folders then
// get the modes they are made with whatever umask the caller left (umask 0
// would give 0777 folders and a 0666 program), and a root process works on
// a machine root only when no other user could have prepared it.
#pragma once

#include <string>

namespace mw::platform {

// Sets the umask to 022. Running as root, checks MachineRoot(): when a user
// other than root could change it or any folder above it, returns the text
// to show before stopping (it names the folder); empty when the program may
// go on. Never falls back to another machine root.
std::string SecureStartup();

}  // namespace mw::platform
