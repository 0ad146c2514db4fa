// The compressed payload as a stream of bytes read in place: resource 260/134
// of the running installer, or, for the tools, any file mapped read-only.
// Also the one bzip2 decoding loop that every reader of the payload shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "platform/memstream.hpp"

namespace mw {

namespace platform {
class ResourceBundle;
class MappedFile;
}  // namespace platform

inline constexpr uint32_t kPayloadResourceType = 260;
inline constexpr uint32_t kPayloadResourceName = 134;

class PayloadSource : public imemstream {
public:
    PayloadSource();
    ~PayloadSource();

    // Resource 260/134 of `preferred` when it has one, else of the running
    // executable; an absent resource gives an empty source. The bundle must
    // outlive the source; what has been read is given back to it as the
    // reading goes on, as for a file.
    void Open(const platform::ResourceBundle* preferred = nullptr);
    // A file, mapped read-only; memory already read is given back as the
    // reading goes on, so a large file does not stay resident.
    std::error_code OpenFile(const std::string& path);
    // Bytes owned by the caller, which must outlive the source.
    void OpenMemory(const void* data, std::size_t size);

    // Decodes the whole bzip2 stream from the current position and discards
    // the output. True when the stream ended without error exactly at the end
    // of the source: any byte after its end, a second stream included, makes
    // it false. A decoder error is thrown (boost::iostreams::bzip2_error).
    // The stream's blocks are checked on several threads where the machine
    // has the cores (MW_VERIFY_THREADS=N forces N workers; 1 is the plain
    // sequential decode); the result is always the sequential one.
    bool Verify();
    // Back to the first byte, with a clear state.
    void Rewind();

    // Called by the decoding loop as it advances: lets the mapping (the
    // file's or the resource bundle's) give back what lies before `position`.
    void Consumed(uint64_t position);
    // Copies [offset, offset + size), which must lie inside the source, into
    // `to`: from a file or a resource bundle by reading the file, so that
    // none of it is mapped in. Safe from several threads at once.
    void Copy(uint64_t offset, std::size_t size, char* to) const;

private:
    void Drop(uint64_t begin, uint64_t end) const;

    std::unique_ptr<platform::MappedFile> file_;
    const platform::ResourceBundle* bundle_ = nullptr;
    uint64_t released_ = 0;
};

// Receives decoded output; returns how many of the offered bytes it took.
using DecodedSink = std::function<std::size_t(const char* data, std::size_t size)>;

// Reads `source` from its position in blocks of 4096 bytes through a bzip2
// decoder (4096-byte buffers, normal mode) and offers every decoded piece to
// `sink`, again and again until all of the piece is taken. Decoding ends with
// the end of the first bzip2 stream; what follows it is not decoded. Returns
// the number of compressed bytes the stream took. Decoder errors are thrown as
// boost::iostreams::bzip2_error; whatever `sink` throws passes through.
uint64_t DecodePayload(PayloadSource& source, const DecodedSink& sink);

}  // namespace mw
