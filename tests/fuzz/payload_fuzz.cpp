// Fuzz target of the payload table and the extractor's write operation. The
// input drives one extraction into a file system held in memory:
//   byte 0: size of the decoded pieces offered (0 means 4096);
//   byte 1: bit 0 check only, bit 1 answer Skip to every other entry,
//           bit 2 the rest is compressed and goes through the bzip2 decoder,
//           bits 4-7 answer Abort to that notification (0: never);
//   the rest: the decompressed stream (or the compressed one).
// Whatever the bytes, the extraction must end in exactly one way: success,
// with every written file holding its entry's size and CRC-32, or one error
// code, never a crash, a hang or memory beyond the table's cap. A compressed
// stream is also verified sequentially and on several threads, which must
// agree, and the block check may call it intact only if the decoder does.
#include <stdlib.h>
#include <unistd.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/bzip2_blocks.hpp"
#include "engine/crc32.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "platform/file_system.hpp"
#include "platform/roots.hpp"
#include "platform/testing/scoped_for_testing.hpp"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::error_code Err(int e) {
    return {e, std::system_category()};
}

// Folders and files in memory; paths must be absolute, as on the real one.
class MemoryFileSystem : public mw::platform::FileSystem {
public:
    struct Node {
        mw::platform::FileType type = mw::platform::FileType::None;
        std::string content;
        uint32_t mode = 0644;
    };
    std::map<std::string, Node> nodes{{"/", {mw::platform::FileType::Directory, "", 0755}}};

    static std::string Parent(const std::string& p) {
        const auto slash = p.find_last_of('/');
        return slash == 0 ? "/" : p.substr(0, slash);
    }
    std::error_code Valid(const std::string& p) const {
        if (p.empty() || p[0] != '/') return Err(EINVAL);
        if (p != "/" && p.back() == '/') return Err(EINVAL);
        if (p.find("//") != std::string::npos) return Err(EINVAL);
        for (std::size_t i = 0; i <= p.size();) {
            const std::size_t next = std::min(p.find('/', i + 1), p.size());
            const std::string e = p.substr(i + 1, next - i - 1);
            if (e == "." || e == "..") return Err(EINVAL);
            i = next == p.size() ? p.size() + 1 : next;
        }
        return {};
    }
    // The folder holding `p` must exist and be a folder, and so every one above.
    std::error_code Reach(const std::string& p) const {
        if (auto ec = Valid(p)) return ec;
        for (std::string f = Parent(p); p != "/"; f = Parent(f)) {
            auto it = nodes.find(f);
            if (it == nodes.end()) return Err(ENOENT);
            if (it->second.type != mw::platform::FileType::Directory) return Err(ENOTDIR);
            if (f == "/") break;
        }
        return {};
    }

    mw::platform::FileInfo Status(const std::string& p, std::error_code& ec) override {
        mw::platform::FileInfo info;
        ec = Reach(p);
        if (ec == std::errc::no_such_file_or_directory) ec.clear();
        if (ec) return info;
        if (auto it = nodes.find(p); it != nodes.end()) {
            info.type = it->second.type;
            info.mode = it->second.mode;
            info.size = it->second.content.size();
            info.inode = std::hash<std::string>{}(p);
        }
        return info;
    }
    std::error_code SetMode(const std::string& p, uint32_t mode) override {
        if (auto ec = Reach(p)) return ec;
        auto it = nodes.find(p);
        if (it == nodes.end()) return Err(ENOENT);
        it->second.mode = mode & 07777;
        return {};
    }
    std::error_code CreateDirectory(const std::string& p) override {
        if (auto ec = Reach(p)) return ec;
        if (nodes.count(p)) return Err(EEXIST);
        nodes[p] = {mw::platform::FileType::Directory, "", 0755};
        return {};
    }
    std::error_code RemoveDirectory(const std::string&) override { return Err(ENOSYS); }
    std::error_code RemoveFile(const std::string&) override { return Err(ENOSYS); }
    std::error_code Rename(const std::string&, const std::string&) override { return Err(ENOSYS); }
    std::error_code CopyFile(const std::string&, const std::string&) override {
        return Err(ENOSYS);
    }
    std::error_code CopyMetadata(const std::string&, const std::string&) override {
        return Err(ENOSYS);
    }
    std::error_code CreateUniqueFile(const std::string&, const std::string&,
                                     std::string&) override {
        return Err(ENOSYS);
    }
    std::error_code CreateUniqueDirectory(const std::string&, const std::string&,
                                          std::string&) override {
        return Err(ENOSYS);
    }
    std::error_code SetOwner(const std::string&, uid_t, gid_t) override { return Err(ENOSYS); }
    std::error_code GrantAccess(const std::string&, unsigned, bool) override {
        return Err(ENOTSUP);
    }

    class Out : public mw::platform::OutputFile {
    public:
        explicit Out(std::string* content) : content_(content) {}
        std::error_code Write(const void* data, std::size_t size) override {
            content_->append(static_cast<const char*>(data), size);
            return {};
        }
        std::error_code Close() override { return {}; }

    private:
        std::string* content_;
    };
    class In : public mw::platform::InputFile {
    public:
        explicit In(const std::string* content) : content_(content) {}
        std::error_code Read(void* data, std::size_t size, std::size_t& got) override {
            got = std::min(size, content_->size() - at_);
            content_->copy(static_cast<char*>(data), got, at_);
            at_ += got;
            return {};
        }

    private:
        const std::string* content_;
        std::size_t at_ = 0;
    };

