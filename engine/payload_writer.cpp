#include "engine/payload_writer.hpp"

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>

#include "engine/crc32.hpp"
#include "engine/tokens.hpp"
#include "platform/file_system.hpp"
#include "platform/os_error.hpp"
#include "platform/utf16.hpp"

namespace mw {
namespace io = boost::iostreams;

namespace {

void PutLE(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Strict UTF-8 to UTF-16LE: ill-formed sequences and zeros are refused, as
// the extractor would refuse them.
std::string Utf8ToUtf16Le(const std::string& text, uint64_t& units) {
    std::optional<std::u16string> wide = platform::StrictUtf8ToUtf16(text);
    if (!wide || wide->find(u'\0') != std::u16string::npos)
        throw std::invalid_argument("not valid UTF-8: " + text);
    units = wide->size();
    const std::vector<std::byte> bytes = platform::ToUtf16Le(*wide);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void PutText(std::string& table, const std::string& text) {
    uint64_t units = 0;
    const std::string bytes = Utf8ToUtf16Le(text, units);
    if (units > std::numeric_limits<uint32_t>::max()) throw std::invalid_argument("text too long");
    PutLE(table, units, 4);
    table += bytes;
}

[[noreturn]] void FailFile(const std::string& path, const std::error_code& ec) {
    throw std::filesystem::filesystem_error("cannot read", std::filesystem::path(path), ec);
}

// Reads a whole file in blocks of 4096 bytes; `block` sees each piece.
template <class F>
uint64_t ReadFile(const std::string& path, F&& block) {
    std::error_code ec;
    auto file = platform::Files().OpenForRead(path, ec);
    if (ec || !file) FailFile(path, ec ? ec : platform::OsError(std::errc::io_error));
    char buffer[4096];
    uint64_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if ((ec = file->Read(buffer, sizeof buffer, got))) FailFile(path, ec);
        if (got == 0) return total;
        total += got;
        block(buffer, got);
    }
}

}  // namespace

std::string EncodePayloadTable(const std::vector<PayloadEntry>& entries) {
    std::string body;
    for (const PayloadEntry& e : entries) {
        PutText(body, e.source);
        PutText(body, e.destination);
        PutLE(body, static_cast<uint32_t>(e.kind), 4);
        PutLE(body, e.size, 8);
        PutLE(body, e.crc, 4);
    }
    if (entries.size() > std::numeric_limits<uint32_t>::max())
        throw std::invalid_argument("too many entries");
    std::string table;
    PutLE(table, kPayloadTableHeaderSize + body.size(), 8);
    PutLE(table, entries.size(), 4);
    return table + body;
}

PayloadArchive WritePayload(const std::vector<PayloadInput>& inputs, std::ostream& out) {
    PayloadArchive archive;
    for (const PayloadInput& input : inputs) {
        try {
            (void)DestinationFileName(input.source);
        } catch (const std::system_error&) {
            throw std::invalid_argument("no file name in source path: \"" + input.source + "\"");
        }
        PayloadEntry entry;
        entry.source = input.source;
        entry.destination = input.directory;
        entry.kind = static_cast<PayloadKind>(input.kind);
        Crc32 crc;
        entry.size = ReadFile(input.file, [&](const char* d, std::size_t n) { crc.Update(d, n); });
        entry.crc = crc.Value();
        archive.entries.push_back(std::move(entry));
    }
    const std::string table = EncodePayloadTable(archive.entries);
    if (table.size() > kPayloadMaxTableSize) throw std::invalid_argument("table too large");
    archive.tableSize = table.size();
    archive.total = archive.tableSize;
    for (const auto& e : archive.entries) archive.total += e.size;

    io::filtering_ostream compressed;
    compressed.push(io::bzip2_compressor(io::bzip2_params(9)));
    compressed.push(out);
    compressed.write(table.data(), static_cast<std::streamsize>(table.size()));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        Crc32 crc;
        const uint64_t size = ReadFile(inputs[i].file, [&](const char* d, std::size_t n) {
            crc.Update(d, n);
            compressed.write(d, static_cast<std::streamsize>(n));
        });
        if (size != archive.entries[i].size || crc.Value() != archive.entries[i].crc)
            throw std::filesystem::filesystem_error("file changed while it was read",
                                                    std::filesystem::path(inputs[i].file),
                                                    platform::OsError(std::errc::io_error));
    }
    compressed.reset();  // ends the bzip2 stream
    out.flush();
    if (!out) throw std::runtime_error("cannot write the archive");
    return archive;
}

}  // namespace mw
