// Reading folders for the folder chooser's tree.
#include "platform/folder_listing.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_env.hpp"

namespace mw::platform {
namespace {

TEST(FolderListing, SubfoldersSortedWithoutHiddenOnesOrFiles) {
    mwtest::ScratchDir dir;
    for (const char* name : {"beta", "Alpha", "gamma/inner", ".hidden"}) {
        std::filesystem::create_directories(dir / name);
    }
    mwtest::WriteFile(dir / "file", "x");
    std::filesystem::create_directory_symlink(dir / "beta", dir / "link");
    std::filesystem::create_symlink(dir / "file", dir / "filelink");
    std::error_code ec;
    EXPECT_EQ(ListSubfolders(dir.path(), ec),
              (std::vector<std::string>{"Alpha", "beta", "gamma", "link"}));
    EXPECT_FALSE(ec);
    EXPECT_TRUE(ListSubfolders(dir / "missing", ec).empty());
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));
    EXPECT_TRUE(IsExistingFolder(dir / "link"));
    EXPECT_FALSE(IsExistingFolder(dir / "file"));
    EXPECT_FALSE(IsExistingFolder(""));
}

}  // namespace
}  // namespace mw::platform
