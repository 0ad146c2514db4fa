#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/process.hpp"
#include "platform/resource_writer.hpp"
#include "platform/resources.hpp"

namespace mw::platform {
namespace {

// Every unit reports a missing file the same way: errno in the system
// category, so that the user sees one form of the same failure.
TEST(OsError, AMissingFileIsTheSameCodeFromEveryUnit) {
    const std::string missing = "/nonexistent-mw-folder/file";
    const std::error_code want(ENOENT, std::system_category());

    std::error_code ec;
    EXPECT_EQ(OpenResources(missing, ec), nullptr);
    EXPECT_EQ(ec, want) << "resources";

    ResourceMap map;
    EXPECT_EQ(ReadResources(missing, map), want) << "resource writer";

    int exitCode = 0;
    EXPECT_EQ(RunProcess({missing}, exitCode), want) << "process";
}

}  // namespace
}  // namespace mw::platform
