// A file mapped read-only into memory, for reading large inputs in place. The
// pages already read can be given back, so that one pass over a big file does
// not keep all of it resident.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>

namespace mw::platform {

class MappedFile {
public:
    // An empty file maps to no memory (data() is null, size() 0).
    static std::unique_ptr<MappedFile> Open(const std::string& path, std::error_code& ec);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

    // Drops the whole pages inside [offset, offset + length) from the process;
    // touching them again reads them from the file.
    void Release(std::size_t offset, std::size_t length);

private:
    MappedFile(const char* data, std::size_t size) : data_(data), size_(size) {}
    const char* data_;
    std::size_t size_;
};

// Drops the whole pages inside [begin, begin + length), which must lie in a
// read-only private mapping of a file; touching them again reads them from
// the file. Any other memory must never be given here: anonymous pages would
// come back as zeros.
void ReleaseFilePages(const char* begin, std::size_t length);

}  // namespace mw::platform
