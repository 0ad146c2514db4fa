#include "engine/payload_source.hpp"

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <ios>
#include <stdexcept>

#include "platform/mapped_file.hpp"
#include "platform/resources.hpp"

namespace mw {
namespace io = boost::iostreams;

namespace {

constexpr std::size_t kBlockSize = 4096;
// Pages of a mapped file are given back in steps of this size.
constexpr uint64_t kReleaseStep = uint64_t(1) << 20;

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

}  // namespace

PayloadSource::PayloadSource() = default;
PayloadSource::~PayloadSource() = default;

void PayloadSource::Open(const platform::ResourceBundle* preferred) {
    file_.reset();
    released_ = 0;
    std::span<const std::byte> bytes;
    if (preferred) bytes = preferred->Find(kPayloadResourceType, kPayloadResourceName);
    const platform::ResourceBundle& own = platform::OwnResources();
    if (bytes.empty() && preferred != &own)
        bytes = own.Find(kPayloadResourceType, kPayloadResourceName);
    reset(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::error_code PayloadSource::OpenFile(const std::string& path) {
    std::error_code ec;
    auto file = platform::MappedFile::Open(path, ec);
    if (ec) return ec;
    file_ = std::move(file);
    released_ = 0;
    reset(file_->data(), file_->size());
    return {};
}

void PayloadSource::OpenMemory(const void* data, std::size_t size) {
    file_.reset();
    released_ = 0;
    reset(static_cast<const char*>(data), size);
}

bool PayloadSource::Verify() {
    const auto start = tellg();
    const uint64_t unread = start < 0 ? 0 : size() - static_cast<uint64_t>(start);
    const uint64_t read = DecodePayload(*this, [](const char*, std::size_t n) { return n; });
    return start >= 0 && read == unread;
}

void PayloadSource::Rewind() {
    clear();
    seekg(0);
}

void PayloadSource::Consumed(uint64_t position) {
    if (!file_ || position < released_ + kReleaseStep) return;
    file_->Release(static_cast<std::size_t>(released_),
                   static_cast<std::size_t>(position - released_));
    released_ = position;
}

uint64_t DecodePayload(PayloadSource& source, const DecodedSink& sink) {
    io::bzip2_decompressor decoder(io::bzip2::default_small, kBlockSize);
    SinkAdapter adapter(sink);
    char block[kBlockSize];
    uint64_t read = 0;
    for (;;) {
        source.read(block, kBlockSize);
        const std::streamsize got = source.gcount();
        if (got <= 0) break;
        read += static_cast<uint64_t>(got);
        const char* next = block;
        std::streamsize left = got;
        while (left > 0) {
            const std::streamsize used = decoder.write(adapter, next, left);
            if (used <= 0) throw std::logic_error("bzip2 decoder took no input");
            next += used;
            left -= used;
        }
        source.Consumed(read);
    }
    // Drains the decoder; a stream that has not reached its end fails here.
    decoder.close(adapter, std::ios_base::out);
    return read;
}

}  // namespace mw
