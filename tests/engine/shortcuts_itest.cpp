// The launchers the shortcut step writes, checked by the desktop's own
// validator: awkward target paths (spaces, quotes, dollar, backslash,
// percent, non-ASCII) must still give valid entries.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "engine/shortcuts.hpp"
#include "platform/process.hpp"
#include "support/test_env.hpp"

namespace {

TEST(ShortcutFiles, PassTheDesktopValidator) {
    ASSERT_FALSE(mw::platform::FindProgram("desktop-file-validate").empty())
        << "desktop-file-validate is not installed (desktop-file-utils)";
    mwtest::ScratchDir dir;
    const struct {
        std::string target;
        std::string name;
        bool executable;
    } cases[] = {
        {"/opt/Meridan Works/Arbolux 7/Arbolux", "Arbolux 7.13c", true},
        {"/opt/Meridan Works/Arbolux 7/Uninstall", "Uninstall Arbolux", false},
        {"/opt/a \"b\" $c `d` \\e %f/Ärbolux", "Deinstallieren: Ärbolux", false},
        // A backslash is a letter of the name: the link stays in the folder.
        {"/opt/Meridan Works/Arbolux 7/Arbolux", "\\Arbolux", false},
    };
    for (const auto& c : cases) {
        std::string link;
        ASSERT_TRUE(mw::CreateShortcut(c.target, dir.path(), c.name, &link, c.executable));
        EXPECT_EQ(link, dir.path() + "/" + c.name + ".desktop");
        struct stat st;
        ASSERT_EQ(stat(link.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.executable ? 0755u : 0644u);
        mwtest::RunResult r = mwtest::RunProgram("desktop-file-validate", {link});
        EXPECT_EQ(r.code, 0) << mwtest::ReadFile(link) << r.out << r.err;
        EXPECT_EQ(r.out + r.err, "") << mwtest::ReadFile(link);
    }
}

}  // namespace
