// The payload archive and its extraction. Decompressed, the archive is a table
// of entries followed by the files' contents back to back; the extractor
// consumes that stream as the decoder produces it, resolves every entry's
// destination, writes each file, reads it back for its CRC-32 and reports each
// step to one callback. It knows nothing of the wizard, the journal or what
// the kinds mean: the install sequence supplies the callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "engine/compress_error.hpp"
#include "engine/crc32.hpp"
#include "engine/tokens.hpp"
#include "platform/memstream.hpp"

namespace mw {

class PayloadSource;

enum class PayloadKind : int32_t {
    LanguageModule = 0,
    Program = 1,
    Uninstaller = 2,
    DataFile = 3,
    Texture = 4,
    DirectXRedist = 5,  // any other value is installed like LanguageModule
};

struct PayloadEntry {
    std::string source;       // source path as stored; only its file name is used
    std::string destination;  // destination directory as read; once the table is read, the
                              // full path of the file
    PayloadKind kind = PayloadKind::LanguageModule;  // may hold a value not named above
    uint64_t size = 0;
    uint32_t crc = 0;
};

// Layout of the decompressed stream: the 8-byte table size (which counts
// itself), the 4-byte entry count, the entries; all little-endian.
inline constexpr uint64_t kPayloadTableHeaderSize = 12;
// Tables beyond this size are refused before anything is buffered: the table
// of a real product is a few kilobytes, and it is the one part held in memory.
inline constexpr uint64_t kPayloadMaxTableSize = uint64_t(4) << 20;

struct PayloadArchive {
    uint64_t tableSize = 0;
    std::vector<PayloadEntry> entries;  // destinations as stored
    uint64_t total = 0;                 // size of the whole decompressed stream
};

// Parses a complete table (`tableSize` bytes from the stream's start, the size
// field included). Throws UnexpectedError when the size is out of range, a
// length runs past the table, the entries do not end exactly at the table
// size, the sizes overflow, or a text is not valid UTF-16 (or holds a zero).
PayloadArchive ParsePayloadTable(std::istream& table, uint64_t tableSize);

// What the extractor tells its callback. The alternatives keep the indexes
// 0 to 5 of the table they were designed in.
struct notification {
    enum class result { Continue = 0, Abort = 1, Skip = 2 };

    struct Started {};
    struct Finished {
        uint64_t compressedRead;
        uint64_t total;
    };
    struct EntryStarted {
        const PayloadEntry& entry;
    };
    struct EntryDone {
        const PayloadEntry& entry;
    };
    struct Progress {
        uint64_t processed;
        uint64_t total;
    };
    struct Failed {
        std::error_code code;
        const std::string& path;
    };
    using value_type = std::variant<Started, Finished, EntryStarted, EntryDone, Progress, Failed>;

    value_type value;
    std::size_t index() const { return value.index(); }
};

// An empty callback means Continue throughout.
using ExtractCallback = std::function<notification::result(const notification&)>;

// The write side of the extraction: the decoder offers it every piece of
// decoded output and it returns how much it accepted; the caller offers the
// rest of a piece again until all of it is accepted.
class PayloadExtractor {
public:
    enum class Mode {
        Write,  // resolve destinations, write and check files
        Check,  // check table, sizes and CRC-32s only; nothing touches the file system
    };

    PayloadExtractor(DestinationFolders folders, ExtractCallback callback, Mode mode = Mode::Write);
    ~PayloadExtractor();
    PayloadExtractor(const PayloadExtractor&) = delete;
    PayloadExtractor& operator=(const PayloadExtractor&) = delete;

    // Accepts at most `n` bytes; 0 only when a zero-size entry was completed.
    // Once an error has left it, every offer is accepted and ignored.
    std::size_t Write(const char* data, std::size_t n);
    // After the decoder has ended: completes zero-size entries at the end of
    // the table, then throws UnexpectedError unless the stream was complete.
    void Finish();

    bool broken() const { return broken_; }
    uint64_t total() const { return total_; }
    uint64_t processed() const { return processed_; }
    // The entry being written, when one was announced and is not done.
    const PayloadEntry* CurrentEntry() const;
    const std::vector<PayloadEntry>& entries() const { return entries_; }

private:
    std::size_t WriteUnbroken(const char* data, std::size_t n);
    void ReadTable();
    void BeginEntry(PayloadEntry& entry);
    void EndEntry(PayloadEntry& entry);
    void OpenOutput(const PayloadEntry& entry);
    void CreateFolders(const std::string& folder);
    void OpenSharedFolders(const std::string& destination);
    void OpenToAllUsers(const std::string& folder);
    notification::result Notify(const notification& n);

    class Output;

    DestinationFolders folders_;
    ExtractCallback callback_;
    Mode mode_;
    std::vector<PayloadEntry> entries_;
    uint64_t tableSize_ = 0;
    uint64_t processed_ = 0;
    uint64_t total_ = 0;
    memstream table_;
    std::unique_ptr<Output> output_;
    std::size_t index_ = 0;
    uint64_t remaining_ = 0;
    bool begun_ = false;
    bool skipping_ = false;
    bool broken_ = false;
    Crc32 entryCrc_;  // Check mode: CRC-32 of the current entry so far
    // Folders below the all-user folders, each opened to all users when the
    // first file below it is written.
    std::vector<std::string> foldersToOpen_;
    std::vector<bool> foldersDone_;
};

// Extracts the payload: Started (the callback may Verify and Rewind the
// source), then every entry, then Finished. Returns false after an error,
// which the callback has then received as one Failed notification.
bool Extract(PayloadSource& source, const std::string& installFolder,
             const std::string& sampleFolderName, const std::string& tempFolder,
             const ExtractCallback& callback);

// Like Extract, but only checks the table, the sizes and every CRC-32; nothing
// is written and no destination is resolved. Sends the same notifications.
bool CheckPayload(PayloadSource& source, const ExtractCallback& callback);

// The error code under which an exception is reported as Failed.
std::error_code ExtractionErrorCode(const std::exception_ptr& error);

}  // namespace mw
