// The real file system, run directly and through a FaultyFileSystem that
// injects nothing (which must then be transparent), plus the fault injection
// itself and the target-user identity below a scratch home.
#include "platform/file_system.hpp"

#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "platform/acl_handles.hpp"
#include "platform/roots.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/scoped_for_testing.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

namespace fs = std::filesystem;

bool IsRoot() {
    return geteuid() == 0;
}

struct Mode {
    const char* name;
    bool faulty;
};

class FileSystemCases : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        ResetRootsForTesting();
        real_ = MakeRealFileSystem();
        if (GetParam().faulty) {
            faulty_ = std::make_unique<FaultyFileSystem>(*real_);
            fs_ = faulty_.get();
        } else {
            fs_ = real_.get();
        }
        // Let other users through the scratch folder, as a real machine
        // lets them through /opt or /var.
        chmod(dir_.path().c_str(), 0755);
    }
    void TearDown() override { ResetRootsForTesting(); }

    std::string P(const std::string& rel) { return dir_ / rel; }

    std::error_code Write(const std::string& path, const std::string& content) {
        std::error_code ec;
        auto out = fs_->OpenForWrite(path, ec);
        if (ec) return ec;
        if ((ec = out->Write(content.data(), content.size()))) return ec;
        return out->Close();
    }

    std::string Read(const std::string& path, std::error_code& ec) {
        auto in = fs_->OpenForRead(path, ec);
        if (ec) return {};
        std::string s;
        char buf[7];  // small on purpose: several reads per file
        size_t got;
        while (!(ec = in->Read(buf, sizeof buf, got)) && got > 0) s.append(buf, got);
        return s;
    }

    mwtest::ScratchDir dir_;
    std::unique_ptr<FileSystem> real_;
    std::unique_ptr<FaultyFileSystem> faulty_;
    FileSystem* fs_ = nullptr;
};

