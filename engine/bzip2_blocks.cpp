#include "engine/bzip2_blocks.hpp"

#include <bzlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/processors.hpp"

namespace mw {

namespace {

constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
constexpr uint64_t kHeaderBits = 32;  // "BZh" and the block size digit
constexpr uint64_t kEndBits = 48 + 32;
// Magic, CRC, randomised flag, origin pointer, the first used-bytes map: a
// piece shorter than this holds no block.
constexpr uint64_t kShortestBlockBits = 48 + 32 + 1 + 24 + 16;
// Pieces a failed one may be joined with before the sequential decoder is
// asked; more than one chance magic inside one block is beyond belief.
constexpr int kMaxJoins = 4;
constexpr std::size_t kChunk = 64 * 1024;
// Bits scanned for magics at a time, ahead of the blocks being decoded.
constexpr uint64_t kScanBits = uint64_t(256) * 1024 * 8;

// The stream's bytes, read only through copies: from a mapped file the copy
// comes from the file, so that the check maps in none of it (a fault on a
// mapping brings in as much as the page cache holds in one piece, up to
// megabytes with large folios, whatever little was touched).
class Source {
public:
    Source(const unsigned char* data, std::size_t size, const CopyBytes* copy)
        : data_(data), size_(size), copy_(copy && *copy ? copy : nullptr) {}
    std::size_t size() const { return size_; }
    void Copy(uint64_t from, std::size_t n, unsigned char* to) const {
        if (copy_) {
            (*copy_)(from, n, reinterpret_cast<char*>(to));
        } else {
            std::memcpy(to, data_ + from, n);
        }
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    const CopyBytes* copy_;
};

// Bytes [first, first + size) of the stream as a sequence of bits, most
// significant bit of each byte first; bit positions count from the start of
// the stream.
class Bits {
public:
    Bits(const unsigned char* data, std::size_t size, uint64_t first = 0)
        : data_(data), size_(size), first_(first) {}

