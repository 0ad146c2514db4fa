#include "platform/trusted_path.hpp"

#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/acl_handles.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;

// A private folder in /tmp: the build tree may belong to another user than
// the one running the tests, and this test is about who owns the folders.
class TrustedPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "giving files to other users needs root";
        char templ[] = "/tmp/mw-trust-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        base = templ;
    }
    void TearDown() override {
        if (!base.empty()) fs::remove_all(base);
    }
    std::string base;
};

TEST_F(TrustedPathTest, WhoCouldHaveWrittenTheFileOrAFolderAboveIt) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> arrange;  // gets the case's folder
        std::string file;                                 // relative to it
        bool trusted;
    };
    auto file = [](const std::string& p) { mwtest::WriteFile(p, "log"); };
    const Case cases[] = {
        {"root's file in root's folders",
         [&](const std::string& d) {
             fs::create_directories(d + "/a");
             file(d + "/a/log");
         },
         "a/log", true},
        {"file of another user",
         [&](const std::string& d) {
             file(d + "/log");
             ASSERT_EQ(chown((d + "/log").c_str(), 1234, 0), 0);
         },
         "log", false},
        {"file writable by its group",
         [&](const std::string& d) {
             file(d + "/log");
             ASSERT_EQ(chmod((d + "/log").c_str(), 0664), 0);
         },
         "log", false},
        {"file writable by all",
         [&](const std::string& d) {
             file(d + "/log");
             ASSERT_EQ(chmod((d + "/log").c_str(), 0646), 0);
         },
         "log", false},
        {"file another user may write through its access list",
         [&](const std::string& d) {
             file(d + "/log");
             const mw::platform::AclHandle acl(
                 acl_from_text("u::rw-,u:1234:rw-,g::r--,m::rw-,o::r--"));
             ASSERT_TRUE(acl);
             ASSERT_EQ(acl_set_file((d + "/log").c_str(), ACL_TYPE_ACCESS, acl.get()), 0);
         },
         "log", false},
        {"folder above belongs to another user",
         [&](const std::string& d) {
             fs::create_directories(d + "/u/inner");
             file(d + "/u/inner/log");
             ASSERT_EQ(chown((d + "/u").c_str(), 1234, 1234), 0);
         },
         "u/inner/log", false},
        {"folder above writable by all",
         [&](const std::string& d) {
             fs::create_directories(d + "/w/inner");
             file(d + "/w/inner/log");
             ASSERT_EQ(chmod((d + "/w").c_str(), 0777), 0);
         },
         "w/inner/log", false},
        {"sticky folder holding root's folder",
         [&](const std::string& d) {
             fs::create_directories(d + "/s/inner");
             file(d + "/s/inner/log");
             ASSERT_EQ(chmod((d + "/s").c_str(), 01777), 0);
         },
         "s/inner/log", true},
        {"sticky folder holding another user's folder",
         [&](const std::string& d) {
             fs::create_directories(d + "/s/inner");
             file(d + "/s/inner/log");
             ASSERT_EQ(chmod((d + "/s").c_str(), 01777), 0);
             ASSERT_EQ(chown((d + "/s/inner").c_str(), 1234, 1234), 0);
         },
         "s/inner/log", false},
        {"root's link to root's file",
         [&](const std::string& d) {
             fs::create_directories(d + "/real");
             file(d + "/real/log");
             fs::create_directory_symlink(d + "/real", d + "/link");
         },
         "link/log", true},
        {"link owned by another user",
         [&](const std::string& d) {
             fs::create_directories(d + "/real");
             file(d + "/real/log");
             fs::create_directory_symlink("real", d + "/link");
             ASSERT_EQ(lchown((d + "/link").c_str(), 1234, 1234), 0);
         },
         "link/log", false},
        {"root's link into a folder others may write",
         [&](const std::string& d) {
             fs::create_directories(d + "/open/x");
             file(d + "/open/x/log");
             ASSERT_EQ(chmod((d + "/open").c_str(), 0777), 0);
             fs::create_symlink(d + "/open/x/log", d + "/log");
         },
         "log", false},
        {"a folder is no log", [&](const std::string& d) { fs::create_directories(d + "/log"); },
         "log", false},
        {"nothing there", [](const std::string&) {}, "log", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = base + "/" + std::to_string(n++);
        fs::create_directories(dir);
        c.arrange(dir);
        EXPECT_EQ(mw::platform::OnlyAdministratorCouldWrite(dir + "/" + c.file), c.trusted);
    }
    EXPECT_FALSE(mw::platform::OnlyAdministratorCouldWrite("relative/log"));
    EXPECT_FALSE(mw::platform::OnlyAdministratorCouldWrite(""));
}

TEST_F(TrustedPathTest, FoldersRootWorksInMustBeRootsAlone) {
    struct Case {
        const char* name;
        mode_t mode;
        uid_t owner;
        bool trusted;        // as a folder root writes in
        bool trustedSticky;  // when a sticky folder open to all counts
    };
    const Case cases[] = {
        {"root's folder", 0755, 0, true, true},
        {"open to all", 0777, 0, false, false},
        {"open to its group", 0775, 0, false, false},
        {"root's sticky folder open to all", 01777, 0, false, true},
        {"another user's folder", 0755, 1234, false, false},
        {"another user's sticky folder", 01777, 1234, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = base + "/" + std::to_string(n++);
        fs::create_directories(dir + "/inner");
        ASSERT_EQ(chmod(dir.c_str(), c.mode), 0);
        ASSERT_EQ(chown(dir.c_str(), c.owner, 0), 0);
        EXPECT_EQ(mw::platform::OnlyAdministratorCouldChange(dir), c.trusted);
        EXPECT_EQ(mw::platform::OnlyAdministratorCouldChange(dir, true), c.trustedSticky);
        // Whatever the folder, one below it is only as safe as the way to it.
        EXPECT_EQ(mw::platform::OnlyAdministratorCouldChange(dir + "/inner"),
                  c.owner == 0 && ((c.mode & 022) == 0 || (c.mode & 01000) != 0));
    }
    EXPECT_TRUE(mw::platform::OnlyAdministratorCouldChange("/"));
    mwtest::WriteFile(base + "/file", "x");
    EXPECT_FALSE(mw::platform::OnlyAdministratorCouldChange(base + "/file"));
    EXPECT_FALSE(mw::platform::OnlyAdministratorCouldChange(base + "/missing"));
}

}  // namespace
