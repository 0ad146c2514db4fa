// The block-parallel check of a bzip2 stream against the sequential decoder:
// the same Verify result for every stream, good or damaged, with 1, 2 and 8
// workers, and good streams proven by the blocks themselves.
#include "engine/bzip2_blocks.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>

#include "engine/payload_test_support.hpp"
#include "platform/processors.hpp"
#include "support/env_guard.hpp"

namespace {

using payloadtest::Bzip2;
using payloadtest::ExpectSameVerify;
using payloadtest::Filler;

constexpr uint64_t kBlockMagic = 0x314159265359;

std::string WithBits(std::string s, uint64_t at, uint64_t value, unsigned count) {
    for (unsigned k = 0; k < count; ++k, ++at) {
        const char bit = static_cast<char>(0x80 >> (at % 8));
        if (value >> (count - 1 - k) & 1) {
            s[at / 8] = static_cast<char>(s[at / 8] | bit);
        } else {
            s[at / 8] = static_cast<char>(s[at / 8] & ~bit);
        }
    }
    return s;
}

TEST(FindBlockMagics, AtEveryBitPositionAndNowhereElse) {
    const std::string zeros(64, '\0');
    struct Case {
        std::vector<uint64_t> planted;
        uint64_t to;
        std::vector<uint64_t> found;
    };
    const Case cases[] = {
        {{0}, 512, {0}},
        {{1}, 512, {1}},
        {{2}, 512, {2}},
        {{3}, 512, {3}},
        {{4}, 512, {4}},
        {{5}, 512, {5}},
        {{6}, 512, {6}},
        {{7}, 512, {7}},
        {{13, 100, 203}, 512, {13, 100, 203}},
        {{512 - 48}, 512, {512 - 48}},  // ends with the bytes
        {{300}, 347, {}},               // cut by the end of the range
        {{300}, 348, {300}},
    };
    for (const auto& c : cases) {
        std::string s = zeros;
        for (const uint64_t at : c.planted) s = WithBits(s, at, kBlockMagic, 48);
        EXPECT_EQ(mw::FindBlockMagics(s.data(), s.size(), 0, c.to), c.found) << c.planted[0];
        if (!c.found.empty()) {  // from a bit past the last, none is there
            EXPECT_TRUE(mw::FindBlockMagics(s.data(), s.size(), c.found.back() + 1, c.to).empty());
        }
    }
    // One bit off anywhere in the magic is no magic.
    for (unsigned k = 0; k < 48; ++k) {
        const std::string s = WithBits(zeros, 77, kBlockMagic ^ (uint64_t(1) << k), 48);
        EXPECT_TRUE(mw::FindBlockMagics(s.data(), s.size(), 0, 512).empty()) << k;
    }
}

// Bytes whose set of values spells `pattern` (48 bits) in the first three
// groups of the used-bytes map that opens every block: so the pattern stands
// 121 bits after each block's start, inside the block.
std::string SpellingInEveryBlock(uint64_t pattern, std::size_t size) {
    std::vector<unsigned char> used;
    for (unsigned group = 0; group < 16; ++group) {
        const unsigned map = group < 3
                                 ? static_cast<unsigned>(pattern >> (32 - 16 * group)) & 0xFFFF
                                 : 0x8000u;  // every group is in use
        for (unsigned j = 0; j < 16; ++j)
            if (map >> (15 - j) & 1) used.push_back(static_cast<unsigned char>(group * 16 + j));
    }
    // No byte twice in a row: runs would add their length bytes to the map.
    std::string s(size, '\0');
    uint32_t x = 12345;
    std::size_t last = 0;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        last = (last + 1 + (x >> 16) % (used.size() - 1)) % used.size();
        c = static_cast<char>(used[last]);
    }
    return s;
}

struct Stream {
    std::string what;
    std::string compressed;
    bool damage = false;  // damaged in every block too
};

std::vector<Stream> GoodStreams() {
    const std::string mixed = Filler(100000, 1) + Filler(100000, 0, true) + Filler(50000, 2);
    return {
        {"one small block", Bzip2("a few words of text, once")},
        {"one block of 900 kB blocks", Bzip2(Filler(300000, 3))},
        {"mixed, 100 kB blocks", Bzip2(mixed, 1), true},
        {"incompressible, 100 kB blocks", Bzip2(Filler(450000, 4), 1)},
        {"repetitive, 200 kB blocks", Bzip2(Filler(1000000, 0, true), 2)},
        {"payload, 100 kB blocks",
         Bzip2(payloadtest::RawPayload({payloadtest::Raw("a", "<InstallPath>", Filler(250000, 5)),
                                        payloadtest::Raw("b", "<InstallPath>", "")}),
               1)},
        {"false block magic in every block", Bzip2(SpellingInEveryBlock(kBlockMagic, 250000), 1),
         true},
        {"false end marker in every block", Bzip2(SpellingInEveryBlock(0x177245385090, 250000), 1)},
    };
}