    // The 64 bits from bit `at`; bits past the bytes read as 0.
    uint64_t Word(uint64_t at) const {
        const uint64_t byte = at >> 3;
        const unsigned shift = static_cast<unsigned>(at & 7);
        uint64_t v = 0;
        if (byte >= first_ && byte - first_ + 9 <= size_) {
            const unsigned char* p = data_ + (byte - first_);
            for (int k = 0; k < 8; ++k) v = (v << 8) | p[k];
            if (shift) v = (v << shift) | (p[8] >> (8 - shift));
            return v;
        }
        for (int k = 0; k < 9; ++k) {
            const uint64_t i = byte + k;
            const uint64_t b = i >= first_ && i - first_ < size_ ? data_[i - first_] : 0;
            if (k < 8) {
                v = (v << 8) | b;
            } else if (shift) {
                v = (v << shift) | (b >> (8 - shift));
            }
        }
        return v;
    }
    // `count` (1 to 64) bits from bit `at`.
    uint64_t Take(uint64_t at, unsigned count) const { return Word(at) >> (64 - count); }

    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    uint64_t first() const { return first_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    uint64_t first_;
};

// A thread's copy of the stretch of the stream it is reading.
class Window {
public:
    // Bytes [from, to) of the stream, or as many of them as it has.
    Bits Load(const Source& source, uint64_t from, uint64_t to) {
        to = std::min<uint64_t>(to, source.size());
        from = std::min(from, to);
        const auto n = static_cast<std::size_t>(to - from);
        if (bytes_.size() < n) bytes_.resize(n);
        source.Copy(from, n, bytes_.data());
        return Bits(bytes_.data(), n, from);
    }

private:
    std::vector<unsigned char> bytes_;
};

// For a magic at bit 8i + s, bytes i + 1 and i + 2 lie wholly inside it and
// are fixed by s: two table looks per byte rule out all but a few places.
struct MagicTables {
    std::array<uint8_t, 256> second{}, third{};
    MagicTables() {
        for (unsigned s = 0; s < 8; ++s) {
            second[(kBlockMagic >> (32 + s)) & 0xFF] |= uint8_t(1u << s);
            third[(kBlockMagic >> (24 + s)) & 0xFF] |= uint8_t(1u << s);
        }
    }
};

// Finds the magics wholly inside [from, to) of the stream, of which `bits`
// must hold the bytes from from / 8 on to the end of the range (or of the
// stream).
void ScanMagics(const Bits& bits, uint64_t from, uint64_t to, std::vector<uint64_t>& out) {
    static const MagicTables tables;
    const uint64_t held = (bits.first() + bits.size()) * 8;
    if (to > held) to = held;
    if (to < from + 48 || from / 8 < bits.first()) return;
    const uint64_t last = to - 48;  // the last place a whole magic fits
    const unsigned char* d = bits.data();
    const uint64_t first = bits.first();
    for (uint64_t i = from >> 3; i <= last >> 3; ++i) {
        const unsigned mask = tables.second[d[i - first + 1]] & tables.third[d[i - first + 2]];
        if (!mask) continue;
        for (unsigned s = 0; s < 8; ++s) {
            const uint64_t at = i * 8 + s;
            if ((mask >> s & 1) && at >= from && at <= last && bits.Take(at, 48) == kBlockMagic)
                out.push_back(at);
        }
    }
}

// Writes bits most significant first into a small buffer.
class BitWriter {
public:
    explicit BitWriter(unsigned char* out) : out_(out) {}
    void Put(uint64_t value, unsigned count) {
        while (count-- > 0) {
            acc_ = static_cast<unsigned>(acc_ << 1 | (value >> count & 1));
            if (++live_ == 8) {
                out_[length_++] = static_cast<unsigned char>(acc_);
                acc_ = live_ = 0;
            }
        }
    }
    std::size_t Finish() {
        if (live_) Put(0, 8 - live_);
        return length_;
    }

private:
    unsigned char* out_;
    unsigned acc_ = 0, live_ = 0;
    std::size_t length_ = 0;
};

// A worker's decoder tables, kept from block to block and given back to the
// system when the worker ends: freed through the C library they would stay
// with the process (its heaps keep what a thread freed), and the extraction
// after the check would add its own on top.
class DecoderMemory {
public:
    DecoderMemory() = default;
    DecoderMemory(const DecoderMemory&) = delete;
    DecoderMemory& operator=(const DecoderMemory&) = delete;
    ~DecoderMemory() {
        for (auto& slot : slots_) platform::UnmapPages(slot.pages, slot.size);
    }

