// mwtool res, run as the build runs it: on the built installer and on
// scratch copies of built programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "platform/rc/resource_compiler.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;

namespace {

using Result = mwtest::RunResult;

Result Tool(const std::vector<std::string>& args) {
    return mwtest::RunProgram(mwtest::BinPath("mwtool"), args);
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

// "type name" of every listed resource.
std::set<std::string> Keys(const std::string& listing) {
    std::set<std::string> keys;
    std::regex line(R"((\S+) (\d+) 0x[0-9a-f]{4} \d+)");
    for (const auto& l : Lines(listing)) {
        std::smatch m;
        if (std::regex_match(l, m, line)) keys.insert(m[1].str() + " " + m[2].str());
    }
    return keys;
}

}  // namespace

TEST(MwtoolRes, InstallerCarriesItsResources) {
    mwtest::ScratchDir dir;
    Result r = Tool({"res", "list", mwtest::BinPath("InstallArbolux7.13c")});
    ASSERT_EQ(r.code, 0) << r.err;
    std::set<std::string> keys = Keys(r.out);
    EXPECT_EQ(Keys(r.out).size(), Lines(r.out).size()) << "every line is 'type name language size'";
    std::vector<std::string> expected = {"version 1",      "manifest 1", "bitmap 137",
                                         "group-icon 128", "dialog 100", "dialog 102"};
    for (int id = 132; id <= 137; ++id) expected.push_back("dialog " + std::to_string(id));
    for (int id = 141; id <= 161; ++id) {
        if (id != 159) expected.push_back("group-icon " + std::to_string(id));
    }
    for (const auto& k : expected) EXPECT_TRUE(keys.count(k)) << k;
    EXPECT_FALSE(keys.count("group-icon 159"));

    // Every string source gives blocks tagged with its language.
    std::string strings = std::string(MW_SOURCE_DIR) + "/res/strings";
    std::set<std::string> lines = Lines(r.out);
    int sources = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(strings, ec)) {
        if (entry.path().extension() != ".tsv") continue;
        ++sources;
        int index = std::stoi(entry.path().filename().string());
        char tag[16];
        std::snprintf(tag, sizeof tag, "0x%04x", mw::platform::LangIdOfLanguageIndex(index));
        bool found = false;
        for (const auto& l : lines)
            found |= l.starts_with("string ") && l.find(tag) != std::string::npos;
        EXPECT_TRUE(found) << entry.path() << " has no string block " << tag;
    }
    if (sources == 0) GTEST_LOG_(INFO) << "no string sources yet under res/strings";
}

