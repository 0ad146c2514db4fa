// Starting programs: argument vectors, exit codes, failures to start,
// environment, working folder, another user, and descriptor hygiene.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

using mwtest::HelperProcess;

ProcessOptions InFolder(const std::string& folder) {
    ProcessOptions o;
    o.workingFolder = folder;
    return o;
}
ProcessOptions WithEnvironment(std::vector<std::string> env) {
    ProcessOptions o;
    o.environment = std::move(env);
    return o;
}
ProcessOptions AsUser(uid_t uid) {
    ProcessOptions o;
    o.user = uid;
    return o;
}

TEST(ProcessTest, ExitCodesAreEightBit) {
    struct Case {
        const char* code;
        int seen;
    } cases[] = {{"0", 0}, {"1", 1}, {"-10", 246}, {"-11", 245}, {"255", 255}, {"256", 0}};
    for (const auto& c : cases) {
        int code = -1;
        ASSERT_FALSE(RunProcess({mwtest::BinPath("mwtest_helper"), "exit", c.code}, code));
        EXPECT_EQ(code, c.seen) << c.code;
    }
}

TEST(ProcessTest, AKilledProgramEndsWith128PlusTheSignal) {
    HelperProcess h({"wait"});
    ASSERT_EQ(h.ReadLine(), "ready");
    int code = -1;
    std::error_code ec;
    EXPECT_FALSE(h.process().TryWait(code, ec));
    EXPECT_FALSE(ec);
    ASSERT_FALSE(h.process().Signal(SIGKILL));
    ASSERT_FALSE(h.process().Wait(code));
    EXPECT_EQ(code, 128 + SIGKILL);
}

TEST(ProcessTest, ArgumentsArriveUnchanged) {
    std::vector<std::string> args{"args",  "/Register", "/Background",
                                  "",      "two words", "\"quoted\"",
                                  "$HOME", "a\\b",      "/update=7.13.3.0"};
    HelperProcess h(args);
    for (size_t i = 1; i < args.size(); ++i)
        EXPECT_EQ(h.ReadLine(), std::to_string(args[i].size()) + ":" + args[i]);
    EXPECT_EQ(h.ReadLine(), "<eof>");
    EXPECT_EQ(h.Wait(), 0);
}

TEST(ProcessTest, FailuresToStartAreReported) {
    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((dir / "not-executable").c_str(), 0644), 0);
    mwtest::WriteFile(dir / "bad-interpreter", "#!/no/such/interpreter\n");
    ASSERT_EQ(::chmod((dir / "bad-interpreter").c_str(), 0755), 0);
    struct Case {
        std::vector<std::string> argv;
        ProcessOptions options;
        std::errc error;
    } cases[] = {
        {{dir / "missing"}, {}, std::errc::no_such_file_or_directory},
        {{"no-such-program-anywhere"}, {}, std::errc::no_such_file_or_directory},
        {{dir / "not-executable"}, {}, std::errc::no_such_file_or_directory},
        {{dir / "bad-interpreter"}, {}, std::errc::no_such_file_or_directory},
        {{}, {}, std::errc::invalid_argument},
        {{mwtest::BinPath("mwtest_helper"), "id"},
         InFolder(dir / "missing"),
         std::errc::no_such_file_or_directory},
    };
    for (const auto& c : cases) {
        ChildProcess child;
        EXPECT_EQ(child.Start(c.argv, c.options), c.error)
            << (c.argv.empty() ? "(empty)" : c.argv[0]);
        EXPECT_EQ(child.pid(), -1);
    }
}

TEST(ProcessTest, EnvironmentAndWorkingFolderAreThoseAskedFor) {
    mwtest::ScratchDir dir;
    ::setenv("MW_PROBE", "inherited", 1);
    {
        HelperProcess h({"id"}, InFolder(dir.path()));
        h.ReadLine();
        h.ReadLine();
        EXPECT_EQ(h.ReadLine(), "cwd " + dir.path());
        EXPECT_EQ(h.ReadLine(), "probe inherited");
    }
    {
        HelperProcess h({"id"}, WithEnvironment({"MW_PROBE=given"}));
        h.ReadLine();
        h.ReadLine();
        h.ReadLine();
        EXPECT_EQ(h.ReadLine(), "probe given");
    }
    {
        HelperProcess h({"id"}, WithEnvironment({}));
        for (int i = 0; i < 3; ++i) h.ReadLine();
        EXPECT_EQ(h.ReadLine(), "probe (unset)");
    }
    ::unsetenv("MW_PROBE");
}

TEST(ProcessTest, RunsAsAnotherUserWithThatUsersGroups) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    passwd* pw = ::getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    HelperProcess h({"id"}, AsUser(pw->pw_uid));
    const std::string uid = std::to_string(pw->pw_uid), gid = std::to_string(pw->pw_gid);
    std::string line = h.ReadLine();
    EXPECT_EQ(line.substr(0, line.find(" groups")), uid + " " + uid + " " + gid);
    EXPECT_EQ(line.find(" 0", line.find(" groups")), std::string::npos)
        << line;  // root's group gone
    EXPECT_EQ(h.ReadLine(), "admin 0");
    EXPECT_EQ(h.Wait(), 0);
}

TEST(ProcessTest, NoDescriptorLeaksIntoAChild) {
    mwtest::ScratchDir dir;
    // Deliberately opened without O_CLOEXEC.
    int fd = ::open((dir / "secret").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    HelperProcess h({"fds"});
    std::string listing;
    for (std::string line; (line = h.ReadLine()) != "<eof>" && line != "<timeout>";)
        listing += line + "\n";
    ::close(fd);
    EXPECT_EQ(listing.find(dir / "secret"), std::string::npos) << listing;
    // Only the three standard descriptors (and the listing's own folder).
    int count = 0;
    for (char c : listing) count += c == '\n';
    EXPECT_EQ(count, 3) << listing;
}

TEST(ProcessTest, FindProgramSearchesAbsolutePathEntriesOnly) {
    mwtest::ScratchDir dir;
    mwtest::WriteFile(dir / "tool", "#!/bin/sh\n");
    ASSERT_EQ(::chmod((dir / "tool").c_str(), 0755), 0);
    const char* old = std::getenv("PATH");
    std::string saved = old ? old : "";
    ::setenv("PATH", ("relative:" + dir.path() + ":/usr/bin:/bin").c_str(), 1);
    EXPECT_EQ(FindProgram("tool"), dir / "tool");
    EXPECT_EQ(FindProgram("no-such-tool"), "");
    EXPECT_EQ(FindProgram(dir / "tool"), dir / "tool");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    ::setenv("PATH", "relative:.:", 1);
    EXPECT_EQ(FindProgram("tool"), "");  // not from the working folder
    ::setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace mw::platform