    static void* Allocate(void* self, int items, int size) {
        return static_cast<DecoderMemory*>(self)->Take(std::size_t(items) * std::size_t(size));
    }
    static void Free(void* self, void* p) { static_cast<DecoderMemory*>(self)->Give(p); }

private:
    struct Slot {
        void* pages = nullptr;
        std::size_t size = 0;
        bool used = false;
    };
    void* Take(std::size_t size) {
        for (auto& slot : slots_) {
            if (slot.pages && !slot.used && slot.size == size) {
                slot.used = true;
                return slot.pages;
            }
        }
        for (auto& slot : slots_) {
            if (slot.used) continue;
            platform::UnmapPages(slot.pages, slot.size);
            slot = Slot{platform::MapPages(size), size, true};
            return slot.pages;
        }
        return nullptr;  // the decoder asks for two tables at a time
    }
    void Give(void* p) {
        for (auto& slot : slots_)
            if (slot.pages == p) slot.used = false;
    }
    std::array<Slot, 4> slots_;
};

struct Buffers {
    std::unique_ptr<unsigned char[]> in{new unsigned char[kChunk]};
    std::unique_ptr<char[]> out{new char[kChunk]};
    Window window;
    DecoderMemory memory;
};

struct BzStream {
    bz_stream z{};
    bool ready = false;
    explicit BzStream(DecoderMemory& memory) {
        z.bzalloc = &DecoderMemory::Allocate;
        z.bzfree = &DecoderMemory::Free;
        z.opaque = &memory;
        ready = BZ2_bzDecompressInit(&z, 0, 0) == BZ_OK;
    }
    ~BzStream() {
        if (ready) BZ2_bzDecompressEnd(&z);
    }
};

// Decodes the bits [begin, end), which start with a block magic, as a stream
// of that one block: the stream's header, the block moved to a byte
// boundary, and an end marker whose combined CRC is the block's own. True
// only when the decoder took every bit of it and ended the stream on that
// marker; `crc` is the block's CRC.
bool DecodeAsOneBlock(const Source& source, char level, uint64_t begin, uint64_t end,
                      uint32_t& crc, Buffers& buffers) {
    if (end < begin + kShortestBlockBits) return false;
    crc = static_cast<uint32_t>(
        buffers.window.Load(source, begin / 8, (begin + 80) / 8 + 1).Take(begin + 48, 32));
    const uint64_t words = (end - begin) / 64;
    const unsigned rest = static_cast<unsigned>((end - begin) % 64);
    unsigned char tail[32];
    BitWriter writer(tail);
    if (rest) {
        const uint64_t at = begin + words * 64;
        writer.Put(buffers.window.Load(source, at / 8, at / 8 + 9).Take(at, rest), rest);
    }
    writer.Put(kEndMagic, 48);
    writer.Put(crc, 32);
    const std::size_t tailLength = writer.Finish();

    BzStream stream(buffers.memory);
    if (!stream.ready) return false;
    bz_stream& z = stream.z;
    bool headerDone = false, tailDone = false;
    uint64_t word = 0;
    for (;;) {
        if (z.avail_in == 0) {
            unsigned char* in = buffers.in.get();
            std::size_t length = 0;
            if (!headerDone) {
                std::memcpy(in, "BZh", 3);
                in[3] = static_cast<unsigned char>(level);
                length = 4;
                headerDone = true;
            }
            const uint64_t lastWord = std::min<uint64_t>(words, word + (kChunk - length) / 8);
            const Bits bits = buffers.window.Load(source, (begin + word * 64) / 8,
                                                  (begin + lastWord * 64) / 8 + 9);
            for (; word < lastWord; ++word, length += 8) {
                const uint64_t v = bits.Word(begin + word * 64);
                for (int k = 0; k < 8; ++k)
                    in[length + k] = static_cast<unsigned char>(v >> (56 - 8 * k));
            }
            if (word == words && !tailDone && length + tailLength <= kChunk) {
                std::memcpy(in + length, tail, tailLength);
                length += tailLength;
                tailDone = true;
            }
            z.next_in = reinterpret_cast<char*>(in);
            z.avail_in = static_cast<unsigned>(length);
        }
        z.next_out = buffers.out.get();
        z.avail_out = static_cast<unsigned>(kChunk);
        const int result = BZ2_bzDecompress(&z);
        if (result == BZ_STREAM_END) return tailDone && z.avail_in == 0;
        if (result != BZ_OK) return false;
        // All of it given, and the decoder wants more: the block runs on.
        if (tailDone && z.avail_in == 0 && z.avail_out != 0) return false;
    }
}

uint32_t Combine(uint32_t combined, uint32_t blockCrc) {
    return ((combined << 1) | (combined >> 31)) ^ blockCrc;
}

// The pieces between magics, decoded by the workers while the caller's
// thread finds more and takes the results in order.
class BlockPool {
public:
    BlockPool(const Source& source, char level, unsigned workers)
        : source_(source), level_(level), window_(workers + 1) {
        try {
            for (unsigned i = 0; i < workers; ++i) buffers_.push_back(std::make_unique<Buffers>());
            for (unsigned i = 0; i < workers; ++i)
                threads_.emplace_back([this, i] { Work(*buffers_[i]); });
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~BlockPool() { Stop(); }

    bool Full() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pieces_.size() >= window_;
    }
    bool Empty() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pieces_.empty();
    }
    void Add(uint64_t begin, uint64_t end) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pieces_.push_back(Piece{begin, end});
        }
        queued_.notify_one();
    }
    struct Result {
        uint64_t begin = 0, end = 0;
        uint32_t crc = 0;
        bool ok = false;
    };
    // The oldest piece, once decoded. There must be one.
    Result Next() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pieces_.front().state == Piece::Done; });
        const Piece& p = pieces_.front();
        Result r{p.begin, p.end, p.crc, p.ok};
        pieces_.pop_front();
        ++first_;
        return r;
    }

