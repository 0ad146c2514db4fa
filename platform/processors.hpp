// How much of the machine a program may spend on worker threads of its own:
// the processors it may run on and the memory still free.
#pragma once

#include <cstdint>

namespace mw::platform {

// Processors this process may run on (its affinity mask, so `taskset` counts);
// at least 1.
unsigned UsableProcessors();

// Bytes of memory the system can still hand out without swapping; 0 when it
// cannot be told.
uint64_t AvailableMemory();

}  // namespace mw::platform