TEST(CheckBzip2Blocks, GoodStreamsAreProvenByTheirBlocks) {
    for (const auto& s : GoodStreams()) {
        for (unsigned workers : {1u, 2u, 8u}) {
            std::vector<uint64_t> consumed;
            EXPECT_EQ(mw::CheckBzip2Blocks(s.compressed.data(), s.compressed.size(), workers,
                                           [&](uint64_t at) { consumed.push_back(at); }),
                      mw::BlockCheck::Intact)
                << s.what << ", " << workers;
            // Given back in order, up to the end marker.
            EXPECT_TRUE(std::is_sorted(consumed.begin(), consumed.end())) << s.what;
            ASSERT_FALSE(consumed.empty()) << s.what;
            EXPECT_GE(consumed.back() + 11, s.compressed.size()) << s.what;
        }
        EXPECT_EQ(ExpectSameVerify(s.compressed, s.what), "true");
    }
}

// Given a copy function, the check reads the stream only through it (no
// bytes at all are given here): a mapped payload is then read from its file
// and none of it is mapped in. The answers are those of the bytes in place.
TEST(CheckBzip2Blocks, ReadsOnlyThroughTheCopyWhenGivenOne) {
    auto through = [](const std::string& stream, unsigned workers) {
        return mw::CheckBzip2Blocks(nullptr, stream.size(), workers, {},
                                    [&stream](uint64_t offset, std::size_t n, char* to) {
                                        EXPECT_LE(offset, stream.size());
                                        EXPECT_LE(n, stream.size() - offset);
                                        std::memcpy(to, stream.data() + offset, n);
                                    });
    };
    for (const auto& s : GoodStreams()) {
        for (unsigned workers : {1u, 2u, 8u})
            EXPECT_EQ(through(s.compressed, workers), mw::BlockCheck::Intact)
                << s.what << ", " << workers;
        if (!s.damage) continue;
        for (const auto& [what, damaged] : payloadtest::DamagedCopies(s.compressed)) {
            EXPECT_EQ(through(damaged, 2),
                      mw::CheckBzip2Blocks(damaged.data(), damaged.size(), 2))
                << s.what << ", " << what;
        }
    }
}

TEST(CheckBzip2Blocks, PlantedMagicsReallyLieInsideBlocks) {
    // The fixture above is only worth something if the magic is there.
    const std::string s = Bzip2(SpellingInEveryBlock(kBlockMagic, 250000), 1);
    const auto found = mw::FindBlockMagics(s.data(), s.size(), 0, uint64_t(s.size()) * 8);
    ASSERT_GE(found.size(), 6u);
    ASSERT_EQ(found.size() % 2, 0u);
    for (std::size_t i = 0; i < found.size(); i += 2) EXPECT_EQ(found[i + 1] - found[i], 121u);
}

TEST(CheckBzip2Blocks, DamagedStreamsGiveTheSequentialResult) {
    for (const auto& s : GoodStreams()) {
        if (!s.damage) continue;
        for (const auto& [what, damaged] : payloadtest::DamagedCopies(s.compressed)) {
            const std::string outcome = ExpectSameVerify(damaged, s.what + ", " + what);
            EXPECT_NE(outcome, "true") << s.what << ", " << what;
        }
    }
}

TEST(CheckBzip2Blocks, StreamsThatAreNotWholeAreLeftToTheDecoder) {
    const std::string good = Bzip2(Filler(250000, 6), 1);
    std::string level9 = good;
    level9[3] = '9';  // larger blocks allowed: still the same stream
    std::string level0 = good;
    level0[3] = '0';
    const Stream cases[] = {
        {"empty", ""},
        {"header only", "BZh9"},
        {"no blocks", Bzip2("")},
        {"not bzip2", Filler(5000, 7)},
        {"level digit 0", level0},
        {"larger block size announced", level9},
    };
    for (const auto& c : cases) ExpectSameVerify(c.compressed, c.what);
    EXPECT_EQ(ExpectSameVerify(level9, "level 9"), "true");
}

TEST(CheckBzip2Blocks, FuzzCorpusGivesTheSequentialResult) {
    namespace fs = std::filesystem;
    std::size_t compressed = 0;
    for (const auto& entry :
         fs::directory_iterator(fs::path(MW_SOURCE_DIR) / "tests/fuzz/corpus/payload")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        // Byte 1 bit 2 marks a compressed input; the others are tried as one too.
        if (bytes.size() < 2) continue;
        if (bytes[1] & 4) ++compressed;
        ExpectSameVerify(bytes.substr(2), entry.path().filename().string());
    }
    EXPECT_GT(compressed, 0u);
}

TEST(VerifyWorkers, ForcedByTheEnvironmentElseOnePerUsableProcessor) {
    mwtest::EnvGuard env;
    env.Set("MW_VERIFY_THREADS", "3");
    EXPECT_EQ(mw::VerifyWorkers(), 3u);
    env.Set("MW_VERIFY_THREADS", "1");
    EXPECT_EQ(mw::VerifyWorkers(), 1u);
    env.Set("MW_VERIFY_THREADS", std::nullopt);
    const unsigned byDefault = mw::VerifyWorkers();
    EXPECT_GE(byDefault, 1u);
    EXPECT_LE(byDefault, mw::platform::UsableProcessors());
    for (const char* bad : {"0", "two", "", "-1", "2x"}) {
        env.Set("MW_VERIFY_THREADS", bad);
        EXPECT_EQ(mw::VerifyWorkers(), byDefault) << bad;
    }
}

}  // namespace