private:
    struct Piece {
        uint64_t begin, end;
        enum State { Queued, Taken, Done } state = Queued;
        uint32_t crc = 0;
        bool ok = false;
    };

    void Work(Buffers& buffers) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            queued_.wait(lock, [this] { return stop_ || next_ < first_ + pieces_.size(); });
            if (stop_) return;
            const std::size_t index = next_++;
            Piece& piece = pieces_[index - first_];
            piece.state = Piece::Taken;
            const uint64_t begin = piece.begin, end = piece.end;
            lock.unlock();
            uint32_t crc = 0;
            const bool ok = DecodeAsOneBlock(source_, level_, begin, end, crc, buffers);
            lock.lock();
            // A taken piece is never removed before it is done.
            Piece& same = pieces_[index - first_];
            same.crc = crc;
            same.ok = ok;
            same.state = Piece::Done;
            done_.notify_all();
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        queued_.notify_all();
        for (auto& t : threads_) t.join();
        threads_.clear();
    }

    const Source& source_;
    const char level_;
    const std::size_t window_;
    std::mutex mutex_;
    std::condition_variable queued_, done_;
    std::deque<Piece> pieces_;
    std::size_t first_ = 0;  // number of the piece at the front
    std::size_t next_ = 0;   // number of the next piece to decode
    bool stop_ = false;
    std::vector<std::unique_ptr<Buffers>> buffers_;
    std::vector<std::thread> threads_;
};

// Finds the pieces between block magics, ahead of the decoding.
class PieceFinder {
public:
    PieceFinder(const Source& source, uint64_t end) : source_(source), end_(end) {}
    bool Done() const { return done_; }
    // Adds the pieces of the next stretch of bits.
    template <typename Add>
    void More(const Add& add) {
        const uint64_t to = std::min(scanned_ + kScanBits, end_);
        found_.clear();
        ScanMagics(window_.Load(source_, scanned_ / 8, to / 8 + 9), scanned_, to, found_);
        for (const uint64_t at : found_) {
            add(last_, at);
            last_ = at;
        }
        scanned_ = to;
        if (to == end_) {
            add(last_, end_);
            done_ = true;
        }
    }

private:
    const Source& source_;
    Window window_;
    const uint64_t end_;
    uint64_t last_ = kHeaderBits;         // start of the piece being found
    uint64_t scanned_ = kHeaderBits + 1;  // the magic at the header is the first start
    bool done_ = false;
    std::vector<uint64_t> found_;
};

