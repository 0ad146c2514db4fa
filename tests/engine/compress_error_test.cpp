#include "engine/compress_error.hpp"

#include <gtest/gtest.h>

#include <future>
#include <ios>

namespace {

TEST(CompressError, CategoryAndMessages) {
    EXPECT_STREQ(mw::CompressCategory().name(), "compress");
    const std::pair<int, const char*> cases[] = {
        {3, "invalid checksum"}, {4, "unknown error"}, {5, "interrupted"},   {6, "bzip2 error"},
        {7, "unexpected error"}, {0, "unknown error"}, {8, "unknown error"}, {-1, "unknown error"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(std::error_code(value, mw::CompressCategory()).message(), text) << value;
    const std::error_code code = mw::CompressError::Interrupted;
    EXPECT_EQ(code.value(), 5);
    EXPECT_EQ(&code.category(), &mw::CompressCategory());
}

TEST(CompressError, CodeTextByCategory) {
    const std::pair<std::error_code, const char*> cases[] = {
        {{13, std::system_category()}, "1:0000000D"},
        {{28, std::system_category()}, "1:0000001C"},
        {{-2147024891, std::system_category()}, "1:80070005"},
        {{2, std::generic_category()}, "2:00000002"},
        {mw::CompressError::InvalidChecksum, "3"},
        {mw::CompressError::Bzip2Error, "6"},
        {{42, mw::CompressCategory()}, "42"},
        {std::io_errc::stream, "7"},
        {std::future_errc::no_state, "7"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(mw::FailureCodeText(code), text) << code.message();
}

}  // namespace
