// The named mutex and the instance counter between real processes, including
// processes that die by SIGKILL and processes of another user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/locks.hpp"
#include "platform/roots.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

extern char** environ;

namespace mw::platform {
namespace {

using mwtest::HelperProcess;

const std::string kName = "Arbolux7.{5ead623c-dfcd-474d-8e3c-e6978cac039e}";

class LocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Readable by every user, for the cases that drop to nobody.
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
        root_ = dir_ / "root";
        ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
        ::setenv("MW_ROOT", root_.c_str(), 1);
        ResetRootsForTesting();
    }
    void TearDown() override {
        ::unsetenv("MW_ROOT");
        ResetRootsForTesting();
    }

    mwtest::ScratchDir dir_;
    std::string root_;
};

TEST(LockNames, FileNamesAreSafeAndDistinct) {
    struct Case {
        std::string full;
        std::string file;
    } cases[] = {
        {"Global\\Arbolux7.{5ead623c-dfcd-474d-8e3c-e6978cac039e}",
         "Global%5CArbolux7.{5ead623c-dfcd-474d-8e3c-e6978cac039e}"},
        {"Global\\../../etc/passwd", "Global%5C..%2F..%2Fetc%2Fpasswd"},
        {"a%5Cb", "a%255Cb"},  // '%' itself is escaped, so names never collide
        {"a\\b", "a%5Cb"},
        {"\xC3\xA9 x", "%C3%A9%20x"},
        {"", ""},
        {std::string(249, 'a'), std::string(249, 'a')},
        {std::string(250, 'a'), ""},  // with its suffix it would not fit
    };
    for (const auto& c : cases) EXPECT_EQ(LockFileName(c.full), c.file) << c.full;
}

TEST_F(LocksTest, MutexIsExclusiveBetweenProcessesAndFreedByADeath) {
    HelperProcess first({"mutex", kName});
    ASSERT_EQ(first.ReadLine(), "owned");
    {
        HelperProcess second({"mutex", kName});
        EXPECT_EQ(second.ReadLine(), "busy");
    }
    NamedMutex mine(kName, false, true);
    ASSERT_TRUE(mine.valid());
    EXPECT_FALSE(mine.TryAcquire());
    EXPECT_FALSE(mine.owned());

    first.Kill();  // SIGKILL: no destructor runs
    EXPECT_TRUE(mine.TryAcquire());
    EXPECT_TRUE(mine.owned());
    EXPECT_TRUE(mine.TryAcquire());  // taking it again while holding it is fine
    {
        HelperProcess third({"mutex", kName});
        EXPECT_EQ(third.ReadLine(), "busy");
    }
    mine.Release();
    EXPECT_FALSE(mine.owned());
    HelperProcess fourth({"mutex", kName});
    EXPECT_EQ(fourth.ReadLine(), "owned");
}

TEST_F(LocksTest, MutexIsReleasedByItsDestructorAndNamesAreSeparate) {
    {
        NamedMutex held(kName, false, true);
        ASSERT_TRUE(held.TryAcquire());
        HelperProcess other({"mutex", kName + "x"});
        EXPECT_EQ(other.ReadLine(), "owned");
    }
    HelperProcess after({"mutex", kName});
    EXPECT_EQ(after.ReadLine(), "owned");
}