BlockCheck Check(const Source& source, unsigned workers, const ConsumedBytes& consumed) {
    const std::size_t size = source.size();
    if (size < 4 + 10) return BlockCheck::Undecided;
    Window window;
    const Bits head = window.Load(source, 0, 4 + 10);
    const unsigned char* d = head.data();
    if (std::memcmp(d, "BZh", 3) != 0 || d[3] < '1' || d[3] > '9') return BlockCheck::Undecided;
    const char level = static_cast<char>(d[3]);
    if (head.Take(kHeaderBits, 48) != kBlockMagic)
        return BlockCheck::Undecided;  // a stream without blocks
    // The end marker must be the last thing in the bytes: the decoder takes
    // whole bytes, so it starts within the last 8 bits before its 80.
    const uint64_t total = uint64_t(size) * 8;
    const Bits tail = window.Load(source, size - kEndBits / 8 - 1, size);
    uint64_t end = 0;
    for (uint64_t at = total - kEndBits; at + kEndBits + 8 > total && at >= kHeaderBits; --at) {
        if (tail.Take(at, 48) == kEndMagic) {
            end = at;
            break;
        }
    }
    if (end <= kHeaderBits) return BlockCheck::Undecided;  // no end found
    const auto stored = static_cast<uint32_t>(tail.Take(end + 48, 32));

    PieceFinder finder(source, end);
    uint32_t combined = 0;
    Buffers buffers;  // for joined pieces, decoded on this thread
    auto settle = [&](uint64_t begin, uint64_t pieceEnd, bool ok, uint32_t crc, auto& next) {
        // A piece that does not decode may be a block cut by a chance magic:
        // join it with the pieces after it until the block is whole.
        for (int joins = 0; !ok; ++joins) {
            if (joins == kMaxJoins) return false;
            uint64_t nextEnd = 0;
            if (!next(nextEnd)) return false;
            pieceEnd = nextEnd;
            ok = DecodeAsOneBlock(source, level, begin, pieceEnd, crc, buffers);
        }
        combined = Combine(combined, crc);
        if (consumed) consumed(pieceEnd / 8);
        return true;
    };

    if (workers <= 1) {
        std::deque<std::pair<uint64_t, uint64_t>> pieces;
        auto add = [&](uint64_t b, uint64_t e) { pieces.emplace_back(b, e); };
        auto next = [&](uint64_t& nextEnd) {
            while (pieces.empty() && !finder.Done()) finder.More(add);
            if (pieces.empty()) return false;
            nextEnd = pieces.front().second;
            pieces.pop_front();
            return true;
        };
        for (;;) {
            while (pieces.empty() && !finder.Done()) finder.More(add);
            if (pieces.empty()) break;
            const auto [b, e] = pieces.front();
            pieces.pop_front();
            uint32_t crc = 0;
            const bool ok = DecodeAsOneBlock(source, level, b, e, crc, buffers);
            if (!settle(b, e, ok, crc, next)) return BlockCheck::Undecided;
        }
    } else {
        BlockPool pool(source, level, workers);
        auto add = [&](uint64_t b, uint64_t e) { pool.Add(b, e); };
        auto fill = [&] {
            while (!finder.Done() && !pool.Full()) finder.More(add);
        };
        auto next = [&](uint64_t& nextEnd) {
            fill();
            while (pool.Empty() && !finder.Done()) finder.More(add);
            if (pool.Empty()) return false;
            nextEnd = pool.Next().end;  // its own result no longer matters
            return true;
        };
        for (;;) {
            fill();
            if (pool.Empty()) break;
            const BlockPool::Result r = pool.Next();
            if (!settle(r.begin, r.end, r.ok, r.crc, next)) return BlockCheck::Undecided;
        }
    }
    return combined == stored ? BlockCheck::Intact : BlockCheck::Undecided;
}

}  // namespace

BlockCheck CheckBzip2Blocks(const char* data, std::size_t size, unsigned workers,
                            const ConsumedBytes& consumed, const CopyBytes& copy) {
    try {
        return Check(Source(reinterpret_cast<const unsigned char*>(data), size, &copy),
                     std::max(workers, 1u), consumed);
    } catch (const std::exception&) {
        // No thread or no memory for the pool: the sequential decoder decides.
        return BlockCheck::Undecided;
    }
}

std::vector<uint64_t> FindBlockMagics(const char* data, std::size_t size, uint64_t fromBit,
                                      uint64_t toBit) {
    std::vector<uint64_t> out;
    ScanMagics(Bits(reinterpret_cast<const unsigned char*>(data), size), fromBit, toBit, out);
    return out;
}

unsigned VerifyWorkers() {
    if (const char* forced = std::getenv("MW_VERIFY_THREADS")) {
        char* endp = nullptr;
        const unsigned long n = std::strtoul(forced, &endp, 10);
        if (endp != forced && *endp == '\0' && n >= 1 && n <= 256) return static_cast<unsigned>(n);
    }
    unsigned workers = platform::UsableProcessors();
    // A decoder of 900,000-byte blocks holds 3.6 MB and its buffers; let the
    // workers take no more than an eighth of what is free.
    constexpr uint64_t kPerWorker = uint64_t(4) << 20;
    if (const uint64_t free = platform::AvailableMemory(); free > 0)
        workers = static_cast<unsigned>(
            std::min<uint64_t>(workers, std::max<uint64_t>(1, free / 8 / kPerWorker)));
    return std::min(workers, 64u);
}

}  // namespace mw