TEST_P(FileSystemCases, FoldersAndFiles) {
    EXPECT_EQ(fs_->CreateDirectory(P("a")), std::error_code());
    EXPECT_EQ(fs_->CreateDirectory(P("a")), std::errc::file_exists);
    EXPECT_EQ(fs_->CreateDirectory(P("missing/b")), std::errc::no_such_file_or_directory);
    std::error_code ec;
    EXPECT_EQ(fs_->Status(P("a"), ec).type, FileType::Directory);
    EXPECT_FALSE(ec);

    ASSERT_FALSE(Write(P("a/f"), "hello world"));
    FileInfo info = fs_->Status(P("a/f"), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(info.type, FileType::Regular);
    EXPECT_EQ(info.size, 11u);
    EXPECT_EQ(Read(P("a/f"), ec), "hello world");
    EXPECT_FALSE(ec);
    // Writing again truncates.
    ASSERT_FALSE(Write(P("a/f"), "hi"));
    EXPECT_EQ(mwtest::ReadFile(P("a/f")), "hi");

    EXPECT_EQ(fs_->RemoveDirectory(P("a")), std::errc::directory_not_empty);
    EXPECT_EQ(fs_->RemoveFile(P("a")), std::errc::is_a_directory);
    EXPECT_EQ(fs_->RemoveDirectory(P("a/f")), std::errc::not_a_directory);
    EXPECT_FALSE(fs_->RemoveFile(P("a/f")));
    EXPECT_EQ(fs_->Status(P("a/f"), ec).type, FileType::None);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(fs_->RemoveDirectory(P("a")));
    EXPECT_EQ(fs_->RemoveFile(P("a")), std::errc::no_such_file_or_directory);

    // Missing things, and a path through a file, are "nothing there".
    mwtest::WriteFile(P("plain"), "x");
    for (const char* rel : {"nothing", "nothing/below", "plain/below"}) {
        EXPECT_EQ(fs_->Status(P(rel), ec).type, FileType::None) << rel;
        EXPECT_FALSE(ec) << rel;
    }
    EXPECT_EQ(fs_->Status("/", ec).type, FileType::Directory);
    fs::create_directory(P("adir"));
    EXPECT_EQ(fs_->OpenForWrite(P("adir"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::is_a_directory);
    EXPECT_EQ(fs_->OpenForRead(P("nothing"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST_P(FileSystemCases, PathsMustBeAbsoluteAndNormal) {
    fs::create_directories(P("a/b"));
    mwtest::WriteFile(P("a/b/f"), "keep");
    std::error_code ec;
    for (const std::string& bad : {std::string("relative/path"), std::string(""), P("a/../a/b/f"),
                                   P("a/./b/f"), P("a/b/.."), P("a/b/.")}) {
        SCOPED_TRACE(bad);
        fs_->Status(bad, ec);
        EXPECT_EQ(ec, std::errc::invalid_argument);
        EXPECT_EQ(fs_->RemoveFile(bad), std::errc::invalid_argument);
        EXPECT_EQ(fs_->CreateDirectory(bad), std::errc::invalid_argument);
        EXPECT_EQ(fs_->OpenForWrite(bad, ec), nullptr);
        EXPECT_EQ(ec, std::errc::invalid_argument);
    }
    EXPECT_EQ(mwtest::ReadFile(P("a/b/f")), "keep");
    // Repeated and trailing separators are harmless.
    EXPECT_EQ(fs_->Status(dir_.path() + "//a///b/f", ec).type, FileType::Regular);
    EXPECT_EQ(fs_->Status(P("a/b/"), ec).type, FileType::Directory);
}

TEST_P(FileSystemCases, LinkAsLastElementIsNeverFollowed) {
    mwtest::WriteFile(P("victim"), "precious");
    chmod(P("victim").c_str(), 0444);
    fs::create_symlink(P("victim"), P("link"));
    std::error_code ec;

    EXPECT_EQ(fs_->Status(P("link"), ec).type, FileType::Symlink);
    EXPECT_EQ(fs_->OpenForWrite(P("link"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(fs_->OpenForRead(P("link"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::too_many_symbolic_link_levels);
    EXPECT_TRUE(fs_->SetMode(P("link"), 0666));
    EXPECT_TRUE(fs_->CopyMetadata(P("link"), P("victim")));
    std::string unique;
    EXPECT_EQ(fs_->CreateUniqueFile(P("link"), "mw", unique), std::errc::not_a_directory);
    struct stat st;
    ASSERT_EQ(stat(P("victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(mwtest::ReadFile(P("victim")), "precious");

    // Copying or moving onto a link replaces the link, not what it points at.
    mwtest::WriteFile(P("new"), "new content");
    EXPECT_FALSE(fs_->CopyFile(P("new"), P("link")));
    EXPECT_EQ(fs_->Status(P("link"), ec).type, FileType::Regular);
    EXPECT_EQ(mwtest::ReadFile(P("victim")), "precious");
    fs::create_symlink(P("victim"), P("link2"));
    EXPECT_FALSE(fs_->Rename(P("new"), P("link2")));
    EXPECT_EQ(mwtest::ReadFile(P("link2")), "new content");
    // Removing a link removes the link.
    fs::create_symlink(P("victim"), P("link3"));
    EXPECT_FALSE(fs_->RemoveFile(P("link3")));
    EXPECT_EQ(mwtest::ReadFile(P("victim")), "precious");
    // A link to a folder is no folder for RemoveDirectory.
    fs::create_directory(P("d"));
    fs::create_directory_symlink(P("d"), P("dlink"));
    EXPECT_EQ(fs_->RemoveDirectory(P("dlink")), std::errc::not_a_directory);
    EXPECT_TRUE(fs::is_directory(P("d")));
}

TEST_P(FileSystemCases, LinkOnTheWayFollowedOnlyWhenOnlyRootCouldHavePlantedIt) {
    if (!IsRoot()) GTEST_SKIP() << "link ownership needs root";
    fs::create_directories(P("target"));
    mwtest::WriteFile(P("target/f"), "inside");
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t linkOwner;
        bool followed;
    } cases[] = {
        {"root link in root folder", 0755, 0, true},
        {"root link in group-writable folder", 0775, 0, false},
        {"root link in world-writable sticky folder", 01777, 0, false},
        {"other user's link in root folder", 0755, 65534, false},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = P("f" + std::to_string(i++));
        fs::create_directory(folder);
        fs::create_directory_symlink(P("target"), folder + "/via");
        ASSERT_EQ(lchown((folder + "/via").c_str(), c.linkOwner, c.linkOwner), 0);
        ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
        std::error_code ec;
        FileInfo info = fs_->Status(folder + "/via/f", ec);
        std::error_code wec = Write(folder + "/via/g", "written");
        if (c.followed) {
            EXPECT_FALSE(ec);
            EXPECT_EQ(info.type, FileType::Regular);
            EXPECT_FALSE(wec);
            EXPECT_TRUE(fs::exists(P("target/g")));
            fs::remove(P("target/g"));
        } else {
            EXPECT_EQ(ec, std::errc::too_many_symbolic_link_levels);
            EXPECT_EQ(wec, std::errc::too_many_symbolic_link_levels);
            EXPECT_EQ(fs_->CreateDirectory(folder + "/via/sub"),
                      std::errc::too_many_symbolic_link_levels);
            EXPECT_EQ(fs_->RemoveFile(folder + "/via/f"), std::errc::too_many_symbolic_link_levels);
            EXPECT_FALSE(fs::exists(P("target/g")));
            EXPECT_TRUE(fs::exists(P("target/f")));
        }
    }
    // A trusted link whose target climbs with "..", and a loop of links.
    fs::create_directory(P("safe"));
    fs::create_directory_symlink("../target", P("safe/up"));
    fs::create_directory_symlink("loop2", P("safe/loop1"));
    fs::create_directory_symlink("loop1", P("safe/loop2"));
    std::error_code ec;
    EXPECT_EQ(fs_->Status(P("safe/up/f"), ec).type, FileType::Regular);
    EXPECT_FALSE(ec);
    fs_->Status(P("safe/loop1/x"), ec);
    EXPECT_EQ(ec, std::errc::too_many_symbolic_link_levels);
}

TEST_P(FileSystemCases, HardLinkPlantedInSharedFolderIsReplacedNotWrittenThrough) {
    if (!IsRoot()) GTEST_SKIP() << "the rule protects root";
    fs::create_directory(P("shared"));
    chmod(P("shared").c_str(), 0777);
    mwtest::WriteFile(P("secret"), "root only");
    ASSERT_EQ(link(P("secret").c_str(), P("shared/data.txt").c_str()), 0);
    ASSERT_FALSE(Write(P("shared/data.txt"), "new"));
    EXPECT_EQ(mwtest::ReadFile(P("secret")), "root only");
    EXPECT_EQ(mwtest::ReadFile(P("shared/data.txt")), "new");
    // A folder only root can write keeps hard links as they are.
    fs::create_directory(P("own"));
    ASSERT_EQ(link(P("secret").c_str(), P("own/twin").c_str()), 0);
    ASSERT_FALSE(Write(P("own/twin"), "both"));
    EXPECT_EQ(mwtest::ReadFile(P("secret")), "both");
}

// A file of another user's stays theirs to change while root writes it:
// root's content would be theirs to alter, and its program theirs to swap.
TEST_P(FileSystemCases, FileOfAnotherUserIsReplacedNotWrittenInto) {
    if (!IsRoot()) GTEST_SKIP() << "the rule protects root";
    fs::create_directory(P("shared"));
    chmod(P("shared").c_str(), 0777);
    mwtest::WriteFile(P("shared/Arbolux"), "nobody's");
    ASSERT_EQ(chown(P("shared/Arbolux").c_str(), 65534, 65534), 0);
    // nobody keeps a descriptor of its file, to write through it later.
    int theirs = open(P("shared/Arbolux").c_str(), O_WRONLY);
    ASSERT_GE(theirs, 0);
    ASSERT_FALSE(Write(P("shared/Arbolux"), "root's program"));
    ASSERT_EQ(write(theirs, "X", 1), 1);
    close(theirs);
    struct stat st;
    ASSERT_EQ(lstat(P("shared/Arbolux").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(mwtest::ReadFile(P("shared/Arbolux")), "root's program");
}

TEST_P(FileSystemCases, FifoOrFolderIsNoFileToOpen) {
    ASSERT_EQ(mkfifo(P("pipe").c_str(), 0666), 0);
    std::error_code ec;
    EXPECT_EQ(fs_->OpenForWrite(P("pipe"), ec), nullptr);  // does not hang either
    EXPECT_EQ(ec, std::errc::invalid_argument);
    EXPECT_EQ(fs_->OpenForRead(P("pipe"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::invalid_argument);
    EXPECT_EQ(fs_->CopyFile(P("pipe"), P("copy")), std::errc::invalid_argument);
    fs::create_directory(P("dir"));
    EXPECT_EQ(fs_->OpenForRead(P("dir"), ec), nullptr);
    EXPECT_EQ(ec, std::errc::is_a_directory);
    EXPECT_FALSE(fs::exists(P("copy")));
}

TEST_P(FileSystemCases, ReadOnlyFiles) {
    mwtest::WriteFile(P("ro"), "old");
    EXPECT_FALSE(fs_->SetMode(P("ro"), 0444));
    std::error_code ec;
    EXPECT_EQ(fs_->Status(P("ro"), ec).mode, 0444u);
    // Copying keeps the mode; replacing or moving over a read-only file works.
    EXPECT_FALSE(fs_->CopyFile(P("ro"), P("copy")));
    EXPECT_EQ(fs_->Status(P("copy"), ec).mode, 0444u);
    mwtest::WriteFile(P("w"), "replacement");
    EXPECT_FALSE(fs_->CopyFile(P("w"), P("copy")));
    EXPECT_EQ(mwtest::ReadFile(P("copy")), "replacement");
    EXPECT_FALSE(fs_->Rename(P("w"), P("ro")));
    EXPECT_EQ(mwtest::ReadFile(P("ro")), "replacement");
    EXPECT_FALSE(fs_->SetMode(P("ro"), 0644));
    EXPECT_EQ(fs_->Status(P("ro"), ec).mode, 0644u);
    EXPECT_FALSE(fs_->RemoveFile(P("copy")));
}

TEST_P(FileSystemCases, RenameAcrossFileSystemsGivesExdev) {
    char templ[] = "/dev/shm/mw-fs-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string other = templ;
    mwtest::WriteFile(P("f"), "data");
    EXPECT_EQ(fs_->Rename(P("f"), other + "/f"), std::errc::cross_device_link);
    EXPECT_EQ(mwtest::ReadFile(P("f")), "data");
    // Copying across is fine.
    EXPECT_FALSE(fs_->CopyFile(P("f"), other + "/f"));
    EXPECT_EQ(mwtest::ReadFile(other + "/f"), "data");
    EXPECT_FALSE(fs_->Rename(other + "/f", other + "/g"));
    fs::remove_all(other);
}

TEST_P(FileSystemCases, CopyKeepsContentModeOwnerAclAndAttributes) {
    std::string big(300000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 7);
    mwtest::WriteFile(P("src"), big);
    chmod(P("src").c_str(), 0640);
    if (IsRoot()) {
        ASSERT_EQ(chown(P("src").c_str(), 65534, 65534), 0);
    }
    const mw::platform::AclHandle acl(acl_from_text("u::rw-,u:65534:rwx,g::r--,m::rwx,o::---"));
    ASSERT_TRUE(acl);
    ASSERT_EQ(acl_set_file(P("src").c_str(), ACL_TYPE_ACCESS, acl.get()), 0);
    ASSERT_EQ(setxattr(P("src").c_str(), "user.mw.test", "v1", 2, 0), 0);
    mwtest::WriteFile(P("dst"), "old");
    ASSERT_EQ(setxattr(P("dst").c_str(), "user.mw.stale", "s", 1, 0), 0);

    ASSERT_FALSE(fs_->CopyFile(P("src"), P("dst")));
    EXPECT_EQ(mwtest::ReadFile(P("dst")), big);
    struct stat s, d;
    ASSERT_EQ(stat(P("src").c_str(), &s), 0);
    ASSERT_EQ(stat(P("dst").c_str(), &d), 0);
    EXPECT_EQ(d.st_mode, s.st_mode);
    EXPECT_EQ(d.st_uid, s.st_uid);
    EXPECT_EQ(d.st_gid, s.st_gid);
    const mw::platform::AclHandle got(acl_get_file(P("dst").c_str(), ACL_TYPE_ACCESS));
    ASSERT_TRUE(got);
    const mw::platform::AclText text(acl_to_any_text(got.get(), nullptr, ',', 0));
    EXPECT_STREQ(text.get(), "user::rw-,user:nobody:rwx,group::r--,mask::rwx,other::---");
    char value[8] = {};
    EXPECT_EQ(getxattr(P("dst").c_str(), "user.mw.test", value, sizeof value), 2);
    EXPECT_STREQ(value, "v1");
    EXPECT_LT(getxattr(P("dst").c_str(), "user.mw.stale", value, sizeof value), 0);
    // No helper file is left beside the copy.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir_.path())) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 2);

    // A missing source changes nothing.
    EXPECT_EQ(fs_->CopyFile(P("nothing"), P("dst")), std::errc::no_such_file_or_directory);
    EXPECT_EQ(mwtest::ReadFile(P("dst")), big);
}

TEST_P(FileSystemCases, CopyMetadataOfFoldersCarriesDefaultAcl) {
    fs::create_directory(P("from"));
    fs::create_directory(P("to"));
    chmod(P("from").c_str(), 0750);
    const mw::platform::AclHandle def(acl_from_text("u::rwx,g::r-x,o::rwx"));
    ASSERT_TRUE(def);
    ASSERT_EQ(acl_set_file(P("from").c_str(), ACL_TYPE_DEFAULT, def.get()), 0);
    ASSERT_FALSE(fs_->CopyMetadata(P("from"), P("to")));
    struct stat st;
    ASSERT_EQ(stat(P("to").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    mw::platform::AclHandle got(acl_get_file(P("to").c_str(), ACL_TYPE_DEFAULT));
    ASSERT_TRUE(got);
    const mw::platform::AclText text(acl_to_any_text(got.get(), nullptr, ',', 0));
    EXPECT_STREQ(text.get(), "user::rwx,group::r-x,other::rwx");
    // And takes a default ACL away when the source has none.
    fs::create_directory(P("plain"));
    ASSERT_FALSE(fs_->CopyMetadata(P("plain"), P("to")));
    got.Reset(acl_get_file(P("to").c_str(), ACL_TYPE_DEFAULT));
    ASSERT_TRUE(got);
    EXPECT_EQ(acl_entries(got.get()), 0);
}

TEST_P(FileSystemCases, UniqueFilesAndPrivateFolders) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        ASSERT_FALSE(fs_->CreateUniqueFile(dir_.path() + "/", "mw", path));
        EXPECT_EQ(path.rfind(dir_.path() + "/mw", 0), 0u) << path;
        EXPECT_EQ(path.size(), dir_.path().size() + 1 + 2 + 6);
        EXPECT_TRUE(seen.insert(path).second);
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    std::string path;
    EXPECT_EQ(fs_->CreateUniqueFile(P("missing"), "mw", path),
              std::errc::no_such_file_or_directory);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(fs_->CreateUniqueFile(dir_.path(), "a/b", path), std::errc::invalid_argument);

    setenv("TMPDIR", dir_.path().c_str(), 1);
    ResetRootsForTesting();
    std::string a, b;
    ASSERT_FALSE(MakePrivateTempFolder("mwwork", a, *fs_));
    ASSERT_FALSE(MakePrivateTempFolder("mwwork", b, *fs_));
    unsetenv("TMPDIR");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir_.path() + "/mwwork", 0), 0u);
    struct stat st;
    ASSERT_EQ(lstat(a.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_P(FileSystemCases, SetOwnerNeverFollowsALink) {
    if (!IsRoot()) GTEST_SKIP() << "changing owners needs root";
    mwtest::WriteFile(P("f"), "x");
    fs::create_symlink(P("f"), P("l"));
    EXPECT_FALSE(fs_->SetOwner(P("l"), 65534, 65534));
    struct stat st;
    ASSERT_EQ(lstat(P("l").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    ASSERT_EQ(stat(P("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}

INSTANTIATE_TEST_SUITE_P(RealAndTransparentDecorator, FileSystemCases,
                         ::testing::Values(Mode{"Real", false}, Mode{"Decorated", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- fault injection -------------------------------------------------------

// A small procedure touching every kind of operation; gives the first error.
std::error_code Procedure(FileSystem& fs, const std::string& dir) {
    std::error_code ec;
    if ((ec = fs.CreateDirectory(dir + "/d"))) return ec;
    auto out = fs.OpenForWrite(dir + "/d/f", ec);
    if (ec) return ec;
    if ((ec = out->Write("ab", 2))) return ec;
    if ((ec = out->Write("cd", 2))) return ec;
    if ((ec = out->Close())) return ec;
    if ((ec = out->Close())) return ec;  // a second close does nothing and is not counted
    auto in = fs.OpenForRead(dir + "/d/f", ec);
    if (ec) return ec;
    char buf[8];
    size_t got;
    if ((ec = in->Read(buf, sizeof buf, got))) return ec;
    fs.Status(dir + "/d/f", ec);
    if (ec) return ec;
    if ((ec = fs.Rename(dir + "/d/f", dir + "/d/g"))) return ec;
    return fs.RemoveFile(dir + "/d/g");
}

TEST(FaultyFileSystem, FailsEachOperationInTurn) {
    auto real = MakeRealFileSystem();
    const char* names[] = {"CreateDirectory", "OpenForWrite", "Write",  "Write",  "Close",
                           "OpenForRead",     "Read",         "Status", "Rename", "RemoveFile"};
    const uint64_t total = std::size(names);
    {
        mwtest::ScratchDir dir;
        FaultyFileSystem faulty(*real);
        ASSERT_FALSE(Procedure(faulty, dir.path()));
        EXPECT_EQ(faulty.Count(), total);
        EXPECT_EQ(faulty.Failures(), 0u);
    }
    for (uint64_t n = 1; n <= total; ++n) {
        mwtest::ScratchDir dir;
        FaultyFileSystem faulty(*real);
        faulty.FailAt(n, n % 2 ? ENOSPC : EIO);
        EXPECT_EQ(Procedure(faulty, dir.path()),
                  std::error_code(n % 2 ? ENOSPC : EIO, std::system_category()))
            << n;
        EXPECT_EQ(faulty.Count(), n);
        EXPECT_EQ(faulty.Failures(), 1u);
        EXPECT_EQ(faulty.LastFailed(), names[n - 1]);
        // The failed operation did not reach the real file system.
        if (n == 1) {
            EXPECT_FALSE(fs::exists(dir / "d"));
        } else if (n == 3) {
            EXPECT_EQ(fs::file_size(dir / "d/f"), 0u);
        } else if (n == 9) {
            EXPECT_TRUE(fs::exists(dir / "d/f"));
        }
    }
}

TEST(FaultyFileSystem, PersistentFaultAndReset) {
    auto real = MakeRealFileSystem();
    mwtest::ScratchDir dir;
    FaultyFileSystem faulty(*real);
    faulty.FailAt(2, ENOSPC, true);
    EXPECT_FALSE(faulty.CreateDirectory(dir / "a"));
    EXPECT_EQ(faulty.CreateDirectory(dir / "b"), std::errc::no_space_on_device);
    EXPECT_EQ(faulty.CreateDirectory(dir / "c"), std::errc::no_space_on_device);
    std::string path;
    EXPECT_TRUE(faulty.CreateUniqueFile(dir.path(), "mw", path));
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(faulty.Failures(), 3u);
    faulty.ClearFault();
    EXPECT_FALSE(faulty.CreateDirectory(dir / "d"));
    faulty.ResetCount();
    EXPECT_EQ(faulty.Count(), 0u);
    faulty.FailAt(1);
    std::error_code ec;
    EXPECT_EQ(faulty.Status(dir / "d", ec).type, FileType::None);
    EXPECT_EQ(ec, std::errc::no_space_on_device);
    EXPECT_FALSE(fs::exists(dir / "b"));
}

TEST(FaultyFileSystem, InstalledAsProcessWideFileSystem) {
    auto real = MakeRealFileSystem();
    FaultyFileSystem faulty(*real);
    std::error_code ec;
    {
        const ScopedForTesting files(&SetFilesForTesting, &faulty);
        Files().Status("/", ec);
    }
    Files().Status("/", ec);
    EXPECT_EQ(faulty.Count(), 1u);
}

// --- the target user's identity -------------------------------------------

// Runs `body` in a child process whose target user is nobody with `home`;
// the child's exit code is the number of the first failed check.
int InChildAsTarget(const std::string& home, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        SetTargetUserForTesting(TargetUser{65534, 65534, "nobody", home});
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A scratch folder that every user can pass through.
class TmpScratch {
public:
    TmpScratch() {
        char templ[] = "/tmp/mw-fs-XXXXXX";
        if (mkdtemp(templ) && chmod(templ, 0755) == 0) path_ = templ;
    }
    ~TmpScratch() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

uid_t OwnerOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Root's private work folders (the journal's backups of root's files) only
// go where no other user could move them away or slip something in instead.
TEST(PrivateTempFolder, RootMakesItOnlyInATemporaryFolderNoOtherUserCanChange) {
    if (!IsRoot()) GTEST_SKIP() << "the rule protects root";
    mwtest::ScratchDir root;
    const std::string tmp = root / "tmp";
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    const char* oldTmp = getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    unsetenv("TMPDIR");
    setenv("MW_ROOT", root.path().c_str(), 1);
    struct Case {
        mode_t mode;
        uid_t owner;
        bool made;
    } cases[] = {{01777, 0, true}, {0755, 0, true}, {0777, 0, false}, {0755, 65534, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.owner));
        ASSERT_EQ(chmod(tmp.c_str(), c.mode), 0);
        ASSERT_EQ(chown(tmp.c_str(), c.owner, c.owner), 0);
        ResetRootsForTesting();
        std::string made;
        const std::error_code ec = MakePrivateTempFolder("mw-", made);
        EXPECT_EQ(!ec, c.made) << ec.message();
        if (!ec) {
            EXPECT_EQ(OwnerOf(made), 0u);
            fs::remove(made);
        }
    }
    unsetenv("MW_ROOT");
    if (oldTmp) setenv("TMPDIR", saved.c_str(), 1);
    ResetRootsForTesting();
}

TEST(TargetUserIdentity, EverythingBelowTheHomeIsTheUsers) {
    if (!IsRoot()) GTEST_SKIP() << "needs root";
    // Below /tmp rather than the build tree: the target user must be able to
    // reach its home, whatever folders the build tree sits in.
    TmpScratch dir;
    ASSERT_FALSE(dir.path().empty());
    std::string home = dir / "home";
    fs::create_directory(home);
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    // Root's own things: a folder in the home the user cannot write, a
    // private folder outside, and a file to copy in.
    fs::create_directory(home + "/rootdir");
    fs::create_directory(dir / "private");
    chmod((dir / "private").c_str(), 0700);
    mwtest::WriteFile(dir / "private/backup", "saved");
    mwtest::WriteFile(dir / "private/other", "a third user's");
    ASSERT_EQ(chown((dir / "private/other").c_str(), 1234, 1234), 0);
    mwtest::WriteFile(dir / "rootfile", "root's");
    fs::create_directory(dir / "outside");
    fs::create_directory_symlink(dir / "outside", home + "/planted");
    ASSERT_EQ(lchown((home + "/planted").c_str(), 65534, 65534), 0);

    int rc = InChildAsTarget(home, [&]() -> int {
        auto fs = MakeRealFileSystem();
        struct stat before;
        if (stat("/proc/self", &before) != 0) return 1;
        if (fs->CreateDirectory(home + "/a/")) return 2;
        if (fs->CreateDirectory(home + "/a/b")) return 3;
        std::error_code ec;
        auto out = fs->OpenForWrite(home + "/a/b/f", ec);
        if (!out || out->Write("x", 1) || out->Close()) return 4;
        if (fs->CopyFile(dir / "rootfile", home + "/a/copied")) return 5;
        // Moving root's backup in from a folder the user cannot enter: root's
        // own item is not handed to the user; another user's is made the
        // user's before it leaves the private folder.
        if (fs->Rename(dir / "private/backup", home + "/a/restored")) return 6;
        if (OwnerOf(home + "/a/restored") != 0) return 16;
        if (fs->Rename(dir / "private/other", home + "/a/other")) return 17;
        if (OwnerOf(home + "/a/other") != 65534) return 18;
        // ...and out again.
        if (fs->Rename(home + "/a/restored", dir / "private/backup")) return 7;
        // Where the user could not write, root does not either.
        if (fs->CreateDirectory(home + "/rootdir/x") != std::errc::permission_denied) return 8;
        out = fs->OpenForWrite(home + "/rootdir/f", ec);
        if (out || ec != std::errc::permission_denied) return 9;
        if (fs->Rename(dir / "rootfile", home + "/rootdir/moved") != std::errc::permission_denied)
            return 10;
        // A link the user planted leads nowhere.
        if (fs->CreateDirectory(home + "/planted/x") != std::errc::too_many_symbolic_link_levels)
            return 11;
        std::string unique;
        if (fs->CreateUniqueFile(home + "/a", "mw", unique)) return 12;
        if (OwnerOf(unique) != 65534) return 13;
        // The process is root again afterwards, with all its capabilities.
        if (setfsuid(static_cast<uid_t>(-1)) != 0 || setfsgid(static_cast<gid_t>(-1)) != 0)
            return 14;
        if (mkdir((home + "/rootdir/byroot").c_str(), 0755) != 0) return 15;
        return 0;
    });
    ASSERT_EQ(rc, 0);
    for (const char* rel : {"a", "a/b", "a/b/f", "a/copied"})
        EXPECT_EQ(OwnerOf(home + "/" + rel), 65534u) << rel;
    EXPECT_EQ(mwtest::ReadFile(dir / "private/backup"), "saved");
    EXPECT_EQ(OwnerOf(dir / "private/backup"), 0u) << "root's item stayed root's in the home";
    EXPECT_EQ(mwtest::ReadFile(home + "/a/copied"), "root's");
    EXPECT_FALSE(fs::exists(home + "/rootdir/x"));
    EXPECT_FALSE(fs::exists(dir / "outside/x"));
    EXPECT_TRUE(fs::exists(dir / "rootfile"));
}

}  // namespace
}  // namespace mw::platform
