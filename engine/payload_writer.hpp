// Builds payload archives: the table and the files' contents, compressed as
// one bzip2 stream. Used by the build tool and by tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "engine/payload_extractor.hpp"

namespace mw {

struct PayloadInput {
    int32_t kind = 0;
    std::string directory;  // destination directory as stored, e.g. "<InstallPath>\Lang"
    std::string source;     // source path as stored; its last element names the file
    std::string file;       // where the content is read from (absolute)
};

// The table for `entries` (their `destination` holding the destination
// directory), in the archive's layout. Throws std::invalid_argument when a
// text is not valid UTF-8 or does not fit its length field.
std::string EncodePayloadTable(const std::vector<PayloadEntry>& entries);

// Reads every input twice through platform::Files() (size and CRC-32 first,
// then the content) and writes the compressed archive to `out` (bzip2, block
// size 9). A file that cannot be read, or that changed between the two
// readings, fails with a file-system error naming it; a file name that is
// empty, "." or ".." fails with std::invalid_argument. Returns the archive's
// table, sizes and CRC-32s included.
PayloadArchive WritePayload(const std::vector<PayloadInput>& inputs, std::ostream& out);

}  // namespace mw
