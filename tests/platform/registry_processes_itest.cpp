// The SQLite store shared by several processes: no lost update, no damage
// when a writer dies in the middle of a transaction, and readers of another
// user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "platform/testing/registry_fake.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

using mwtest::HelperProcess;

TEST(RegistryProcesses, ConcurrentReadModifyWritesLoseNothing) {
    mwtest::ScratchDir dir;
    const std::string db = dir / "registry.db";
    std::error_code ec;
    auto reg = OpenRegistryAt(db, ec);
    ASSERT_TRUE(reg) << ec.message();
    ASSERT_FALSE(reg->CreateKey("Counter"));

    constexpr int kProcesses = 4, kIncrements = 40;
    std::vector<std::unique_ptr<HelperProcess>> writers;
    for (int i = 0; i < kProcesses; ++i)
        writers.push_back(std::make_unique<HelperProcess>(
            std::vector<std::string>{"reg-increment", db, std::to_string(kIncrements)}));
    // This process takes part too, through its own connection.
    for (int i = 0; i < kIncrements; ++i) {
        ASSERT_FALSE(reg->UpdateValue("Counter", "n", [](const std::optional<RegValue>& v) {
            return std::optional<RegValue>(
                RegValue::Dword((v ? v->DwordValue().value_or(0) : 0) + 1));
        }));
    }
    for (auto& w : writers) EXPECT_EQ(w->Wait(), 0);
    auto v = reg->GetValue("Counter", "n", ec);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->DwordValue(), uint32_t((kProcesses + 1) * kIncrements));
}

// Content of `key` in the saved-key format, which is canonical: equal bytes
// mean equal content.
std::string Content(Registry& reg, const std::string& key, const std::string& scratch) {
    static int n = 0;
    std::string file = scratch + "/content" + std::to_string(n++);
    EXPECT_FALSE(reg.SaveKey(key, file));
    return mwtest::ReadFile(file);
}

std::string IntegrityCheck(const std::string& db) {
    sqlite3* h = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
    return result;
}

TEST(RegistryProcesses, AWriterKilledMidTransactionLeavesOldOrNewContent) {
    mwtest::ScratchDir dir;
    const std::string db = dir / "registry.db";
    std::error_code ec;
    auto reg = OpenRegistryAt(db, ec);
    ASSERT_TRUE(reg);
    // Two large, different contents for one key, saved as files (built in
    // memory: the saved-key files of both stores are the same).
    for (const char* which : {"A", "B"}) {
        auto mem = MakeFakeRegistry();
        for (int i = 0; i < 40; ++i) {
            const std::string sub = "K\\sub" + std::to_string(i);
            ASSERT_FALSE(mem->CreateKey(sub));
            for (int j = 0; j < 25; ++j)
                ASSERT_FALSE(mem->SetValue(sub, "v" + std::to_string(j),
                                           RegValue::String(which + std::to_string(i * j))));
        }
        ASSERT_FALSE(mem->SaveKey("K", dir / which));
    }
    ASSERT_FALSE(reg->CreateKey("Target"));
    ASSERT_FALSE(reg->RestoreKey("Target", dir / "A"));
    const std::string a = mwtest::ReadFile(dir / "A"), b = mwtest::ReadFile(dir / "B");
    ASSERT_NE(a, b);
    reg.reset();  // the helper must not wait for our connection

    int hot = 0;  // rounds where the kill left a journal to roll back
    for (int round = 0; round < 6; ++round) {
        HelperProcess writer({"reg-restore-loop", db, "Target", dir / "A", dir / "B"});
        ASSERT_EQ(writer.ReadLine(), "ready");
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * round + 3));
        writer.Kill();
        struct stat st;
        if (::stat((db + "-journal").c_str(), &st) == 0 && st.st_size > 0) ++hot;
        reg = OpenRegistryAt(db, ec);
        ASSERT_TRUE(reg) << ec.message();
        const std::string now = Content(*reg, "Target", dir.path());
        EXPECT_TRUE(now == a || now == b) << "round " << round;
        // Still writable afterwards.
        EXPECT_FALSE(reg->SetValue("Target", "after", RegValue::Dword(round)));
        EXPECT_FALSE(reg->DeleteValue("Target", "after"));
        reg.reset();
        EXPECT_EQ(IntegrityCheck(db), "ok") << "round " << round;
    }
    // The writer spends nearly all its time inside a transaction; if no kill
    // ever caught it there, the test did not test what it is for.
    EXPECT_GT(hot, 0);
    std::printf("kills inside a transaction: %d of 6\n", hot);
}

TEST(RegistryProcesses, OtherUsersReadButDoNotWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a process as another user";
    mwtest::ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ::setenv("MW_ROOT", dir.path().c_str(), 1);
    ResetRootsForTesting();
    std::error_code ec;
    auto reg = OpenMachineRegistry(ec);
    ASSERT_TRUE(reg) << ec.message();
    ASSERT_FALSE(reg->CreateKey("Software\\Meridan Works"));
    ASSERT_FALSE(reg->SetValue("Software\\Meridan Works", "Arbolux 7 Path",
                               RegValue::String("/opt/Meridan Works/Arbolux 7/Arbolux7")));
    passwd* pw = ::getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    ProcessOptions asNobody;
    asNobody.user = pw->pw_uid;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    asNobody.stdoutFd = out[1];
    asNobody.stderrFd = out[1];
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), mwtest::BinPath("mwtool"));
        int code = -1;
        EXPECT_FALSE(RunProcess(args, code, asNobody));
        return code;
    };
    EXPECT_EQ(run({"reg", "query", "Software\\Meridan Works", "Arbolux 7 Path"}), 0);
    EXPECT_EQ(run({"reg", "set", "Software\\Meridan Works", "x", "dword", "1"}), 1);
    EXPECT_EQ(run({"reg", "delete", "Software\\Meridan Works"}), 1);
    ::close(out[1]);
    std::string output;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) output.append(buf, n);
    ::close(out[0]);
    EXPECT_NE(output.find("sz:\"/opt/Meridan Works/Arbolux 7/Arbolux7\""), std::string::npos)
        << output;
    EXPECT_NE(output.find("Permission denied"), std::string::npos) << output;
    EXPECT_TRUE(reg->KeyExists("Software\\Meridan Works", ec));
    EXPECT_FALSE(reg->GetValue("Software\\Meridan Works", "x", ec));
    ::unsetenv("MW_ROOT");
    ResetRootsForTesting();
}

}  // namespace
}  // namespace mw::platform