    std::unique_ptr<mw::platform::OutputFile> OpenForWrite(const std::string& p,
                                                           std::error_code& ec) override {
        if ((ec = Reach(p))) return nullptr;
        auto it = nodes.find(p);
        if (it != nodes.end() && it->second.type != mw::platform::FileType::Regular) {
            ec = Err(EISDIR);
            return nullptr;
        }
        Node& node = nodes[p];
        node.type = mw::platform::FileType::Regular;
        node.content.clear();
        return std::make_unique<Out>(&node.content);
    }
    std::unique_ptr<mw::platform::InputFile> OpenForRead(const std::string& p,
                                                         std::error_code& ec) override {
        if ((ec = Reach(p))) return nullptr;
        auto it = nodes.find(p);
        if (it == nodes.end()) {
            ec = Err(ENOENT);
            return nullptr;
        }
        return std::make_unique<In>(&it->second.content);
    }
};

// The real machine is never reached: shared folders are opened on the real
// file system, so the machine root points at an empty folder of our own.
void StageMachineRoot() {
    static bool done = [] {
        static char root[] = "/tmp/mw-payload-fuzz-XXXXXX";
        Check(mkdtemp(root) != nullptr);
        // Nothing is ever written there, so the empty folder goes at exit.
        std::atexit([] { rmdir(root); });
        setenv("MW_ROOT", root, 1);
        setenv("HOME", root, 1);
        unsetenv("PKEXEC_UID");
        unsetenv("SUDO_UID");
        mw::platform::ResetRootsForTesting();
        return true;
    }();
    (void)done;
}

// 1 intact, 0 not, else the decoder's error below -100.
int VerifyOutcome(const std::string& stream, const char* workers) {
    setenv("MW_VERIFY_THREADS", workers, 1);
    mw::PayloadSource source;
    source.OpenMemory(stream.data(), stream.size());
    try {
        return source.Verify() ? 1 : 0;
    } catch (const boost::iostreams::bzip2_error& e) {
        return -100 + e.error();
    }
}

void CheckParallelVerify(const std::string& stream) {
    const int sequential = VerifyOutcome(stream, "1");
    Check(VerifyOutcome(stream, "3") == sequential);
    if (mw::CheckBzip2Blocks(stream.data(), stream.size(), 1) == mw::BlockCheck::Intact)
        Check(sequential == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    StageMachineRoot();
    const std::size_t piece = data[0] ? data[0] : 4096;
    const uint8_t flags = data[1];
    const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
    const auto mode =
        (flags & 1) ? mw::PayloadExtractor::Mode::Check : mw::PayloadExtractor::Mode::Write;
    const std::size_t abortAt = flags >> 4;

    MemoryFileSystem files;
    const mw::platform::ScopedForTesting installed(&mw::platform::SetFilesForTesting, &files);
    std::size_t notifications = 0, failed = 0, entryStarted = 0, entryDone = 0;
    std::map<std::string, std::pair<uint64_t, uint32_t>> written;  // size, CRC-32
    auto callback = [&](const mw::notification& n) {
        const std::size_t number = ++notifications;
        auto answer = mw::notification::result::Continue;
        if (std::holds_alternative<mw::notification::EntryStarted>(n.value)) {
            if ((flags & 2) && entryStarted % 2 == 1) answer = mw::notification::result::Skip;
            ++entryStarted;
        } else if (const auto* d = std::get_if<mw::notification::EntryDone>(&n.value)) {
            ++entryDone;
            written[d->entry.destination] = {d->entry.size, d->entry.crc};
        } else if (const auto* f = std::get_if<mw::notification::Failed>(&n.value)) {
            ++failed;
            Check(static_cast<bool>(f->code));
        }
        if (number == abortAt) answer = mw::notification::result::Abort;
        return answer;
    };

    bool ok = false;
    uint64_t total = 0, processed = 0;
    if (flags & 4) {
        CheckParallelVerify(stream);
        mw::PayloadSource source;
        source.OpenMemory(stream.data(), stream.size());
        ok = mw::Extract(source, "/install", "Samples", "/work", callback);
    } else {
        mw::PayloadExtractor extractor({"/install", "Samples", "/work"}, callback, mode);
        try {
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                const std::size_t n = std::min(piece, stream.size() - at);
                for (std::size_t taken = 0; taken < n;)
                    taken += extractor.Write(stream.data() + at + taken, n - taken);
            }
            extractor.Finish();
            ok = true;
        } catch (const std::exception&) {
            const std::error_code code = mw::ExtractionErrorCode(std::current_exception());
            Check(code.category() == mw::CompressCategory() ||
                  code.category() == std::system_category());
            Check(extractor.broken());
            ++failed;
        }
        total = extractor.total();
        processed = extractor.processed();
        if (ok) {
            Check(total >= mw::kPayloadTableHeaderSize && processed == total);
            Check(total == stream.size());
            Check(entryStarted == extractor.entries().size());
        }
    }
    Check(ok ? failed == 0 : failed == 1);
    Check(entryDone <= entryStarted);
    if (ok && mode == mw::PayloadExtractor::Mode::Write) {
        // Every file reported done holds exactly its entry's bytes.
        for (const auto& [path, expected] : written) {
            const auto it = files.nodes.find(path);
            Check(it != files.nodes.end());
            Check(it->second.content.size() == expected.first);
            Check(mw::Crc32Of(it->second.content.data(), it->second.content.size()) ==
                  expected.second);
        }
    }
    return 0;
}
