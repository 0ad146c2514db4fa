#include "engine/crc32.hpp"

#include <array>
#include <filesystem>

#include "platform/file_system.hpp"

namespace mw {
namespace {

using Table = std::array<uint32_t, 256>;

const Table& CrcTable() {
    static const Table table = [] {
        Table t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

// The engine's one file-error type: the error code travels as the failing
// call gave it, category included.
[[noreturn]] void ThrowFileError(const std::string& path, const std::error_code& ec) {
    throw std::filesystem::filesystem_error("FileCrc32", std::filesystem::path(path), ec);
}

}  // namespace

void Crc32::Update(const void* data, std::size_t size) {
    const Table& table = CrcTable();
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = state_;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
    state_ = c;
}

uint32_t Crc32Of(const void* data, std::size_t size) {
    Crc32 crc;
    crc.Update(data, size);
    return crc.Value();
}

uint32_t FileCrc32(const std::string& path) {
    // The error comes from the failing call itself, never from what an
    // earlier, unrelated call left behind. (The design's retry on a sharing
    // violation has no counterpart here: Linux has no mandatory sharing.)
    std::error_code ec;
    auto file = platform::Files().OpenForRead(path, ec);
    if (ec || !file) ThrowFileError(path, ec ? ec : std::make_error_code(std::errc::io_error));
    Crc32 crc;
    char block[4096];
    for (;;) {
        std::size_t got = 0;
        ec = file->Read(block, sizeof block, got);
        if (ec) ThrowFileError(path, ec);
        if (got == 0) break;
        crc.Update(block, got);
    }
    return crc.Value();
}

}  // namespace mw
