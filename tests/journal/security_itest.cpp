// Access rights as the system's own ACL tool reports them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "journal/security.hpp"
#include "support/test_env.hpp"

namespace mw {
namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return "<popen failed>";
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (status != 0) out += "<exit " + std::to_string(status) + ">";
    return out;
}

std::string Getfacl(const std::string& path) {
    return Shell("getfacl --omit-header --numeric --absolute-names '" + path + "' 2>&1");
}

TEST(GrantAccessWithGetfacl, SharedFolderAndDataFile) {
    mwtest::ScratchDir dir;
    const std::string folder = dir / "Meridan Works";
    std::filesystem::create_directory(folder);
    chmod(folder.c_str(), 0755);
    ASSERT_TRUE(GrantAccess(folder, access::FileAllAccess,
                            access::ObjectInherit | access::ContainerInherit));
    EXPECT_EQ(Getfacl(folder),
              "user::rwx\ngroup::r-x\nother::rwx\n"
              "default:user::rwx\ndefault:group::r-x\ndefault:other::rwx\n\n");

    const std::string data = folder + "/settings.dat";
    mwtest::WriteFile(data, "x");
    chmod(data.c_str(), 0644);
    ASSERT_EQ(Shell("setfacl -m u:65534:r-- '" + data + "'"), "");
    ASSERT_TRUE(GrantAccess(data, access::FileReadWriteDelete, 0));
    EXPECT_EQ(Getfacl(data), "user::rw-\nuser:65534:r--\ngroup::r--\nmask::r--\nother::rw-\n\n");
}

}  // namespace
}  // namespace mw
