// How much of the machine a program may spend on worker threads of its own:
// the processors it may run on, the memory still free, and memory for a
// worker's large tables taken from the system and given back to it directly,
// so that what a pool of threads used does not stay with the process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mw::platform {

// Processors this process may run on (its affinity mask, so `taskset` counts);
// at least 1.
unsigned UsableProcessors();

// Bytes of memory the system can still hand out without swapping; 0 when it
// cannot be told.
uint64_t AvailableMemory();

// Zero-filled pages of at least `size` bytes, or null; give them back with
// UnmapPages and the same size.
void* MapPages(std::size_t size);
void UnmapPages(void* pages, std::size_t size);

}  // namespace mw::platform
