#include "platform/memstream.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/mapped_file.hpp"
#include "support/test_env.hpp"

namespace {

TEST(IMemStream, ReadsInPlaceAndSeeks) {
    const std::string bytes = "0123456789";
    mw::imemstream in(bytes.data(), bytes.size());
    EXPECT_EQ(in.data(), bytes.data());  // laid over the bytes, not a copy
    char buf[4] = {};
    in.read(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(in.tellg(), 4);
    in.seekg(-2, std::ios::end);
    EXPECT_EQ(in.get(), '8');
    in.seekg(0);
    EXPECT_EQ(in.get(), '0');
    in.seekg(11);  // past the end
    EXPECT_TRUE(in.fail());
    in.clear();
    in.seekg(0, std::ios::end);
    in.read(buf, 1);
    EXPECT_EQ(in.gcount(), 0);
    EXPECT_TRUE(in.eof());
}

TEST(IMemStream, EmptyAndReset) {
    mw::imemstream in;
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());
    const std::string bytes = "ab";
    in.reset(bytes.data(), bytes.size());
    EXPECT_TRUE(in.good());
    EXPECT_EQ(in.get(), 'a');
}

TEST(MemStream, GrowsAndReadsBackWhatWasWritten) {
    mw::memstream s;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const std::string piece = std::to_string(i) + ",";
        s.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        expected += piece;
        if (i % 1000 == 0) s.put('!'), expected += '!';
    }
    ASSERT_EQ(s.size(), expected.size());
    EXPECT_EQ(std::string(s.data(), s.size()), expected);
    std::string back(expected.size(), '\0');
    s.read(back.data(), static_cast<std::streamsize>(back.size()));
    EXPECT_EQ(back, expected);
    EXPECT_EQ(s.get(), std::char_traits<char>::eof());
}

TEST(MemStream, ReadingFollowsLaterWrites) {
    mw::memstream s;
    s.write("abc", 3);
    char c[3];
    s.read(c, 3);
    EXPECT_EQ(s.get(), std::char_traits<char>::eof());
    s.clear();
    s.write("de", 2);
    EXPECT_EQ(s.get(), 'd');
    s.seekg(1);
    EXPECT_EQ(s.get(), 'b');
    s.seekp(0);
    s.put('X');
    EXPECT_EQ(std::string(s.data(), s.size()), "Xbcde");
}

// Resident kilobytes of the mapping that starts at `start`, from smaps.
long ResidentKb(const char* start) {
    std::ifstream smaps("/proc/self/smaps");
    const auto wanted = reinterpret_cast<uintptr_t>(start);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {
            inside = from == wanted;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            return std::stol(line.substr(4));
        }
    }
    return -1;
}

TEST(MappedFile, MapsContentAndSurvivesRelease) {
    mwtest::ScratchDir dir;
    std::string content(3 * 1024 * 1024 + 5, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13);
    mwtest::WriteFile(dir / "f", content);
    std::error_code ec;
    auto file = mw::platform::MappedFile::Open(dir / "f", ec);
    ASSERT_FALSE(ec);
    ASSERT_EQ(file->size(), content.size());
    EXPECT_EQ(std::string(file->data(), file->size()), content);
    file->Release(0, 2 * 1024 * 1024 + 1);  // dropped pages come back from the file
    EXPECT_EQ(std::string(file->data(), file->size()), content);

    // Copies read the file: the same bytes, and nothing of the mapping comes
    // back in.
    file->Release(0, file->size());
    const long left = ResidentKb(file->data());  // the last page is not a whole one
    ASSERT_GE(left, 0);
    ASSERT_LE(left, 64) << "the pages could not be dropped";
    const std::pair<std::size_t, std::size_t> ranges[] = {
        {0, 1}, {4095, 2}, {1000, 2 * 1024 * 1024}, {content.size() - 7, 7}, {17, 0}};
    for (const auto& [offset, length] : ranges) {
        std::string copy(length, '?');
        file->Copy(offset, length, copy.data());
        EXPECT_EQ(copy, content.substr(offset, length)) << offset;
    }
    EXPECT_EQ(ResidentKb(file->data()), left);

    mwtest::WriteFile(dir / "empty", "");
    auto empty = mw::platform::MappedFile::Open(dir / "empty", ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(empty->size(), 0u);

    for (const std::string& path : {dir / "missing", dir.path()}) {
        EXPECT_EQ(mw::platform::MappedFile::Open(path, ec), nullptr);
        EXPECT_EQ(ec.category(), std::system_category()) << path;
        EXPECT_TRUE(ec.value() == ENOENT || ec.value() == EISDIR) << ec.message();
    }
}

}  // namespace
