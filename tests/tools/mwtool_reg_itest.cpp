// mwtool reg end to end: the commands against a store below a scratch
// MW_ROOT, their output and their exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/process.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "support/test_env.hpp"

namespace {

using mw::platform::ProcessOptions;

struct Result {
    int code = -1;
    std::string out, err;
};

class MwtoolReg : public ::testing::Test {
protected:
    Result Run(std::vector<std::string> args) {
        args.insert(args.begin(), {mwtest::BinPath("mwtool"), "reg"});
        const std::string outFile = dir_ / "stdout", errFile = dir_ / "stderr";
        int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ProcessOptions o;
        o.stdoutFd = out;
        o.stderrFd = err;
        o.environment = std::vector<std::string>{"MW_ROOT=" + dir_.path()};
        Result r;
        EXPECT_FALSE(mw::platform::RunProcess(args, r.code, o));
        ::close(out);
        ::close(err);
        r.out = mwtest::ReadFile(outFile);
        r.err = mwtest::ReadFile(errFile);
        return r;
    }
    mwtest::ScratchDir dir_;
};

TEST_F(MwtoolReg, SetQueryExportDelete) {
    struct Step {
        std::vector<std::string> args;
        int code;
        std::string out;
    } steps[] = {
        {{"set", "Software\\Meridan Works", "Arbolux 7 Path", "sz", "/opt/A \"7\"\\x"}, 0, ""},
        {{"set", "software\\MERIDAN WORKS\\Sub", "Count", "dword", "0x2a"}, 0, ""},
        {{"set", "Software\\Meridan Works\\Sub", "Big", "qword", "18446744073709551615"}, 0, ""},
        {{"set", "Software\\Meridan Works\\Sub", "Raw", "binary", "00ff10"}, 0, ""},
        {{"set", "Software\\Meridan Works\\Sub", "Exp", "expand_sz", "%ProgramFiles%\ttab"}, 0, ""},
        {{"set", "Software\\Meridan Works", "", "dword", "7"}, 0, ""},
        {{"query", "SOFTWARE\\meridan works", "arbolux 7 path"},
         0,
         "sz:\"/opt/A \\\"7\\\"\\\\x\"\n"},
        {{"query", "Software\\Meridan Works"},
         0,
         "@=dword:0x00000007\n\"Arbolux 7 Path\"=sz:\"/opt/A \\\"7\\\"\\\\x\"\n"
         "[Software\\Meridan Works\\Sub]\n"},
        {{"export", "Software"},
         0,
         "[Software]\n"
         "\n[Software\\Meridan Works]\n"
         "@=dword:0x00000007\n"
         "\"Arbolux 7 Path\"=sz:\"/opt/A \\\"7\\\"\\\\x\"\n"
         "\n[Software\\Meridan Works\\Sub]\n"
         "\"Big\"=qword:0xffffffffffffffff\n"
         "\"Count\"=dword:0x0000002a\n"
         "\"Exp\"=expand_sz:\"%ProgramFiles%\\ttab\"\n"
         "\"Raw\"=binary:hex:00ff10\n"},
        {{"delete", "Software\\Meridan Works\\Sub", "raw"}, 0, ""},
        {{"query", "Software\\Meridan Works\\Sub", "Raw"}, 1, ""},
        {{"delete", "Software\\Meridan Works\\Sub"}, 0, ""},
        {{"export", "Software\\Meridan Works\\Sub"}, 1, ""},
        {{"delete", "Software\\Meridan Works\\Sub"}, 1, ""},
        {{"query", "Nowhere"}, 1, ""},
        {{"query", "a\\\\b"}, 1, ""},
        // Bad input: nothing is written.
        {{"set", "K", "v", "dword", "4294967296"}, 2, ""},
        {{"set", "K", "v", "dword", "-1"}, 2, ""},
        {{"set", "K", "v", "dword", "12abc"}, 2, ""},
        {{"set", "K", "v", "binary", "abc"}, 2, ""},
        {{"set", "K", "v", "binary", "zz"}, 2, ""},
        {{"set", "K", "v", "multi", "x"}, 2, ""},
        {{"query", "K"}, 1, ""},
        {{"frobnicate"}, 2, ""},
        {{}, 2, ""},
    };
    for (const auto& s : steps) {
        std::string shown;
        for (const auto& a : s.args) shown += " [" + a + "]";
        Result r = Run(s.args);
        EXPECT_EQ(r.code, s.code) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, s.out) << shown;
        if (s.code != 0) {
            EXPECT_FALSE(r.err.empty()) << shown;
        }
    }
}

TEST_F(MwtoolReg, SaveAndRestore) {
    ASSERT_EQ(Run({"set", "U\\Arbolux 7", "DisplayName", "sz", "Arbolux"}).code, 0);
    ASSERT_EQ(Run({"set", "U\\Arbolux 7\\Sub", "n", "dword", "1"}).code, 0);
    const std::string before = Run({"export", "U"}).out;
    ASSERT_EQ(Run({"save", "U\\Arbolux 7", dir_ / "saved"}).code, 0);
    EXPECT_EQ(Run({"save", "U\\Arbolux 7", dir_ / "saved"}).code, 1);  // never overwritten
    ASSERT_EQ(Run({"set", "U\\Arbolux 7", "DisplayName", "sz", "changed"}).code, 0);
    ASSERT_EQ(Run({"delete", "U\\Arbolux 7\\Sub"}).code, 0);
    ASSERT_EQ(Run({"set", "U\\Arbolux 7\\Extra", "x", "dword", "2"}).code, 0);
    ASSERT_NE(Run({"export", "U"}).out, before);
    ASSERT_EQ(Run({"restore", "U\\Arbolux 7", dir_ / "saved"}).code, 0);
    EXPECT_EQ(Run({"export", "U"}).out, before);
    mwtest::WriteFile(dir_ / "damaged", mwtest::ReadFile(dir_ / "saved").substr(0, 20));
    EXPECT_EQ(Run({"restore", "U\\Arbolux 7", dir_ / "damaged"}).code, 1);
    EXPECT_EQ(Run({"export", "U"}).out, before);
}

// The tool and the library see the same store: what one writes the other
// reads, with the exact bytes.
TEST_F(MwtoolReg, SharesTheMachineStore) {
    ASSERT_EQ(Run({"set", "Software\\Meridan Works", "Arbolux 7 Path", "sz", "/opt/x"}).code, 0);
    ::setenv("MW_ROOT", dir_.path().c_str(), 1);
    mw::platform::ResetRootsForTesting();
    std::error_code ec;
    auto reg = mw::platform::OpenMachineRegistry(ec);
    ::unsetenv("MW_ROOT");
    mw::platform::ResetRootsForTesting();
    ASSERT_TRUE(reg) << ec.message();
    auto v = reg->GetValue("Software\\Meridan Works", "Arbolux 7 Path", ec);
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, mw::platform::RegValue::String("/opt/x"));
}

}  // namespace
