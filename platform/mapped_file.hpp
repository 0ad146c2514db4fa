// A file mapped read-only into memory, for reading large inputs in place. The
// pages already read can be given back, so that one pass over a big file does
// not keep all of it resident.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Copies [offset, offset + length), which must lie inside the file, into
    // `to` by reading the file rather than the mapping, so that none of it
    // is mapped in. Safe from several threads at once.
    void Copy(std::size_t offset, std::size_t length, void* to) const;

private:
    MappedFile(const char* data, std::size_t size, int fd) : data_(data), size_(size), fd_(fd) {}
    const char* data_;
    std::size_t size_;
    int fd_;  // kept for Copy; -1 for an empty file
};

// Drops the whole pages inside [begin, begin + length), which must lie in a
// read-only private mapping of a file; touching them again reads them from
// the file. Any other memory must never be given here: anonymous pages would
// come back as zeros.
void ReleaseFilePages(const char* begin, std::size_t length);

// Copies `length` bytes at `offset` of the file open as `fd` into `to`, by
// reading the file; should reading fail, from `mapped`, the same bytes of a
// private read-only mapping of that file. Reading the file maps nothing in,
// where touching a mapping brings in a whole folio of the page cache, which
// can be megabytes however little was touched.
void CopyFileBytes(int fd, const char* mapped, uint64_t offset, std::size_t length, void* to);

}  // namespace mw::platform
