// Helpers for the payload tests: decompressed streams built entry by entry
// (with sizes and CRC-32s that may lie), bzip2 compression, damaged copies of
// a stream and the comparison of the parallel Verify with the sequential one,
// and a callback that records every notification as a line of text and
// answers as told.
#pragma once

#include <gtest/gtest.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bzip2_blocks.hpp"
#include "engine/crc32.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_writer.hpp"
#include "support/env_guard.hpp"

namespace payloadtest {

struct RawEntry {
    std::string source;
    std::string directory;
    std::string content;
    int32_t kind = 0;
    std::optional<uint64_t> size;  // lie about the size
    std::optional<uint32_t> crc;   // lie about the CRC-32
};

inline RawEntry Raw(std::string source, std::string directory, std::string content,
                    int32_t kind = 0) {
    RawEntry e;
    e.source = std::move(source);
    e.directory = std::move(directory);
    e.content = std::move(content);
    e.kind = kind;
    return e;
}

inline std::string TableOf(const std::vector<RawEntry>& entries) {
    std::vector<mw::PayloadEntry> table;
    for (const auto& e : entries) {
        mw::PayloadEntry p;
        p.source = e.source;
        p.destination = e.directory;
        p.kind = static_cast<mw::PayloadKind>(e.kind);  // any raw number, named or not
        p.size = e.size.value_or(e.content.size());
        p.crc = e.crc.value_or(mw::Crc32Of(e.content.data(), e.content.size()));
        table.push_back(p);
    }
    return mw::EncodePayloadTable(table);
}

// The decompressed stream: table, then every content.
inline std::string RawPayload(const std::vector<RawEntry>& entries) {
    std::string raw = TableOf(entries);
    for (const auto& e : entries) raw += e.content;
    return raw;
}

inline std::string Bzip2(const std::string& raw, int level = 9) {
    std::ostringstream out;
    {
        boost::iostreams::filtering_ostream z;
        z.push(boost::iostreams::bzip2_compressor(boost::iostreams::bzip2_params(level)));
        z.push(out);
        z.write(raw.data(), static_cast<std::streamsize>(raw.size()));
    }
    return out.str();
}

// Deterministic filler: `compressible` repeats text, otherwise the bytes look
// random to the compressor.
inline std::string Filler(std::size_t size, uint32_t seed, bool compressible = false) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        if (compressible) {
            s[i] = "payload-"[i % 8];
        } else {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            s[i] = static_cast<char>(x);
        }
    }
    return s;
}

// What Verify makes of `stream` with MW_VERIFY_THREADS=`workers`: "true",
// "false" or "bzip2 error N"; every result of the sequential path is one of
// these, so two outcomes are equal exactly when the results are.
inline std::string VerifyOutcome(const std::string& stream, unsigned workers) {
    mwtest::EnvGuard env;
    env.Set("MW_VERIFY_THREADS", std::to_string(workers));
    mw::PayloadSource source;
    source.OpenMemory(stream.data(), stream.size());
    try {
        return source.Verify() ? "true" : "false";
    } catch (const boost::iostreams::bzip2_error& e) {
        return "bzip2 error " + std::to_string(e.error());
    }
}

// The parallel Verify gives the sequential result with 2 and 8 workers, and
// the block check on the caller's thread alone (1 worker) never calls intact
// what the sequential path rejects. Returns the sequential outcome.
inline std::string ExpectSameVerify(const std::string& stream, const std::string& what) {
    const std::string sequential = VerifyOutcome(stream, 1);
    for (unsigned workers : {2u, 8u})
        EXPECT_EQ(VerifyOutcome(stream, workers), sequential) << what << ", " << workers;
    if (mw::CheckBzip2Blocks(stream.data(), stream.size(), 1) == mw::BlockCheck::Intact) {
        EXPECT_EQ(sequential, "true") << what << ", block check with 1 worker";
    }
    return sequential;
}

// `count` (at most 64) bits of `s` from bit `at`, most significant first.
inline uint64_t TakeBits(const std::string& s, uint64_t at, unsigned count) {
    uint64_t v = 0;
    for (unsigned k = 0; k < count; ++k, ++at)
        v = v << 1 | ((static_cast<unsigned char>(s[at / 8]) >> (7 - at % 8)) & 1);
    return v;
}

// The bits [from, to) of `s` for every range, one after the other, filled up
// with zero bits to a whole byte.
inline std::string JoinBits(const std::string& s,
                            const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    std::string out;
    unsigned live = 0, acc = 0;
    for (const auto& [from, to] : ranges) {
        for (uint64_t at = from; at < to; ++at) {
            acc = acc << 1 | static_cast<unsigned>(TakeBits(s, at, 1));
            if (++live == 8) {
                out += static_cast<char>(acc);
                live = acc = 0;
            }
        }
    }
    if (live) out += static_cast<char>(acc << (8 - live));
    return out;
}

