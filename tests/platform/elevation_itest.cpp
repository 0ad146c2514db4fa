// The elevation offer of a non-root program, with a stand-in pkexec on PATH
// that records how it was called (the real one would ask for a password).
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/elevation.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace mw::platform {
namespace {

using mwtest::HelperProcess;

class ElevationOffer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
        bin_ = dir_ / "bin";
        record_ = dir_ / "out/record";
        ASSERT_EQ(::mkdir(bin_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((dir_ / "out").c_str(), 0777), 0);
        ASSERT_EQ(::chmod((dir_ / "out").c_str(), 0777), 0);
        if (::geteuid() == 0) {
            passwd* pw = ::getpwnam("nobody");
            ASSERT_NE(pw, nullptr);
            user_ = pw->pw_uid;
        }
    }

    // A pkexec that records its arguments, one per line, then either runs
    // them (as the same user: the stand-in grants nothing) or exits with
    // `refuse`.
    void FakePkexec(int refuse) {
        std::string script =
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + record_ + "\n";
        script += refuse ? "exit " + std::to_string(refuse) + "\n" : "exec \"$@\"\n";
        mwtest::WriteFile(bin_ + "/pkexec", script);
        ASSERT_EQ(::chmod((bin_ + "/pkexec").c_str(), 0755), 0);
    }

    // Runs the helper's "elevate" as a non-root user with `env`.
    std::vector<std::string> Run(std::vector<std::string> env) {
        ProcessOptions o;
        o.user = user_;
        env.push_back("PATH=" + bin_ + ":/usr/bin:/bin");
        o.environment = env;
        HelperProcess h({"elevate"}, o);
        std::vector<std::string> lines;
        for (std::string l; (l = h.ReadLine()) != "<eof>" && l != "<timeout>";) lines.push_back(l);
        h.Wait();
        return lines;
    }

    bool Recorded() {
        struct stat st;
        return ::stat(record_.c_str(), &st) == 0;
    }

    mwtest::ScratchDir dir_;
    std::string bin_, record_;
    std::optional<uid_t> user_;
};

TEST_F(ElevationOffer, RerunsThroughPkexecKeepingTheSettings) {
    FakePkexec(0);
    auto lines = Run(
        {"DISPLAY=:5", "HOME=/home/asker", "MW_ROOT=/srv/root", "LANG=nl_NL.UTF-8", "SECRET=no"});
    // The re-run (told not to offer again) runs on; the first reports its end.
    EXPECT_EQ(lines, (std::vector<std::string>{"runs-on", "ran 0"}));
    ASSERT_TRUE(Recorded());
    std::string rec = mwtest::ReadFile(record_);
    EXPECT_EQ(rec.substr(0, 4), "env\n");
    for (const char* kept : {"DISPLAY=:5\n", "MW_ROOT=/srv/root\n", "LANG=nl_NL.UTF-8\n",
                             "MW_NO_ELEVATION=1\n", "/mwtest_helper\nelevate\n"})
        EXPECT_NE(rec.find(kept), std::string::npos) << kept << " in\n" << rec;
    // The asker's home is not root's: the elevated run takes the target
    // user's from the password database.
    EXPECT_EQ(rec.find("SECRET"), std::string::npos) << rec;
    EXPECT_EQ(rec.find("HOME="), std::string::npos) << rec;
    EXPECT_EQ(rec.find("PATH="), std::string::npos) << rec;
}

TEST_F(ElevationOffer, RefusedOrDismissedRunsOn) {
    for (int code : {126, 127}) {
        FakePkexec(code);
        EXPECT_EQ(Run({"DISPLAY=:5"}), std::vector<std::string>{"runs-on"}) << code;
        EXPECT_TRUE(Recorded());
        ::unlink(record_.c_str());
    }
}

TEST_F(ElevationOffer, NotOfferedWithoutADisplayOrWhenSwitchedOff) {
    FakePkexec(0);
    const std::vector<std::vector<std::string>> envs{
        {},
        {"DISPLAY="},
        {"DISPLAY=:5", "MW_NO_ELEVATION=1"},
        {"DISPLAY=:5", "MW_NO_ELEVATION=yes"},
    };
    for (const auto& env : envs) {
        EXPECT_EQ(Run(env), std::vector<std::string>{"runs-on"});
        EXPECT_FALSE(Recorded());
    }
    // Without pkexec anywhere on PATH.
    ::unlink((bin_ + "/pkexec").c_str());
    ProcessOptions o;
    o.user = user_;
    o.environment = std::vector<std::string>{"DISPLAY=:5", "PATH=" + bin_};
    HelperProcess h({"elevate"}, o);
    EXPECT_EQ(h.ReadLine(), "runs-on");
}

TEST_F(ElevationOffer, RootIsNeverOffered) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    FakePkexec(0);
    ::setenv("DISPLAY", ":5", 1);
    ::setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
    ::unsetenv("MW_NO_ELEVATION");
    EXPECT_TRUE(IsAdministrator());
    EXPECT_EQ(OfferElevation({}), std::nullopt);
    EXPECT_FALSE(Recorded());
}

}  // namespace
}  // namespace mw::platform
