// Privileges as capabilities and access rights as POSIX ACL entries.
#include "journal/security.hpp"

#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/access_control.hpp"
#include "platform/acl_handles.hpp"
#include "support/test_env.hpp"

namespace mw {
namespace {

namespace fs = std::filesystem;

// The effective capability set as the kernel reports it.
uint64_t CapEff() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("CapEff:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    return ~0ull;
}

constexpr uint64_t Bit(int cap) {
    return uint64_t(1) << cap;
}

// Runs `body` in a child process, so this process keeps its capabilities;
// the exit code is the number of the first failed check.
int InChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Sets `flag` of the given capabilities in this process.
bool SetCaps(std::initializer_list<cap_value_t> caps, cap_flag_t flag, cap_flag_value_t value) {
    const mw::platform::CapsHandle c(cap_get_proc());
    std::vector<cap_value_t> list(caps);
    return c &&
           cap_set_flag(c.get(), flag, static_cast<int>(list.size()), list.data(), value) == 0 &&
           cap_set_proc(c.get()) == 0;
}

bool Permitted(cap_value_t cap) {
    const mw::platform::CapsHandle c(cap_get_proc());
    cap_flag_value_t v = CAP_CLEAR;
    return c && cap_get_flag(c.get(), cap, CAP_PERMITTED, &v) == 0 && v == CAP_SET;
}

TEST(EnablePrivilege, RaisesAndLowersTheCapabilitiesOfThePrivilege) {
    if (!Permitted(CAP_DAC_READ_SEARCH) || !Permitted(CAP_DAC_OVERRIDE) || !Permitted(CAP_FOWNER))
        GTEST_SKIP() << "the capabilities are not permitted to this process";
    int rc = InChild([] {
        if (!SetCaps({CAP_DAC_READ_SEARCH, CAP_DAC_OVERRIDE, CAP_FOWNER}, CAP_EFFECTIVE, CAP_CLEAR))
            return 1;
        const uint64_t start = CapEff();
        if (start & (Bit(CAP_DAC_READ_SEARCH) | Bit(CAP_DAC_OVERRIDE) | Bit(CAP_FOWNER))) return 2;
        if (!EnablePrivilege("SeBackupPrivilege", true)) return 3;
        if (CapEff() != (start | Bit(CAP_DAC_READ_SEARCH))) return 4;
        if (!EnablePrivilege("SeBackupPrivilege", true)) return 5;  // already on: still true
        if (!EnablePrivilege("SeBackupPrivilege", false)) return 6;
        if (CapEff() != start) return 7;  // as it was before
        if (!EnablePrivilege("SeRestorePrivilege", true)) return 8;
        if (CapEff() != (start | Bit(CAP_DAC_OVERRIDE) | Bit(CAP_FOWNER))) return 9;
        if (!EnablePrivilege("SeRestorePrivilege", false)) return 10;
        if (CapEff() != start) return 11;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(EnablePrivilege, PrivilegeEnabledTellsTheEffectiveState) {
    if (!Permitted(CAP_DAC_READ_SEARCH) || !Permitted(CAP_DAC_OVERRIDE) || !Permitted(CAP_FOWNER))
        GTEST_SKIP() << "the capabilities are not permitted to this process";
    int rc = InChild([] {
        if (!SetCaps({CAP_DAC_READ_SEARCH, CAP_DAC_OVERRIDE, CAP_FOWNER}, CAP_EFFECTIVE, CAP_CLEAR))
            return 1;
        if (PrivilegeEnabled("SeBackupPrivilege") || PrivilegeEnabled("SeRestorePrivilege"))
            return 2;
        if (!EnablePrivilege("SeBackupPrivilege", true)) return 3;
        if (!PrivilegeEnabled("SeBackupPrivilege") || PrivilegeEnabled("SeRestorePrivilege"))
            return 4;
        // Restore counts as enabled only with both of its capabilities.
        if (!SetCaps({CAP_DAC_OVERRIDE}, CAP_EFFECTIVE, CAP_SET)) return 5;
        if (PrivilegeEnabled("SeRestorePrivilege")) return 6;
        if (!SetCaps({CAP_FOWNER}, CAP_EFFECTIVE, CAP_SET)) return 7;
        if (!PrivilegeEnabled("SeRestorePrivilege")) return 8;
        if (PrivilegeEnabled("SeShutdownPrivilege") || PrivilegeEnabled("")) return 9;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(EnablePrivilege, UnknownOrNotPermittedChangesNothing) {
    if (!Permitted(CAP_DAC_OVERRIDE) || !Permitted(CAP_FOWNER))
        GTEST_SKIP() << "the capabilities are not permitted to this process";
    int rc = InChild([] {
        const uint64_t start = CapEff();
        for (const char* name : {"SeShutdownPrivilege", "", "SeBackup", "cap_dac_override"})
            if (EnablePrivilege(name, true) || EnablePrivilege(name, false)) return 1;
        if (CapEff() != start) return 2;
        // Restore needs two capabilities: with one of them not permitted the
        // other is left as it was, in both directions.
        if (!SetCaps({CAP_DAC_OVERRIDE}, CAP_EFFECTIVE, CAP_CLEAR)) return 3;
        if (!SetCaps({CAP_FOWNER}, CAP_EFFECTIVE, CAP_CLEAR)) return 4;
        if (!SetCaps({CAP_FOWNER}, CAP_PERMITTED, CAP_CLEAR)) return 5;
        const uint64_t before = CapEff();
        if (EnablePrivilege("SeRestorePrivilege", true)) return 6;
        if (CapEff() != before) return 7;
        if (!SetCaps({CAP_DAC_OVERRIDE}, CAP_EFFECTIVE, CAP_SET)) return 8;
        const uint64_t raised = CapEff();
        if (EnablePrivilege("SeRestorePrivilege", false)) return 9;
        if (CapEff() != raised) return 10;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(SecurityId, WellKnownGroupsOnLinux) {
    SecurityId everyone(SecurityId::Everyone), admins(SecurityId::Administrators),
        users(SecurityId::Users), bad(3), negative(-1);
    EXPECT_TRUE(everyone.IsValid() && admins.IsValid() && users.IsValid());
    EXPECT_FALSE(bad.IsValid());
    EXPECT_FALSE(negative.IsValid());
    EXPECT_TRUE(users.IsOtherClass());
    EXPECT_TRUE(everyone.IsOtherClass());
    EXPECT_FALSE(admins.IsOtherClass());
    EXPECT_TRUE(admins.Contains(0));
    EXPECT_FALSE(admins.Contains(1000));
    EXPECT_TRUE(users.Contains(1000));
    EXPECT_FALSE(bad.Contains(0));
    EXPECT_EQ(ProcessIsMember(admins), geteuid() == 0);
    EXPECT_TRUE(users == SecurityId(2));
    EXPECT_FALSE(users == admins);
    EXPECT_FALSE(bad == SecurityId(3));
}

TEST(PermissionsOfMask, TheDesignsTwoValuesAndGenericRights) {
    struct Case {
        uint32_t mask;
        unsigned perms;
    } cases[] = {
        {access::FileAllAccess, 7},
        {access::FileReadWriteDelete, 6},
        {0, 0},
        {0x1, 4},
        {0x4, 2},
        {0x20, 1},
        {0x10000000, 7},
        {0x80000000, 4},
        {0x40000000, 2},
        {0x20000000, 1},
        {0x00010000, 0},  // DELETE alone: governed by the folder
    };
    for (const auto& c : cases) EXPECT_EQ(PermissionsOfMask(c.mask), c.perms) << std::hex << c.mask;
}

std::string AclText(const std::string& path, acl_type_t type) {
    const mw::platform::AclHandle acl(acl_get_file(path.c_str(), type));
    if (!acl) return "<error>";
    const mw::platform::AclText text(acl_to_any_text(acl.get(), nullptr, ',', TEXT_NUMERIC_IDS));
    return text ? text.get() : "<error>";
}

void SetAcl(const std::string& path, acl_type_t type, const char* text) {
    const mw::platform::AclHandle acl(acl_from_text(text));
    ASSERT_TRUE(acl) << text;
    ASSERT_EQ(acl_set_file(path.c_str(), type, acl.get()), 0) << text;
}

TEST(GrantAccess, AclsBeforeAndAfter) {
    struct Case {
        const char* name;
        bool folder;
        mode_t mode;
        const char* access;      // nullptr: the mode's ACL
        const char* defaultAcl;  // nullptr: none
        uint32_t mask;
        uint8_t flags;
        const char* wantAccess;
        const char* wantDefault;
    } cases[] = {
        {"file values on a plain file", false, 0644, nullptr, nullptr, access::FileReadWriteDelete,
         0, "user::rw-,group::r--,other::rw-", ""},
        {"earlier other entry replaced, named entries and mask stay", false, 0640,
         "u::rw-,u:65534:r-x,g::r--,m::r--,o::rwx", nullptr, access::FileReadWriteDelete, 0,
         "user::rw-,user:65534:r-x,group::r--,mask::r--,other::rw-", ""},
        {"folder values create a default ACL", true, 0750, nullptr, nullptr, access::FileAllAccess,
         3, "user::rwx,group::r-x,other::rwx", "user::rwx,group::r-x,other::rwx"},
        {"folder values keep an existing default", true, 0755, nullptr,
         "u::rwx,u:65534:rwx,g::---,m::rwx,o::---", access::FileAllAccess, 3,
         "user::rwx,group::r-x,other::rwx",
         "user::rwx,user:65534:rwx,group::---,mask::rwx,other::rwx"},
        {"one inheritance flag is enough", true, 0700, nullptr, nullptr, access::FileAllAccess, 2,
         "user::rwx,group::---,other::rwx", "user::rwx,group::---,other::rwx"},
        {"folder without inheritance gets no default", true, 0755, nullptr, nullptr,
         access::FileAllAccess, 0, "user::rwx,group::r-x,other::rwx", ""},
        {"inheritance flags mean nothing to a file", false, 0600, nullptr, nullptr,
         access::FileAllAccess, 3, "user::rw-,group::---,other::rwx", ""},
    };
    mwtest::ScratchDir dir;
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / ("t" + std::to_string(i++));
        if (c.folder)
            fs::create_directory(path);
        else
            mwtest::WriteFile(path, "x");
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        if (c.access) SetAcl(path, ACL_TYPE_ACCESS, c.access);
        if (c.defaultAcl) SetAcl(path, ACL_TYPE_DEFAULT, c.defaultAcl);
        EXPECT_TRUE(GrantAccess(path, c.mask, c.flags));
        EXPECT_EQ(AclText(path, ACL_TYPE_ACCESS), c.wantAccess);
        if (c.folder) {
            EXPECT_EQ(AclText(path, ACL_TYPE_DEFAULT), c.wantDefault);
        }
    }
}

TEST(GrantAccess, FilesAndFoldersCreatedLaterInheritFullAccess) {
    mwtest::ScratchDir dir;
    std::string shared = dir / "shared";
    fs::create_directory(shared);
    chmod(shared.c_str(), 0755);
    ASSERT_TRUE(GrantAccess(shared, access::FileAllAccess, 3));
    int fd = open((shared + "/new.dat").c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(mkdir((shared + "/sub").c_str(), 0777), 0);
    struct stat st;
    ASSERT_EQ(stat((shared + "/new.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07, 06u);  // the creator's umask does not apply
    ASSERT_EQ(stat((shared + "/sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07, 07u);
    EXPECT_EQ(AclText(shared + "/sub", ACL_TYPE_DEFAULT), "user::rwx,group::r-x,other::rwx");
    // Granting twice is the same as granting once.
    ASSERT_TRUE(GrantAccess(shared, access::FileAllAccess, 3));
    EXPECT_EQ(AclText(shared, ACL_TYPE_ACCESS), "user::rwx,group::r-x,other::rwx");
}

TEST(GrantAccess, RefusesWhatItMustNotTouch) {
    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "victim", "x");
    chmod((dir / "victim").c_str(), 0600);
    fs::create_symlink(dir / "victim", dir / "link");
    fs::create_directory(dir / "target");
    fs::create_directory(dir / "open");
    chmod((dir / "open").c_str(), 0777);
    fs::create_directory_symlink(dir / "target", dir / "open/via");
    mwtest::WriteFile(dir / "target/f", "x");
    chmod((dir / "target/f").c_str(), 0600);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

    EXPECT_FALSE(GrantAccess(dir / "link", access::FileAllAccess, 3));
    EXPECT_FALSE(GrantAccess(dir / "missing", access::FileAllAccess, 3));
    EXPECT_FALSE(GrantAccess(dir / "open/via/f", access::FileAllAccess, 0));
    EXPECT_FALSE(GrantAccess(dir / "pipe", access::FileAllAccess, 0));
    EXPECT_FALSE(GrantAccess("relative", access::FileAllAccess, 0));
    EXPECT_FALSE(GrantAccess(dir / "target/../victim", access::FileAllAccess, 0));
    // A file system without ACLs.
    EXPECT_FALSE(GrantAccess("/proc/version", access::FileReadWriteDelete, 0));
    EXPECT_EQ(AclText(dir / "victim", ACL_TYPE_ACCESS), "user::rw-,group::---,other::---");
    EXPECT_EQ(AclText(dir / "target/f", ACL_TYPE_ACCESS), "user::rw-,group::---,other::---");
}

TEST(GrantAccess, OnAnOpenDescriptor) {
    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "f", "x");
    chmod((dir / "f").c_str(), 0600);
    int fd = open((dir / "f").c_str(), O_PATH | O_NOFOLLOW);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(platform::GrantOthersOnDescriptor(
        fd, PermissionsOfMask(access::FileReadWriteDelete), false));
    close(fd);
    EXPECT_EQ(AclText(dir / "f", ACL_TYPE_ACCESS), "user::rw-,group::---,other::rw-");
    fd = open((dir / "f").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(platform::GrantOthersOnDescriptor(fd, 0, false));
    close(fd);
    EXPECT_EQ(AclText(dir / "f", ACL_TYPE_ACCESS), "user::rw-,group::---,other::---");
    EXPECT_TRUE(platform::GrantOthersOnDescriptor(-1, 7, true));
}

// In a folder other users can write, a name may have been swapped for a hard
// link to someone else's file or for an object of another user: the grant is
// refused and the object keeps its ACL.
TEST(GrantAccess, RefusesASecondNameAndAnotherUsersObject) {
    if (geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
    mwtest::ScratchDir dir;
    chmod(dir.path().c_str(), 0777);
    mwtest::WriteFile(dir / "secret", "x");
    chmod((dir / "secret").c_str(), 0600);
    ASSERT_EQ(link((dir / "secret").c_str(), (dir / "planted").c_str()), 0);
    mwtest::WriteFile(dir / "theirs", "x");
    chmod((dir / "theirs").c_str(), 0600);
    ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
    fs::create_directory(dir / "their-folder");
    chmod((dir / "their-folder").c_str(), 0700);
    ASSERT_EQ(chown((dir / "their-folder").c_str(), 65534, 65534), 0);

    EXPECT_FALSE(GrantAccess(dir / "planted", access::FileReadWriteDelete, 0));
    EXPECT_FALSE(GrantAccess(dir / "theirs", access::FileReadWriteDelete, 0));
    EXPECT_FALSE(GrantAccess(dir / "their-folder", access::FileAllAccess, 3));
    EXPECT_EQ(AclText(dir / "secret", ACL_TYPE_ACCESS), "user::rw-,group::---,other::---");
    EXPECT_EQ(AclText(dir / "theirs", ACL_TYPE_ACCESS), "user::rw-,group::---,other::---");
    EXPECT_EQ(AclText(dir / "their-folder", ACL_TYPE_ACCESS), "user::rwx,group::---,other::---");
}

TEST(GrantAccess, PutsTheAccessListBackWhenTheDefaultListCannotBeStored) {
    mwtest::ScratchDir dir;
    const std::string shared = dir / "shared";
    fs::create_directory(shared);
    chmod(shared.c_str(), 0750);
    std::vector<bool> stores;
    platform::ScopedAclStoreHookForTesting hook([&](bool defaultAcl) -> std::error_code {
        stores.push_back(defaultAcl);
        return defaultAcl ? std::make_error_code(std::errc::no_space_on_device) : std::error_code();
    });
    EXPECT_FALSE(GrantAccess(shared, access::FileAllAccess, 3));
    EXPECT_EQ(stores, (std::vector<bool>{false, true}));  // the access list was stored first
    EXPECT_EQ(AclText(shared, ACL_TYPE_ACCESS), "user::rwx,group::r-x,other::---");
    EXPECT_EQ(AclText(shared, ACL_TYPE_DEFAULT), "");
}

}  // namespace
}  // namespace mw