// Bit position just past the combined CRC of a stream that fills `s`.
inline uint64_t EndMarkerBit(const std::string& s) {
    const uint64_t bits = uint64_t(s.size()) * 8;
    for (uint64_t at = bits - 80; at + 88 > bits; --at)
        if (TakeBits(s, at, 48) == 0x177245385090) return at + 80;
    ADD_FAILURE() << "no end marker";
    return bits;
}

// Copies of a good stream damaged in every block and at every block edge:
// a bit flipped inside each block and in its CRC, cut at each block start and
// one byte after it, one byte short, bytes and a second stream behind it, and
// blocks swapped or repeated (every block CRC right, the combined one wrong).
inline std::vector<std::pair<std::string, std::string>> DamagedCopies(const std::string& good) {
    std::vector<std::pair<std::string, std::string>> out;
    const uint64_t bits = uint64_t(good.size()) * 8;
    const std::vector<uint64_t> blocks = mw::FindBlockMagics(good.data(), good.size(), 0, bits);
    auto flip = [&](const std::string& what, uint64_t bit) {
        std::string s = good;
        s[bit / 8] = static_cast<char>(s[bit / 8] ^ (0x80 >> (bit % 8)));
        out.emplace_back(what + " at bit " + std::to_string(bit), s);
    };
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const uint64_t end = i + 1 < blocks.size() ? blocks[i + 1] : bits - 80;
        const std::string n = std::to_string(i);
        flip("bit flipped in block " + n, (blocks[i] + end) / 2);
        flip("bit flipped in the CRC of block " + n, blocks[i] + 48 + 5);
        flip("bit flipped in the magic of block " + n, blocks[i] + 7);
        out.emplace_back("cut at block " + n, good.substr(0, blocks[i] / 8));
        out.emplace_back("cut one byte into block " + n, good.substr(0, blocks[i] / 8 + 1));
    }
    flip("bit flipped in the end marker", bits - 60);
    out.emplace_back("one byte short", good.substr(0, good.size() - 1));
    out.emplace_back("a zero byte after it", good + std::string(1, '\0'));
    out.emplace_back("garbage after it", good + "garbage");
    out.emplace_back("a second stream after it", good + good);
    if (blocks.size() >= 3) {
        const uint64_t a = blocks[0], b = blocks[1], c = blocks[2], end = EndMarkerBit(good);
        out.emplace_back("two blocks swapped", JoinBits(good, {{0, a}, {b, c}, {a, b}, {c, end}}));
        out.emplace_back("a block repeated", JoinBits(good, {{0, b}, {a, b}, {b, end}}));
    }
    return out;
}

// Records notifications as text ("EntryStarted /x/a", "Progress 12/40", ...)
// and answers Abort or Skip where told.
class Recorder {
public:
    std::vector<std::string> events;
    std::vector<std::error_code> failures;
    // Answer for the n-th notification (0-based) of the whole run.
    std::map<std::size_t, mw::notification::result> answerAt;
    // Answer for EntryStarted of a destination.
    std::map<std::string, mw::notification::result> answerFor;
    std::function<void()> onStarted;

    mw::ExtractCallback Callback() {
        return [this](const mw::notification& n) { return Record(n); };
    }

    mw::notification::result Record(const mw::notification& n) {
        using mw::notification;
        const std::size_t number = events.size();
        std::string line;
        auto answer = notification::result::Continue;
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, notification::Started>) {
                    line = "Started";
                } else if constexpr (std::is_same_v<T, notification::Finished>) {
                    line = "Finished " + std::to_string(v.compressedRead) + "/" +
                           std::to_string(v.total);
                } else if constexpr (std::is_same_v<T, notification::EntryStarted>) {
                    line = "EntryStarted " + v.entry.destination;
                    if (auto it = answerFor.find(v.entry.destination); it != answerFor.end())
                        answer = it->second;
                } else if constexpr (std::is_same_v<T, notification::EntryDone>) {
                    line = "EntryDone " + v.entry.destination;
                } else if constexpr (std::is_same_v<T, notification::Progress>) {
                    line =
                        "Progress " + std::to_string(v.processed) + "/" + std::to_string(v.total);
                } else {
                    line = "Failed " + std::string(v.code.category().name()) + ":" +
                           std::to_string(v.code.value()) + " " + v.path;
                    failures.push_back(v.code);
                }
            },
            n.value);
        events.push_back(line);
        if (auto it = answerAt.find(number); it != answerAt.end()) answer = it->second;
        if (number == 0 && onStarted) onStarted();
        return answer;
    }

    // The events without Progress lines.
    std::vector<std::string> Steps() const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind("Progress", 0) != 0) out.push_back(e);
        return out;
    }
};

// Offers `data` to the extractor the way the decoder does: the rest of a
// piece again until all of it is taken.
inline void Offer(mw::PayloadExtractor& x, const std::string& data) {
    const char* p = data.data();
    std::size_t n = data.size();
    while (n > 0) {
        const std::size_t k = x.Write(p, n);
        p += k;
        n -= k;
    }
}

}  // namespace payloadtest
