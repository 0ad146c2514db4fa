// Helpers for the payload tests: decompressed streams built entry by entry
// (with sizes and CRC-32s that may lie), bzip2 compression, and a callback
// that records every notification as a line of text and answers as told.
#pragma once

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/crc32.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_writer.hpp"

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
        p.kind = e.kind;
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

inline std::string Bzip2(const std::string& raw) {
    std::ostringstream out;
    {
        boost::iostreams::filtering_ostream z;
        z.push(boost::iostreams::bzip2_compressor(boost::iostreams::bzip2_params(9)));
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
