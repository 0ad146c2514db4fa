// The window dump named by MW_UI_DUMP, appended to by a program that may run
// as root: the name comes from the environment of whoever started it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/ui_dump.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;

TEST(UiDump, RootAppendsOnlyToAPlainFileOfItsOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "the rules protect root";
    mwtest::ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string open = dir / "out", secret = dir / "secret";
    fs::create_directories(open);
    ASSERT_EQ(chmod(open.c_str(), 01777), 0);
    mwtest::WriteFile(secret, "root only");
    fs::create_directories(dir / "theirs");
    ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
    // What nobody could plant: a link to the secret, a file of its own, a
    // link to a folder leading to the secret, and (where hard links are not
    // protected) a second name of the secret.
    fs::create_symlink(secret, open + "/link");
    ASSERT_EQ(lchown((open + "/link").c_str(), 65534, 65534), 0);
    mwtest::WriteFile(open + "/nobodys", "");
    ASSERT_EQ(chown((open + "/nobodys").c_str(), 65534, 65534), 0);
    fs::create_directory_symlink(dir.path(), dir / "theirs/up");
    ASSERT_EQ(lchown((dir / "theirs/up").c_str(), 65534, 65534), 0);
    ASSERT_EQ(link(secret.c_str(), (open + "/hard").c_str()), 0);

    const mw::platform::UiDumpWindow window{"Dialog", "Caption", 1, 2, 3, 4, {}};
    const std::string refused[] = {open + "/link", open + "/nobodys", dir / "theirs/up/secret",
                                   open + "/hard", "relative/dump"};
    for (const std::string& path : refused) {
        ASSERT_EQ(setenv("MW_UI_DUMP", path.c_str(), 1), 0);
        mw::platform::AppendUiDump(window);
    }
    ASSERT_EQ(setenv("MW_UI_DUMP", (open + "/dump").c_str(), 1), 0);
    mw::platform::AppendUiDump(window);
    unsetenv("MW_UI_DUMP");
    EXPECT_EQ(mwtest::ReadFile(secret), "root only");
    EXPECT_EQ(mwtest::ReadFile(open + "/nobodys"), "");
    EXPECT_EQ(mwtest::ReadFile(open + "/dump"), mw::platform::FormatUiDump(window));
}

}  // namespace
