// mwtool log read, run as a program.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "support/test_env.hpp"

namespace {

std::string Le(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// Runs a shell command line; gives its standard output and exit status.
std::string RunCommand(const std::string& command, int& status) {
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    if (!p) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int raw = pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

TEST(MwtoolLog, ReadShowsWhatIsTakenAlsoFromALogThatStopsEarly) {
    mwtest::ScratchDir dir;
    std::filesystem::create_directories(dir / "inst");
    std::string log = dir / "Uninstall.ulog";
    std::u16string text =
        u"// Uninstall Log File v1\r\n// w\r\n// Install Arbolux 7.13c -- Update "
        u"(Arbolux 7.12)\r\n// Install Path : " +
        std::u16string(dir.path().begin(), dir.path().end()) +
        u"/inst\r\n// Shortcut Path : /no/such/menu\r\n// ---\r\n"
        u"0000:00ff:1 -- /opt/é\r\n"
        u"0001:0103:0 -- /opt/é/data file.cfg\r\n"
        u"0002:05ff:1 -- HKEY_LOCAL_MACHINE\\x\r\n"
        u"0003:0900:1 -- stops here\r\n"
        u"0004:00ff:1 -- never taken\r\n";
    mwtest::WriteFile(log, Le(text));

    int status = 0;
    std::string out =
        RunCommand(Quote(mwtest::BinPath("mwtool")) + " log read " + Quote(log), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out,
              "product\tArbolux 7.13c\n"
              "install_path\t" +
                  dir.path() +
                  "/inst\n"
                  "shortcut_path\t\n"
                  "entry\t0\t-1\t1\t/opt/é\n"
                  "entry\t1\t3\t0\t/opt/é/data file.cfg\n"
                  "entry\t5\t-1\t1\t\n");
}

TEST(MwtoolLog, AnsiLogsUseTheGivenCodePage) {
    mwtest::ScratchDir dir;
    std::string log = dir / "ansi.ulog";
    mwtest::WriteFile(log,
                      "// Uninstall Log File v1\n// w\n// Install P\n// Install Path : /x\n"
                      "// Shortcut Path : /y\n// -\n0:0100:1 -- /\xFE\n");
    int status = 0;
    std::string base = Quote(mwtest::BinPath("mwtool")) + " log read ";
    EXPECT_EQ(RunCommand(base + "--code-page 1254 " + Quote(log), status),
              "product\tP\ninstall_path\t\nshortcut_path\t\nentry\t1\t0\t1\t/ş\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RunCommand(base + "--code-page 1252 " + Quote(log), status),
              "product\tP\ninstall_path\t\nshortcut_path\t\nentry\t1\t0\t1\t/þ\n");
}

TEST(MwtoolLog, MissingFileShowsNothingTaken) {
    mwtest::ScratchDir dir;
    int status = 0;
    std::string out = RunCommand(
        Quote(mwtest::BinPath("mwtool")) + " log read " + Quote(dir / "none.ulog"), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "product\t\ninstall_path\t\nshortcut_path\t\n");
    RunCommand(Quote(mwtest::BinPath("mwtool")) + " log 2>/dev/null", status);
    EXPECT_EQ(status, 2);
}

}  // namespace