TEST_F(LocksTest, InitialOwnerWaitsForTheHolder) {
    HelperProcess holder({"mutex", kName});
    ASSERT_EQ(holder.ReadLine(), "owned");
    std::atomic<bool> constructed{false};
    std::thread waiter([&] {
        NamedMutex m(kName, true, true);
        EXPECT_TRUE(m.owned());
        constructed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(constructed.load());
    EXPECT_EQ(holder.Wait(), 0);  // closing its input lets it go
    waiter.join();
    EXPECT_TRUE(constructed.load());
}

TEST_F(LocksTest, CounterCountsLiveProcessesOnly) {
    InstanceCounter mine(kName);
    ASSERT_EQ(mine.held(), 1);
    EXPECT_EQ(mine.Count(), 1);
    HelperProcess a({"count", kName});
    HelperProcess b({"count", kName});
    ASSERT_EQ(a.ReadLine(), "counted 1");
    ASSERT_EQ(b.ReadLine(), "counted 1");
    EXPECT_EQ(mine.Count(), 3);
    a.WriteLine("count");
    EXPECT_EQ(a.ReadLine(), "3");

    b.Kill();  // SIGKILL: the kernel takes its unit back
    EXPECT_EQ(mine.Count(), 2);

    EXPECT_EQ(a.Wait(), 0);  // a normal end takes it out too
    EXPECT_EQ(mine.Count(), 1);
}

TEST_F(LocksTest, FailuresGiveNoHandle) {
    // The machine root is a file: nothing can be made below it.
    mwtest::WriteFile(dir_ / "file", "x");
    ::setenv("MW_ROOT", (dir_ / "file").c_str(), 1);
    ResetRootsForTesting();
    if (::geteuid() == 0) {
        NamedMutex m(kName, false, true);
        EXPECT_FALSE(m.valid());
        EXPECT_FALSE(m.TryAcquire());
    }
    // A name too long for a file name.
    ::setenv("MW_ROOT", root_.c_str(), 1);
    ResetRootsForTesting();
    NamedMutex tooLong(std::string(300, 'n'), false, true);
    EXPECT_FALSE(tooLong.TryAcquire());
    InstanceCounter none(std::string(300, 'n'));
    EXPECT_EQ(none.held(), 0);
    EXPECT_EQ(none.Count(), -1);
}

TEST_F(LocksTest, PlantedLinksAndOddFilesAreNotFollowed) {
    NamedMutex first(kName, false, true);  // makes the lock folder
    const std::string lockDir = LockFolder();
    mwtest::WriteFile(dir_ / "victim", "keep");
    ASSERT_EQ(::chmod((dir_ / "victim").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir_ / "victim").c_str(), (lockDir + "/Global%5Clinked.lock").c_str()), 0);
    NamedMutex linked("linked", false, true);
    EXPECT_FALSE(linked.TryAcquire());
    struct stat st;
    ASSERT_EQ(::stat((dir_ / "victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);  // not re-moded through the link
    ASSERT_EQ(::mkfifo((lockDir + "/Global%5Cfifo.lock").c_str(), 0666), 0);
    NamedMutex fifo("fifo", false, true);  // must not hang on the FIFO
    EXPECT_FALSE(fifo.TryAcquire());
}

TEST_F(LocksTest, LockFilesAreRootsAndTheCounterOpenToAllWhateverTheUmask) {
    if (::geteuid() != 0) GTEST_SKIP() << "the lock folder is made by root";
    mode_t old = ::umask(077);
    NamedMutex m(kName, false, true);
    InstanceCounter c(kName);
    ::umask(old);
    struct Want {
        std::string path;
        mode_t mode;
    } wants[] = {{root_ + "/run", 0755}, {root_ + "/run/mw", 0755}, {m.path(), 0644}};
    for (const auto& w : wants) {
        struct stat st;
        ASSERT_EQ(::lstat(w.path.c_str(), &st), 0) << w.path;
        EXPECT_EQ(st.st_mode & 07777, w.mode) << w.path;
        EXPECT_EQ(st.st_uid, 0u) << w.path;
    }
    EXPECT_EQ(m.path(), root_ + "/run/mw/" + LockFileName("Global\\" + kName) + ".lock");
    int id = ::semget(c.key(), 0, 0);
    ASSERT_GE(id, 0);
    struct semid_ds ds = {};
    ASSERT_EQ(::semctl(id, 0, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.sem_perm.mode & 0777, 0666u);
}

// The descriptor of a held lock is close-on-exec, so even a program started
// without any descriptor hygiene (plain posix_spawn) does not get it, and a
// long-lived child does not keep the lock alive.
TEST_F(LocksTest, LocksAreNotInherited) {
    auto mine = std::make_unique<NamedMutex>(kName, false, true);
    ASSERT_TRUE(mine->TryAcquire());
    InstanceCounter counter(kName);

    const std::string helper = mwtest::BinPath("mwtest_helper");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>("fds"), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string listing;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) listing.append(buf, n);
    ::close(out[0]);
    int status;
    ::waitpid(pid, &status, 0);
    EXPECT_NE(listing.find("1 pipe:["), std::string::npos) << listing;  // it did list
    EXPECT_EQ(listing.find(mine->path()), std::string::npos) << listing;

    HelperProcess lingering({"count", "other"});  // lives on past the release
    ASSERT_EQ(lingering.ReadLine(), "counted 1");
    mine.reset();
    HelperProcess next({"mutex", kName});
    EXPECT_EQ(next.ReadLine(), "owned");
}

uid_t Nobody() {
    passwd* pw = ::getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}

// Runs `body` in a child process as `uid`; its exit code.
int AsUser(uid_t uid, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
            ::setresuid(uid, uid, uid) != 0)
            _exit(99);
        _exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LocksTest, ProcessesOfDifferentUsersMeet) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a process as another user";
    ProcessOptions asNobody;
    asNobody.user = Nobody();
    NamedMutex mine(kName, false, true);  // root makes the lock file
    ASSERT_TRUE(mine.valid());

    // nobody opens root's file read-only, which is all flock needs.
    HelperProcess theirs({"mutex", kName}, asNobody);
    ASSERT_EQ(theirs.ReadLine(), "owned");
    EXPECT_FALSE(mine.TryAcquire());
    theirs.Kill();
    EXPECT_TRUE(mine.TryAcquire());
    {
        HelperProcess again({"mutex", kName}, asNobody);
        EXPECT_EQ(again.ReadLine(), "busy");
    }

    // The counter: nobody counts in beside root and sees root.
    InstanceCounter counter(kName);
    HelperProcess counted({"count", kName}, asNobody);
    ASSERT_EQ(counted.ReadLine(), "counted 1");
    EXPECT_EQ(counter.Count(), 2);
    counted.WriteLine("count");
    EXPECT_EQ(counted.ReadLine(), "2");
    counted.Kill();
    EXPECT_EQ(counter.Count(), 1);
}

// What another user could do before root comes: with the machine's lock
// folder open to all, make the mutex file and keep it (no installer could
// start), or put something of theirs at the counter's name so that the count
// read 0 while the product ran.
TEST_F(LocksTest, AnotherUserCanNeitherPlantTheMutexNorFakeTheCount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(::mkdir((root_ + "/run").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root_ + "/run/lock").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((root_ + "/run/lock").c_str(), 01777), 0);
    ProcessOptions asNobody;
    asNobody.user = Nobody();
    {
        // nobody finds no lock file and cannot make one: it has none to keep.
        HelperProcess theirs({"mutex", kName}, asNobody);
        ASSERT_EQ(theirs.ReadLine(), "owned");
        NamedMutex mine(kName, false, true);
        ASSERT_TRUE(mine.valid());
        EXPECT_TRUE(mine.TryAcquire());
        struct stat st;
        ASSERT_EQ(::stat(mine.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(std::filesystem::path(mine.path()).parent_path(), root_ + "/run/mw");
    }
    EXPECT_TRUE(std::filesystem::is_empty(root_ + "/run/lock"));

    // nobody makes a semaphore set of its own under the counter's key, one
    // that counts nothing: root does not read that as "no product".
    const std::string name = "planted";
    InstanceCounter probe(name);  // only to learn the key
    const int key = probe.key();
    int id = ::semget(key, 0, 0);
    ASSERT_GE(id, 0);
    ASSERT_EQ(::semctl(id, 0, IPC_RMID), 0);
    EXPECT_EQ(AsUser(Nobody(),
                     [&] { return ::semget(key, 3, IPC_CREAT | IPC_EXCL | 0600) >= 0 ? 0 : 1; }),
              0);
    InstanceCounter counter(name);
    EXPECT_EQ(counter.Count(), -1);
    id = ::semget(key, 0, 0);
    ASSERT_GE(id, 0);
    ::semctl(id, 0, IPC_RMID);

    // A semaphore nobody made narrow: root opens it to every user again.
    EXPECT_EQ(AsUser(Nobody(),
                     [&] { return ::semget(key, 1, IPC_CREAT | IPC_EXCL | 0600) >= 0 ? 0 : 1; }),
              0);
    InstanceCounter joined(name);
    EXPECT_EQ(joined.held(), 1);
    EXPECT_EQ(AsUser(1234,
                     [&] {
                         InstanceCounter other(name);
                         return other.held() == 1 && other.Count() == 2 ? 0 : 1;
                     }),
              0);
    ::semctl(::semget(key, 0, 0), 0, IPC_RMID);
}

// A link at $MW_ROOT/run would have made root create folders and files
// wherever it pointed.
TEST_F(LocksTest, LinkedRunFolderIsNotFollowed) {
    const std::string victim = dir_ / "victim";
    ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (root_ + "/run").c_str()), 0);
    NamedMutex m(kName, false, true);
    if (::geteuid() == 0) {
        EXPECT_FALSE(m.valid());
    }
    EXPECT_TRUE(std::filesystem::is_empty(victim));
    struct stat st;
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

}  // namespace
}  // namespace mw::platform
