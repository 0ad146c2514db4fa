#include "engine/crc32.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file_system.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/test_env.hpp"

namespace {

struct CrcCase {
    std::string data;
    uint32_t crc;
};

TEST(Crc32, KnownValues) {
    // Reference values of the IEEE 802.3 / zlib CRC-32.
    const CrcCase cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(1, '\0'), 0xD202EF8Du},
        {std::string(4, '\xff'), 0xFFFFFFFFu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mw::Crc32Of(c.data.data(), c.data.size()), c.crc) << c.data;
}

TEST(Crc32, PiecewiseEqualsWhole) {
    std::string data;
    for (int i = 0; i < 10000; ++i) data += static_cast<char>(i * 7919 >> 3);
    const uint32_t whole = mw::Crc32Of(data.data(), data.size());
    for (std::size_t split : {0ul, 1ul, 4095ul, 4096ul, 4097ul, 9999ul}) {
        mw::Crc32 crc;
        crc.Update(data.data(), split);
        crc.Update(data.data() + split, data.size() - split);
        EXPECT_EQ(crc.Value(), whole) << split;
    }
}

TEST(FileCrc32, MatchesContentAcrossBlockBoundaries) {
    mwtest::ScratchDir dir;
    for (std::size_t size : {0ul, 1ul, 4095ul, 4096ul, 4097ul, 3 * 4096ul + 17}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 + size);
        const std::string path = dir / ("f" + std::to_string(size));
        mwtest::WriteFile(path, content);
        EXPECT_EQ(mw::FileCrc32(path), mw::Crc32Of(content.data(), content.size())) << size;
    }
}

TEST(FileCrc32, MissingFileNamesFileAndCarriesSystemError) {
    mwtest::ScratchDir dir;
    const std::string path = dir / "missing";
    try {
        mw::FileCrc32(path);
        FAIL() << "no error";
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_EQ(e.path1().string(), path);
        EXPECT_EQ(e.code(), std::error_code(ENOENT, std::system_category()));
    }
}

TEST(FileCrc32, ReadFailureCarriesThatCallsError) {
    mwtest::ScratchDir dir;
    const std::string path = dir / "f";
    mwtest::WriteFile(path, std::string(10000, 'x'));
    auto real = mw::platform::MakeRealFileSystem();
    mw::platform::FaultyFileSystem faulty(*real);
    const mw::platform::ScopedForTesting files(&mw::platform::SetFilesForTesting, &faulty);
    faulty.FailAt(3, EIO);  // open, first read, second read
    errno = EACCES;         // left over from something unrelated
    try {
        mw::FileCrc32(path);
        ADD_FAILURE() << "no error";
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_EQ(e.path1().string(), path);
        EXPECT_EQ(e.code(), std::error_code(EIO, std::system_category()));
        EXPECT_EQ(faulty.LastFailed(), "Read");
    }
}

}  // namespace
