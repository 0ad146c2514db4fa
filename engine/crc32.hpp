// CRC-32 of IEEE 802.3 and zlib (reflected polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final value complemented), the checksum the payload
// archive stores for every file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mw {

class Crc32 {
public:
    void Update(const void* data, std::size_t size);
    uint32_t Value() const { return ~state_; }

private:
    uint32_t state_ = 0xFFFFFFFFu;
};

// The CRC-32 of a block of memory.
uint32_t Crc32Of(const void* data, std::size_t size);

// The CRC-32 of a file's content, read through platform::Files() in blocks of
// 4096 bytes. Failures (opening or reading) are thrown as a
// std::filesystem::filesystem_error that names the file and carries the
// failing call's own error code.
uint32_t FileCrc32(const std::string& path);

}  // namespace mw
