#include "engine/payload_source.hpp"

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filter/symmetric.hpp>
#include <cstring>
#include <ios>
#include <memory>
#include <span>
#include <stdexcept>

#include "engine/bzip2_blocks.hpp"
#include "platform/mapped_file.hpp"
#include "platform/resources.hpp"

namespace mw {
namespace io = boost::iostreams;

namespace {

constexpr std::size_t kBlockSize = 4096;
// Pages of a mapped file are given back in steps of this size.
constexpr uint64_t kReleaseStep = uint64_t(256) << 10;
// A multiple of every page size the system may use.
constexpr uintptr_t kPageAlignment = 64 * 1024;

// Offers decoded output to the sink until all of it is taken.
class SinkAdapter {
public:
    using char_type = char;
    using category = io::sink_tag;

    explicit SinkAdapter(const DecodedSink& sink) : sink_(&sink) {}
    std::streamsize write(const char* data, std::streamsize n) {
        std::size_t done = 0;
        const auto size = static_cast<std::size_t>(n);
        while (done < size) done += (*sink_)(data + done, size - done);
        return n;
    }

private:
    const DecodedSink* sink_;
};

// The library's decoder over libbz2, made to end with the first stream. Boost's
// own decompressor starts a new stream on whatever follows the end of one,
// so a second stream, or garbage, behind the payload would be decoded as part
// of it; here the bytes after the end are left unread, which Verify counts.
class OneStreamDecoderImpl : public io::detail::bzip2_base,
                             public io::detail::bzip2_allocator<std::allocator<char>> {
public:
    OneStreamDecoderImpl() : bzip2_base(io::bzip2_params(io::bzip2::default_small)) {}
    ~OneStreamDecoderImpl() { (void)end(false, std::nothrow); }

    bool filter(const char*& srcBegin, const char* srcEnd, char*& destBegin, char* destEnd,
                bool flush) {
        if (ended_) return false;
        if (!ready()) init(false, *this);
        before(srcBegin, srcEnd, destBegin, destEnd);
        int result = decompress();
        if (result == io::bzip2::ok && flush) result = check_end(srcBegin, destBegin);
        after(srcBegin, destBegin);
        io::bzip2_error::check BOOST_PREVENT_MACRO_SUBSTITUTION(result);
        ended_ = result == io::bzip2::stream_end;
        return !ended_;
    }
    void close() {
        ended_ = false;
        end(false);
    }
    bool ended() const { return ended_; }

private:
    bool ended_ = false;
};

class OneStreamDecoder : public io::symmetric_filter<OneStreamDecoderImpl> {
public:
    explicit OneStreamDecoder(std::streamsize bufferSize)
        : io::symmetric_filter<OneStreamDecoderImpl>(bufferSize) {}
};

}  // namespace

PayloadSource::PayloadSource() = default;
PayloadSource::~PayloadSource() = default;

void PayloadSource::Open(const platform::ResourceBundle* preferred) {
    file_.reset();
    bundle_ = nullptr;
    released_ = 0;
    std::span<const std::byte> bytes;
    if (preferred) {
        bytes = preferred->Find(kPayloadResourceType, kPayloadResourceName);
        bundle_ = preferred;
    }
    const platform::ResourceBundle& own = platform::OwnResources();
    if (bytes.empty() && preferred != &own) {
        bytes = own.Find(kPayloadResourceType, kPayloadResourceName);
        bundle_ = &own;
    }
    reset(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::error_code PayloadSource::OpenFile(const std::string& path) {
    std::error_code ec;
    auto file = platform::MappedFile::Open(path, ec);
    if (ec) return ec;
    file_ = std::move(file);
    bundle_ = nullptr;
    released_ = 0;
    reset(file_->data(), file_->size());
    return {};
}

void PayloadSource::OpenMemory(const void* data, std::size_t size) {
    file_.reset();
    bundle_ = nullptr;
    released_ = 0;
    reset(static_cast<const char*>(data), size);
}

bool PayloadSource::Verify() {
    const auto start = tellg();
    const uint64_t unread = start < 0 ? 0 : size() - static_cast<uint64_t>(start);
    if (start >= 0 && unread > 0) {
        if (const unsigned workers = VerifyWorkers(); workers > 1) {
            const auto from = static_cast<uint64_t>(start);
            const BlockCheck check = CheckBzip2Blocks(
                data() + from, static_cast<std::size_t>(unread), workers,
                [&](uint64_t offset) { Consumed(from + offset); },
                [&](uint64_t offset, std::size_t n, char* to) { Copy(from + offset, n, to); });
            if (check == BlockCheck::Intact) {
                // Left as the sequential decode leaves it: read to the end.
                seekg(0, std::ios_base::end);
                (void)get();
                return true;
            }
            // Whatever it is, the sequential decode says it, from the start.
            clear();
            seekg(start);
        }
    }
    const uint64_t read = DecodePayload(*this, [](const char*, std::size_t n) { return n; });
    return start >= 0 && read == unread;
}

void PayloadSource::Rewind() {
    clear();
    seekg(0);
    released_ = 0;  // what is read again comes back and must be given back again
}

void PayloadSource::Consumed(uint64_t position) {
    if (position < released_) released_ = 0;
    if (position > size()) position = size();
    if ((!file_ && !bundle_) || position < released_ + kReleaseStep) return;
    // Only whole pages can go: each step ends on a page boundary, so that the
    // page still being read goes with the next step. Ending it at `position`
    // would leave that page behind for good, one per step, and a large
    // payload would stay resident bit by bit.
    position -= reinterpret_cast<uintptr_t>(data() + position) % kPageAlignment;
    if (position <= released_) return;
    Drop(released_, position);
    released_ = position;
}

void PayloadSource::Copy(uint64_t offset, std::size_t n, char* to) const {
    if (offset > size() || n > size() - offset) throw std::out_of_range("payload: copy past the end");
    if (file_) {
        file_->Copy(static_cast<std::size_t>(offset), n, to);
    } else if (bundle_) {
        bundle_->Copy(std::as_bytes(std::span(data() + offset, n)), to);
    } else if (n > 0) {
        std::memcpy(to, data() + offset, n);
    }
}

void PayloadSource::Drop(uint64_t begin, uint64_t end) const {
    if (end > size()) end = size();
    if (begin >= end) return;
    const auto length = static_cast<std::size_t>(end - begin);
    if (file_) {
        file_->Release(static_cast<std::size_t>(begin), length);
    } else if (bundle_) {
        bundle_->Release(std::as_bytes(std::span(data() + begin, length)));
    }
}

uint64_t DecodePayload(PayloadSource& source, const DecodedSink& sink) {
    OneStreamDecoder decoder(kBlockSize);
    SinkAdapter adapter(sink);
    char block[kBlockSize];
    const auto origin = source.tellg();
    const uint64_t from = origin < 0 ? 0 : static_cast<uint64_t>(origin);
    uint64_t read = 0;
    while (!decoder.filter().ended()) {
        source.read(block, kBlockSize);
        const std::streamsize got = source.gcount();
        if (got <= 0) break;
        const char* next = block;
        std::streamsize left = got;
        while (left > 0 && !decoder.filter().ended()) {
            const std::streamsize used = decoder.write(adapter, next, left);
            if (used <= 0 && !decoder.filter().ended())
                throw std::logic_error("bzip2 decoder took no input");
            next += used;
            left -= used;
            read += static_cast<uint64_t>(used);
        }
        source.Consumed(from + read);
    }
    // Drains the decoder; a stream that has not reached its end fails here.
    decoder.close(adapter, std::ios_base::out);
    return read;
}

}  // namespace mw
