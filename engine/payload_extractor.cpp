#include "engine/payload_extractor.hpp"

#include <fcntl.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>

#include "engine/crc32.hpp"
#include "engine/payload_source.hpp"
#include "engine/tokens.hpp"
#include "journal/security.hpp"
#include "platform/file_system.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/safe_path.hpp"
#include "platform/utf16.hpp"

namespace mw {
namespace {

[[noreturn]] void Fail(CompressError e, const char* why) {
    throw std::system_error(make_error_code(e), why);
}

[[noreturn]] void FailFile(const std::string& path, const std::error_code& ec) {
    throw std::filesystem::filesystem_error("payload file", std::filesystem::path(path), ec);
}

uint64_t LoadLE(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Path texts of the table are UTF-16LE. A lone surrogate or a zero has no
// place in a Linux path, so either makes the table malformed.
std::string Utf16LeToUtf8(const std::string& bytes) {
    const std::u16string units = platform::FromUtf16Le(std::as_bytes(std::span(bytes)));
    if (units.find(u'\0') != std::u16string::npos)
        Fail(CompressError::UnexpectedError, "payload table: zero in a path");
    std::optional<std::string> text = platform::StrictUtf16ToUtf8(units);
    if (!text) Fail(CompressError::UnexpectedError, "payload table: lone surrogate in a path");
    return std::move(*text);
}

// Reads from a table whose bounds have already been checked.
class TableReader {
public:
    TableReader(std::istream& in, uint64_t size) : in_(in), left_(size) {}

    uint64_t Number(int bytes) {
        unsigned char b[8];
        Take(b, static_cast<uint64_t>(bytes));
        return LoadLE(b, bytes);
    }
    std::string Text() {
        const uint64_t units = Number(4);
        if (units > left_ / 2)
            Fail(CompressError::UnexpectedError, "payload table: text runs past the table");
        std::string bytes(static_cast<std::size_t>(units * 2), '\0');
        Take(bytes.data(), units * 2);
        return Utf16LeToUtf8(bytes);
    }
    uint64_t left() const { return left_; }

private:
    void Take(void* to, uint64_t n) {
        if (n > left_)
            Fail(CompressError::UnexpectedError, "payload table: entry runs past the table");
        in_.read(static_cast<char*>(to), static_cast<std::streamsize>(n));
        if (static_cast<uint64_t>(in_.gcount()) != n)
            Fail(CompressError::UnexpectedError, "payload table: short table");
        left_ -= n;
    }

    std::istream& in_;
    uint64_t left_;
};

// Smallest entry: two empty texts, kind, size and CRC.
constexpr uint64_t kMinEntrySize = 4 + 4 + 4 + 8 + 4;

notification::result Ask(const ExtractCallback& callback, const notification& n) {
    return callback ? callback(n) : notification::result::Continue;
}

}  // namespace

PayloadArchive ParsePayloadTable(std::istream& table, uint64_t tableSize) {
    if (tableSize < kPayloadTableHeaderSize || tableSize > kPayloadMaxTableSize)
        Fail(CompressError::UnexpectedError, "payload table: size out of range");
    TableReader reader(table, tableSize);
    PayloadArchive archive;
    archive.tableSize = tableSize;
    if (reader.Number(8) != tableSize)
        Fail(CompressError::UnexpectedError, "payload table: size field differs");
    const uint64_t count = reader.Number(4);
    if (count > reader.left() / kMinEntrySize)
        Fail(CompressError::UnexpectedError, "payload table: more entries than fit");
    archive.entries.reserve(static_cast<std::size_t>(count));
    uint64_t total = tableSize;
    for (uint64_t i = 0; i < count; ++i) {
        PayloadEntry entry;
        entry.source = reader.Text();
        entry.destination = reader.Text();
        entry.kind = static_cast<PayloadKind>(static_cast<uint32_t>(reader.Number(4)));
        entry.size = reader.Number(8);
        entry.crc = static_cast<uint32_t>(reader.Number(4));
        if (entry.size > std::numeric_limits<uint64_t>::max() - total)
            Fail(CompressError::UnexpectedError, "payload table: sizes overflow");
        total += entry.size;
        archive.entries.push_back(std::move(entry));
    }
    if (reader.left() != 0)
        Fail(CompressError::UnexpectedError, "payload table: entries do not end at the table size");
    archive.total = total;
    return archive;
}

// The file being written for the current entry.
class PayloadExtractor::Output {
public:
    Output(std::unique_ptr<platform::OutputFile> file, const std::string& path)
        : file_(std::move(file)), path_(path) {}
    void Write(const char* data, std::size_t n) {
        if (auto ec = file_->Write(data, n)) FailFile(path_, ec);
    }
    void Close() {
        if (auto ec = file_->Close()) FailFile(path_, ec);
    }

private:
    std::unique_ptr<platform::OutputFile> file_;
    std::string path_;
};

PayloadExtractor::PayloadExtractor(DestinationFolders folders, ExtractCallback callback, Mode mode)
    : folders_(std::move(folders)), callback_(std::move(callback)), mode_(mode) {}

PayloadExtractor::~PayloadExtractor() = default;

const PayloadEntry* PayloadExtractor::CurrentEntry() const {
    if (!begun_ || index_ == 0 || index_ > entries_.size()) return nullptr;
    return &entries_[index_ - 1];
}

notification::result PayloadExtractor::Notify(const notification& n) {
    return Ask(callback_, n);
}

std::size_t PayloadExtractor::Write(const char* data, std::size_t n) {
    if (broken_) return n;
    try {
        return WriteUnbroken(data, n);
    } catch (...) {
        broken_ = true;
        throw;
    }
}

std::size_t PayloadExtractor::WriteUnbroken(const char* data, std::size_t n) {
    if (index_ == 0) {
        const std::size_t buffered = table_.size();
        if (buffered < 8) {
            const std::size_t k = std::min<std::size_t>(n, 8 - buffered);
            table_.write(data, static_cast<std::streamsize>(k));
            if (table_.size() == 8) {
                tableSize_ = LoadLE(reinterpret_cast<const unsigned char*>(table_.data()), 8);
                // Checked before anything more is buffered: the size decides
                // how much memory the table takes.
                if (tableSize_ < kPayloadTableHeaderSize || tableSize_ > kPayloadMaxTableSize)
                    Fail(CompressError::UnexpectedError, "payload table: size out of range");
            }
            return k;
        }
        const std::size_t k =
            static_cast<std::size_t>(std::min<uint64_t>(n, tableSize_ - buffered));
        table_.write(data, static_cast<std::streamsize>(k));
        if (table_.size() == tableSize_) ReadTable();
        return k;
    }

    if (index_ - 1 >= entries_.size())
        Fail(CompressError::UnexpectedError, "payload: more data than the table describes");
    PayloadEntry& entry = entries_[index_ - 1];
    if (!begun_) BeginEntry(entry);
    const std::size_t k = static_cast<std::size_t>(std::min<uint64_t>(n, remaining_));
    if (!skipping_ && k > 0) {
        if (mode_ == Mode::Write) {
            output_->Write(data, k);
        } else {
            entryCrc_.Update(data, k);
        }
    }
    remaining_ -= k;
    processed_ += k;
    if (Notify({notification::Progress{processed_, total_}}) == notification::result::Abort)
        Fail(CompressError::Interrupted, "payload: aborted");
    if (remaining_ == 0) EndEntry(entry);
    return k;
}

void PayloadExtractor::ReadTable() {
    table_.seekg(0);
    PayloadArchive archive = ParsePayloadTable(table_, tableSize_);
    entries_ = std::move(archive.entries);
    // Every destination is settled before the first byte is written, so a
    // folder that cannot be determined fails the extraction with nothing
    // written.
    for (PayloadEntry& entry : entries_) {
        if (mode_ == Mode::Write) {
            entry.destination =
                ResolveEntryDestination(entry.destination, entry.source, folders_, foldersToOpen_);
            // A folder that is no absolute path (an unknown token, a plain
            // relative text) is one that cannot be determined: the process's
            // current folder is nowhere the installer means to write.
            if (entry.destination.empty() || entry.destination[0] != '/')
                Fail(CompressError::UnexpectedError, "payload: destination is not absolute");
            // Nor is one with a '.' or '..' element, a plain absolute one
            // included: it is refused here, like every unsafe destination,
            // rather than when its entry is reached after earlier files.
            std::vector<std::string> elements;
            if (platform::SplitAbsolutePath(entry.destination, elements))
                Fail(CompressError::UnexpectedError,
                     "payload: destination has a '.' or '..' element");
        } else {
            std::string folder = entry.destination;
            for (char& c : folder)
                if (c == '\\') c = '/';
            entry.destination = platform::JoinPath(folder, DestinationFileName(entry.source));
        }
    }
    foldersDone_.resize(foldersToOpen_.size(), false);
    total_ = archive.total;
    processed_ = tableSize_;
    if (Notify({notification::Progress{processed_, total_}}) == notification::result::Abort)
        Fail(CompressError::Interrupted, "payload: aborted");
    index_ = 1;
}

void PayloadExtractor::BeginEntry(PayloadEntry& entry) {
    const auto answer = Notify({notification::EntryStarted{entry}});
    if (answer == notification::result::Abort) Fail(CompressError::Interrupted, "payload: aborted");
    remaining_ = entry.size;
    begun_ = true;
    skipping_ = answer == notification::result::Skip;
    entryCrc_ = Crc32();
    if (!skipping_ && mode_ == Mode::Write) OpenOutput(entry);
}

void PayloadExtractor::EndEntry(PayloadEntry& entry) {
    if (!skipping_) {
        uint32_t crc = entryCrc_.Value();
        if (mode_ == Mode::Write) {
            output_->Close();
            output_.reset();
            if (entry.kind == PayloadKind::Program || entry.kind == PayloadKind::Uninstaller) {
                // Programs are started from where they are installed.
                std::error_code ec;
                const auto info = platform::Files().Status(entry.destination, ec);
                if (!ec && info.type == platform::FileType::Regular)
                    ec = platform::Files().SetMode(entry.destination,
                                                   info.mode | ((info.mode & 0444) >> 2));
                if (ec) FailFile(entry.destination, ec);
            }
            crc = FileCrc32(entry.destination);
        }
        if (crc != entry.crc) Fail(CompressError::InvalidChecksum, "payload: CRC-32 differs");
        if (Notify({notification::EntryDone{entry}}) == notification::result::Abort)
            Fail(CompressError::Interrupted, "payload: aborted");
    }
    begun_ = false;
    skipping_ = false;
    ++index_;
}

void PayloadExtractor::Finish() {
    if (broken_) Fail(CompressError::UnexpectedError, "payload: extraction already failed");
    // Zero-size entries at the end of the table are reached by no data.
    while (index_ >= 1 && index_ - 1 < entries_.size() && !begun_ && entries_[index_ - 1].size == 0)
        Write(nullptr, 0);
    if (total_ == 0 || processed_ != total_ || index_ - 1 != entries_.size()) {
        broken_ = true;
        Fail(CompressError::UnexpectedError, "payload: stream ended early");
    }
}

void PayloadExtractor::OpenOutput(const PayloadEntry& entry) {
    platform::FileSystem& fs = platform::Files();
    const std::string& destination = entry.destination;
    std::error_code ec;
    const platform::FileInfo info = fs.Status(destination, ec);
    if (ec) FailFile(destination, ec);
    if (info.type == platform::FileType::Symlink) {
        // Whoever planted it would have root write where the link points.
        FailFile(destination, platform::OsError(ELOOP));
    }
    if (info.type == platform::FileType::Regular) {
        // A read-only file is overwritten. Should this fail, the open below
        // reports why.
        if (!(info.mode & 0200)) (void)fs.SetMode(destination, info.mode | 0200);
    } else if (info.type == platform::FileType::None) {
        CreateFolders(platform::ParentPath(destination));
    }
    OpenSharedFolders(destination);
    auto file = fs.OpenForWrite(destination, ec);
    if (ec || !file) FailFile(destination, ec ? ec : platform::OsError(std::errc::io_error));
    output_ = std::make_unique<Output>(std::move(file), destination);
}

void PayloadExtractor::CreateFolders(const std::string& folder) {
    platform::FileSystem& fs = platform::Files();
    std::vector<std::string> missing;
    for (std::string f = folder; !f.empty(); f = platform::ParentPath(f)) {
        std::error_code ec;
        const auto info = fs.Status(f, ec);
        if (ec) FailFile(f, ec);
        if (info.type == platform::FileType::None) {
            missing.push_back(f);
            if (f == "/") break;
            continue;
        }
        // A link on the way is the file system's to judge: it follows only
        // links that nobody but root could have made.
        if (info.type != platform::FileType::Directory && info.type != platform::FileType::Symlink)
            FailFile(f, platform::OsError(ENOTDIR));
        break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (auto ec = fs.CreateDirectory(*it)) {
            std::error_code status;
            if (ec == std::errc::file_exists &&
                fs.Status(*it, status).type == platform::FileType::Directory && !status)
                continue;
            FailFile(*it, ec);
        }
    }
}

void PayloadExtractor::OpenSharedFolders(const std::string& destination) {
    platform::FileSystem& fs = platform::Files();
    for (std::size_t i = 0; i < foldersToOpen_.size(); ++i) {
        if (foldersDone_[i]) continue;
        for (std::string folder = platform::ParentPath(destination); !folder.empty();
             folder = platform::ParentPath(folder)) {
            std::error_code ec;
            const auto info = fs.Status(folder, ec);
            if (ec || info.type != platform::FileType::Directory) break;
            if (SameFolder(folder, foldersToOpen_[i])) {
                foldersDone_[i] = true;
                OpenToAllUsers(foldersToOpen_[i]);
                break;
            }
            if (folder == "/") break;
        }
    }
}

void PayloadExtractor::OpenToAllUsers(const std::string& folder) {
    // The file system opens the folder element by element without following
    // a link that someone other than root could have planted, and grants on
    // the opened folder itself: once a shared folder is open to all users,
    // anyone could replace a folder below it with a link, and root must not
    // follow it.
    const std::error_code ec = platform::Files().GrantAccess(
        folder, PermissionsOfMask(access::FileAllAccess), /*inherit=*/true);
    // A folder that is no longer the one just seen fails the extraction. For
    // the rest, like every caller of GrantAccess, the extraction does not
    // depend on the result: a file system without ACLs still gets its files.
    if (ec == std::errc::too_many_symbolic_link_levels || ec == std::errc::not_a_directory ||
        ec == std::errc::no_such_file_or_directory)
        FailFile(folder, ec);
}

namespace {

std::string PathNamedBy(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::filesystem::filesystem_error& e) {
        return e.path1().string();
    } catch (...) {
        return {};
    }
}

bool Run(PayloadSource& source, DestinationFolders folders, const ExtractCallback& callback,
         PayloadExtractor::Mode mode) {
    std::unique_ptr<PayloadExtractor> extractor;
    try {
        (void)Ask(callback, {notification::Started{}});
        extractor = std::make_unique<PayloadExtractor>(std::move(folders), callback, mode);
        const uint64_t read = DecodePayload(
            source, [&](const char* data, std::size_t n) { return extractor->Write(data, n); });
        extractor->Finish();
        (void)Ask(callback, {notification::Finished{read, extractor->total()}});
        extractor.reset();
        return true;
    } catch (const std::exception&) {
        const std::exception_ptr error = std::current_exception();
        const std::error_code code = ExtractionErrorCode(error);
        const PayloadEntry* entry = extractor ? extractor->CurrentEntry() : nullptr;
        const std::string path = entry ? entry->destination : PathNamedBy(error);
        (void)Ask(callback, {notification::Failed{code, path}});
        // Closes an open output file; what it holds stays as written.
        extractor.reset();
        return false;
    }
}

}  // namespace

bool Extract(PayloadSource& source, const std::string& installFolder,
             const std::string& sampleFolderName, const std::string& tempFolder,
             const ExtractCallback& callback) {
    return Run(source, DestinationFolders{installFolder, sampleFolderName, tempFolder}, callback,
               PayloadExtractor::Mode::Write);
}

bool CheckPayload(PayloadSource& source, const ExtractCallback& callback) {
    return Run(source, DestinationFolders{}, callback, PayloadExtractor::Mode::Check);
}

std::error_code ExtractionErrorCode(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const boost::iostreams::bzip2_error&) {
        // A decoder error is reported as such, whatever an earlier call left
        // in errno.
        return make_error_code(CompressError::Bzip2Error);
    } catch (const std::system_error& e) {
        // File errors (std::filesystem::filesystem_error) and the engine's
        // own failures alike: the code as it was thrown.
        return e.code();
    } catch (...) {
        return make_error_code(CompressError::UnexpectedError);
    }
}

}  // namespace mw