TEST(MwtoolRes, SetGetRemoveOnACopyThatStillRuns) {
    mwtest::ScratchDir dir;
    const std::string copy = dir / "tool";
    fs::copy_file(mwtest::BinPath("mwtool"), copy);
    std::string payload(300000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = char(i * 7 + i / 251);
    mwtest::WriteFile(dir / "payload.bz2", payload);

    ASSERT_EQ(Tool({"res", "set", copy, "260", "134", dir / "payload.bz2"}).code, 0);
    mwtest::WriteFile(dir / "fr.txt", "bonjour");
    ASSERT_EQ(Tool({"res", "set", copy, "manifest", "1", "0x40c", dir / "fr.txt"}).code, 0);

    Result got = Tool({"res", "get", copy, "payload", "134", "-o", dir / "out.bin"});
    ASSERT_EQ(got.code, 0) << got.err;
    EXPECT_EQ(mwtest::ReadFile(dir / "out.bin"), payload);
    got = Tool({"res", "get", copy, "24", "1", "1036"});
    EXPECT_EQ(got.out, "bonjour");

    // Without a language the existing one is replaced.
    mwtest::WriteFile(dir / "fr2.txt", "salut");
    ASSERT_EQ(Tool({"res", "set", copy, "manifest", "1", dir / "fr2.txt"}).code, 0);
    Result list = Tool({"res", "list", copy});
    EXPECT_EQ(Lines(list.out),
              (std::set<std::string>{"manifest 1 0x040c 5", "payload 134 0x0000 300000"}));

    // The copy still runs and finds its own resources in place.
    Result own = mwtest::RunProgram(copy, {"res", "list", "--own"});
    EXPECT_EQ(own.code, 0) << own.err;
    EXPECT_EQ(own.out, list.out);

    ASSERT_EQ(Tool({"res", "remove", copy, "payload", "134"}).code, 0);
    ASSERT_EQ(Tool({"res", "remove", copy, "manifest", "1"}).code, 0);
    EXPECT_EQ(Tool({"res", "list", copy}).out, "");
    EXPECT_EQ(mwtest::ReadFile(copy), mwtest::ReadFile(mwtest::BinPath("mwtool")));
}

TEST(MwtoolRes, BadInputIsRefusedWithAMessage) {
    mwtest::ScratchDir dir;
    const std::string copy = dir / "prog";
    mwtest::WriteFile(copy, "plain program");
    mwtest::WriteFile(dir / "data", "d");
    std::string damaged = "program" + std::string(16, 'x') + std::string(8, '\0') + "MWRSRC\x01\n";
    mwtest::WriteFile(dir / "damaged", damaged);

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;  // part of stderr
    };
    const Case cases[] = {
        {{"res"}, 2, "missing subcommand"},
        {{"res", "frobnicate"}, 2, "unknown subcommand"},
        {{"res", "list"}, 2, "usage"},
        {{"res", "list", dir / "missing"}, 1, "No such file"},
        {{"res", "get", copy, "version", "1"}, 1, "no resource"},
        {{"res", "get", copy, "versoin", "1"}, 2, "bad resource type"},
        {{"res", "get", copy, "version", "-1"}, 2, "bad resource name"},
        {{"res", "set", copy, "payload", "134", "0x10000", dir / "data"}, 2, "bad language"},
        {{"res", "set", copy, "payload", "134", dir / "nodata"}, 1, "cannot be read"},
        {{"res", "set", dir / "damaged", "payload", "134", dir / "data"}, 1, "damaged"},
        {{"res", "remove", copy, "payload", "134"}, 1, "no such resource"},
        {{"res", "build", dir / "out.res", "--strings"}, 2, "needs an argument"},
        {{"res", "build", dir / "out.res", "--version", dir / "data"}, 1, "expected"},
        {{"res", "attach", copy, dir / "damaged"}, 1, "damaged"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        Result r = Tool(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // Nothing was changed by the refused commands.
    EXPECT_EQ(mwtest::ReadFile(copy), "plain program");
    EXPECT_EQ(mwtest::ReadFile(dir / "damaged"), damaged);
}

TEST(MwtoolRes, BuildFromASourceTreeAndAttach) {
    mwtest::ScratchDir dir;
    fs::create_directories(dir / "res/strings");
    fs::create_directories(dir / "res/version");
    fs::create_directories(dir / "res/manifest");
    mwtest::WriteFile(dir / "res/version/installer.ver",
                      "[fixed]\nFileVersion = 1.2.3.4\n[translations]\n0400 04b0\n"
                      "[strings 040004b0]\nProductName = Thing\n");
    mwtest::WriteFile(dir / "res/manifest/installer.manifest", "<assembly/>");
    mwtest::WriteFile(dir / "res/strings/00-french.tsv", "1000\tInstalleur\n1001\tOK\n");
    mwtest::WriteFile(dir / "res/strings/01-english.tsv", "2000\tInstaller\n");
    Result r = Tool({"res", "build", dir / "res", dir / "out.res"});
    ASSERT_EQ(r.code, 0) << r.err;
    Result list = Tool({"res", "list", dir / "out.res"});
    EXPECT_EQ(Keys(list.out),
              (std::set<std::string>{"version 1", "manifest 1", "string 63", "string 126"}));
    EXPECT_NE(list.out.find("string 63 0x040c"), std::string::npos);
    EXPECT_NE(list.out.find("string 126 0x0409"), std::string::npos);

    const std::string prog = dir / "prog";
    mwtest::WriteFile(prog, "program");
    mwtest::WriteFile(dir / "blob", "payload");
    ASSERT_EQ(
        Tool({"res", "attach", prog, dir / "out.res", "--raw", "260", "134", "0", dir / "blob"})
            .code,
        0);
    Result attached = Tool({"res", "list", prog});
    EXPECT_EQ(Keys(attached.out).size(), 5u);
    EXPECT_EQ(Tool({"res", "get", prog, "260", "134"}).out, "payload");

    // A source mistake stops the build and names the file and line.
    mwtest::WriteFile(dir / "res/strings/02-german.tsv",
                      "3000\tInstallationsprogramm\nbroken line\n");
    r = Tool({"res", "build", dir / "res", dir / "out.res"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("02-german.tsv: line 2"), std::string::npos) << r.err;
}
