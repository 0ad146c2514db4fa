// The check of a whole bzip2 stream spread over several threads. A stream is
// a header, blocks that each carry the CRC of their own data, and an end
// marker with the CRC of all blocks combined; every block decodes without
// the others. The blocks are found by their 48-bit magic, at any bit
// position, decoded each as a stream of one block on a pool of workers, and
// their CRCs combined in order against the end marker, which must end
// exactly where the bytes end.
//
// The check only ever proves a stream intact. A magic can occur by chance in
// compressed data: a piece that does not decode as a block is joined to its
// neighbour, and whatever still does not add up leaves the answer to the
// sequential decoder, so a stream it would reject is never called intact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace mw {

enum class BlockCheck {
    Intact,     // every block decoded, every CRC and the end agree
    Undecided,  // the sequential decoder must decide
};

// Told, in order, that the bytes before `offset` will not be read again.
using ConsumedBytes = std::function<void(uint64_t offset)>;
// Copies `size` bytes from `offset` of the stream into `to`; called from any
// of the check's threads at once. Given one, the check reads the stream only
// through it, never at `data`: a mapped source can read its file instead, so
// that none of the stream is mapped in while the pieces are in flight.
using CopyBytes = std::function<void(uint64_t offset, std::size_t size, char* to)>;

// Checks the stream that fills [data, data + size) exactly, on `workers`
// threads (at least 1; with 1 the blocks are decoded one after the other on
// the caller's thread). Never throws for what the bytes hold.
BlockCheck CheckBzip2Blocks(const char* data, std::size_t size, unsigned workers,
                            const ConsumedBytes& consumed = {}, const CopyBytes& copy = {});

// Bit positions of every block magic in [fromBit, toBit) of the bytes, in
// order; a magic must lie wholly before toBit.
std::vector<uint64_t> FindBlockMagics(const char* data, std::size_t size, uint64_t fromBit,
                                      uint64_t toBit);

// The workers the check uses by default: one per usable processor, capped by
// the memory a worker needs (a decoder of the largest block size) against the
// memory the machine has free; MW_VERIFY_THREADS=N (N >= 1) overrides.
unsigned VerifyWorkers();

}  // namespace mw
