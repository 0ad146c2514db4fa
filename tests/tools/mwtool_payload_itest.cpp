// mwtool payload, run as a packager runs it: archives built from manifests,
// listed, tested and extracted, and what each does with bad input. The
// bzip2 program serves as an independent producer and consumer of the
// compressed stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/crc32.hpp"
#include "engine/payload_writer.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;

namespace {

using Result = mwtest::RunResult;
using mwtest::RunProgram;

Result Payload(std::vector<std::string> args) {
    args.insert(args.begin(), "payload");
    return RunProgram(mwtest::BinPath("mwtool"), args);
}

std::string Hex(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) out.push_back(line);
    return out;
}

std::string Crc(const std::string& content) {
    return Hex(mw::Crc32Of(content.data(), content.size()));
}

class MwtoolPayload : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "files/Lang");
        Put("files/Lang/Arbolux.de.dll", "deutsch");
        Put("files/Arbolux.exe", std::string(20000, 'P') + "program end");
        Put("files/b.ax-lib", "");
        Put("files/Grüße.jpg", "texture");
        Put("files/DSETUP.dll", "setup library");
        mwtest::WriteFile(manifest,
                          "# kind\tdestination\tsource\n"
                          "0\t<InstallPath>\\Lang\tfiles/Lang/Arbolux.de.dll\n"
                          "\n"
                          "1\t<InstallPath>\tfiles/Arbolux.exe\r\n"
                          "3\t<CommonData>\\Meridan Works\\Arbolux\tfiles/b.ax-lib\n"
                          "4\t<InstallPath>\\Textures\tfiles/Grüße.jpg\n"
                          "5\t<Temporary>\tfiles/DSETUP.dll\n");
    }
    void Put(const std::string& rel, const std::string& content) {
        mwtest::WriteFile(dir / rel, content);
        contents[rel] = content;
    }

    mwtest::ScratchDir dir;
    mwtest::ScratchDir out;  // archives and extractions
    std::string manifest = dir / "manifest.tsv";
    std::map<std::string, std::string> contents;
};

TEST_F(MwtoolPayload, CreateThenListShowsTheTable) {
    const std::string archive = out / "payload.bz2";
    Result r = Payload({"create", archive, manifest});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Payload({"list", archive});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 8u) << r.out;
    uint64_t sum = 0;
    for (const auto& [rel, content] : contents) sum += content.size();
    // Five entries: 12 bytes of header, per entry 24 bytes and its texts.
    uint64_t table = 12;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"<InstallPath>\\Lang", "files/Lang/Arbolux.de.dll"},
        {"<InstallPath>", "files/Arbolux.exe"},
        {"<CommonData>\\Meridan Works\\Arbolux", "files/b.ax-lib"},
        {"<InstallPath>\\Textures", "files/Grüße.jpg"},
        {"<Temporary>", "files/DSETUP.dll"},
    };
    for (const auto& [d, s] : rows) table += 24 + 2 * (d.size() + s.size());
    table -= 2 * 2;  // "ü" and "ß" take two UTF-8 bytes but one UTF-16 unit
    EXPECT_EQ(lines[0], "table_size\t" + std::to_string(table));
    EXPECT_EQ(lines[1], "entry_count\t5");
    EXPECT_EQ(lines[2], "total\t" + std::to_string(table + sum));
    const int kinds[] = {0, 1, 3, 4, 5};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string& content = contents[rows[i].second];
        EXPECT_EQ(lines[3 + i], std::to_string(i) + "\t" + std::to_string(kinds[i]) + "\t" +
                                    std::to_string(content.size()) + "\t" + Crc(content) + "\t" +
                                    rows[i].first + "\t" + rows[i].second);
    }
}

TEST_F(MwtoolPayload, ArchiveIsOneBzip2StreamOfTableAndContents) {
    const std::string archive = out / "payload.bz2";
    ASSERT_EQ(Payload({"create", archive, manifest}).code, 0);
    EXPECT_EQ(mwtest::ReadFile(archive).substr(0, 4), "BZh9");
    // The bzip2 program decodes it to exactly the table and the contents.
    const Result decoded = RunProgram("bzip2", {"-dc"}, archive);
    ASSERT_EQ(decoded.code, 0) << decoded.err;
    std::vector<mw::PayloadEntry> table;
    std::string body;
    const std::pair<const char*, const char*> rows[] = {
        {"<InstallPath>\\Lang", "files/Lang/Arbolux.de.dll"},
        {"<InstallPath>", "files/Arbolux.exe"},
        {"<CommonData>\\Meridan Works\\Arbolux", "files/b.ax-lib"},
        {"<InstallPath>\\Textures", "files/Grüße.jpg"},
        {"<Temporary>", "files/DSETUP.dll"},
    };
    const int kinds[] = {0, 1, 3, 4, 5};
    for (std::size_t i = 0; i < 5; ++i) {
        const std::string& content = contents[rows[i].second];
        mw::PayloadEntry e;
        e.source = rows[i].second;
        e.destination = rows[i].first;
        e.kind = static_cast<mw::PayloadKind>(kinds[i]);
        e.size = content.size();
        e.crc = mw::Crc32Of(content.data(), content.size());
        table.push_back(e);
        body += content;
    }
    EXPECT_TRUE(decoded.out == mw::EncodePayloadTable(table) + body);
}

TEST_F(MwtoolPayload, SortOrdersBySourceIgnoringCase) {
    Put("b.txt", "b");
    Put("A.txt", "a");
    Put("c.TXT", "c");
    mwtest::WriteFile(
        manifest, "0\t<InstallPath>\tb.txt\n0\t<InstallPath>\tc.TXT\n0\t<InstallPath>\tA.txt\n");
    for (bool sort : {false, true}) {
        const std::string archive = out / (sort ? "sorted" : "kept");
        std::vector<std::string> args = {"create", archive, manifest};
        if (sort) args.push_back("--sort");
        ASSERT_EQ(Payload(args).code, 0);
        const auto lines = Lines(Payload({"list", archive}).out);
        ASSERT_EQ(lines.size(), 6u);
        std::string order;
        for (std::size_t i = 3; i < 6; ++i)
            order += lines[i].substr(lines[i].rfind('\t') + 1) + " ";
        EXPECT_EQ(order, sort ? "A.txt b.txt c.TXT " : "b.txt c.TXT A.txt ");
    }
}

TEST_F(MwtoolPayload, BadManifestsFailWithTheLineAndLeaveNoArchive) {
    struct Case {
        const char* what;
        std::string manifest;
        std::string message;  // expected in the error output
    };
    const Case cases[] = {
        {"two fields", "0\t<InstallPath>\n", "manifest.tsv:1:"},
        {"four fields", "0\t<InstallPath>\tfiles/b.ax-lib\textra\n", "manifest.tsv:1:"},
        {"trailing tab", "0\t<InstallPath>\tfiles/b.ax-lib\t\n", "manifest.tsv:1:"},
        {"kind not a number", "# c\nx\t<InstallPath>\tfiles/b.ax-lib\n", "manifest.tsv:2:"},
        {"kind with junk", "3x\t<InstallPath>\tfiles/b.ax-lib\n", "manifest.tsv:1:"},
        {"kind too large", "4294967296\t<InstallPath>\tfiles/b.ax-lib\n", "manifest.tsv:1:"},
        {"empty kind", "\t<InstallPath>\tfiles/b.ax-lib\n", "manifest.tsv:1:"},
        {"empty source", "0\t<InstallPath>\t\n", "manifest.tsv:1:"},
        {"source names a folder", "0\t<InstallPath>\tfiles/\n", "manifest.tsv:1:"},
        {"source ends in ..", "0\t<InstallPath>\tfiles/..\n", "manifest.tsv:1:"},
        {"invalid UTF-8", "0\t<InstallPath>\\\xff\tfiles/b.ax-lib\n", "manifest.tsv:1:"},
        {"missing source file", "0\t<InstallPath>\tfiles/missing.bin\n", "missing.bin"},
        {"source is a folder", "0\t<InstallPath>\tfiles/Lang\n", "Lang"},
    };
    for (const auto& c : cases) {
        mwtest::WriteFile(manifest, c.manifest);
        const std::string archive = out / "bad.bz2";
        const Result r = Payload({"create", archive, manifest});
        EXPECT_NE(r.code, 0) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_TRUE(fs::is_empty(out.path())) << c.what;
    }
    const Result missing = Payload({"create", out / "x.bz2", dir / "no-such-manifest"});
    EXPECT_NE(missing.code, 0);
    EXPECT_NE(missing.err.find("no-such-manifest"), std::string::npos) << missing.err;
}

TEST_F(MwtoolPayload, ExtractReportsEveryStepAndWritesTheFiles) {
    const std::string archive = out / "payload.bz2";
    ASSERT_EQ(Payload({"create", archive, manifest}).code, 0);
    const std::string install = out / "install", work = out / "work";
    const std::string mwroot = out / "root";
    setenv("MW_ROOT", mwroot.c_str(), 1);
    Result r = Payload({"extract", archive, "--install-folder", install, "--temp-folder", work});
    unsetenv("MW_ROOT");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = Lines(r.out);
    std::vector<std::string> steps;
    std::size_t progress = 0;
    std::string lastProgress;
    for (const auto& l : lines) {
        if (l.rfind("Progress\t", 0) == 0) {
            ++progress;
            lastProgress = l;
        } else {
            steps.push_back(l);
        }
    }
    const std::string total = Lines(Payload({"list", archive}).out)[2].substr(6);
    const std::string shared = mwroot + "/var/opt/Meridan Works/Arbolux/b.ax-lib";
    const std::vector<std::string> expected = {
        "Started",
        "EntryStarted\t0\t" + install + "/Lang/Arbolux.de.dll",
        "EntryDone\t0\t" + install + "/Lang/Arbolux.de.dll",
        "EntryStarted\t1\t" + install + "/Arbolux.exe",
        "EntryDone\t1\t" + install + "/Arbolux.exe",
        "EntryStarted\t2\t" + shared,
        "EntryDone\t2\t" + shared,
        "EntryStarted\t3\t" + install + "/Textures/Grüße.jpg",
        "EntryDone\t3\t" + install + "/Textures/Grüße.jpg",
        "EntryStarted\t4\t" + work + "/DSETUP.dll",
        "EntryDone\t4\t" + work + "/DSETUP.dll",
        "Finished\t" + std::to_string(fs::file_size(archive)) + "\t" + total,
    };
    EXPECT_EQ(steps, expected);
    EXPECT_GE(progress, 6u);  // after the table and on every write
    EXPECT_EQ(lastProgress, "Progress\t" + total + "\t" + total);
    EXPECT_EQ(mwtest::ReadFile(install + "/Arbolux.exe"), contents["files/Arbolux.exe"]);
    EXPECT_EQ(mwtest::ReadFile(install + "/Textures/Grüße.jpg"), "texture");
    EXPECT_EQ(mwtest::ReadFile(work + "/DSETUP.dll"), "setup library");
    EXPECT_EQ(mwtest::ReadFile(shared), "");

    // --quiet leaves out the Progress lines only.
    setenv("MW_ROOT", mwroot.c_str(), 1);
    r = Payload(
        {"extract", archive, "--install-folder", install, "--temp-folder", work, "--quiet"});
    unsetenv("MW_ROOT");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), expected);
}

TEST_F(MwtoolPayload, ArchiveOfTheBzip2ProgramExtracts) {
    // The decompressed stream made here, compressed by the bzip2 program.
    std::vector<mw::PayloadEntry> table;
    std::string body;
    for (int i = 0; i < 40; ++i) {
        std::string content(i * 997, static_cast<char>('a' + i % 26));
        for (std::size_t k = 0; k < content.size(); k += 7) content[k] = static_cast<char>(k * i);
        mw::PayloadEntry e;
        e.source = "src\\file" + std::to_string(i) + ".bin";
        e.destination = i % 2 ? "<InstallPath>\\Odd" : "<InstallPath>";
        e.size = content.size();
        e.crc = mw::Crc32Of(content.data(), content.size());
        table.push_back(e);
        body += content;
        contents[std::to_string(i)] = content;
    }
    const std::string raw = out / "raw";
    mwtest::WriteFile(raw, mw::EncodePayloadTable(table) + body);
    ASSERT_EQ(RunProgram("bzip2", {"-1", raw}).code, 0);  // block size 1: several blocks
    const std::string archive = raw + ".bz2";
    EXPECT_EQ(Payload({"test", archive}).code, 0);
    const std::string install = out / "install";
    const Result r = Payload({"extract", archive, "--install-folder", install, "--quiet"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(mwtest::ReadFile(install + (i % 2 ? "/Odd" : "") + "/file" + std::to_string(i) +
                                   ".bin"),
                  contents[std::to_string(i)])
            << i;
}

// Damaged archives: `test` names the code, `extract` fails the same way and,
// when the compressed stream itself is damaged, writes nothing.
TEST_F(MwtoolPayload, DamagedArchivesFailWithTheirCode) {
    const std::string archive = out / "payload.bz2";
    ASSERT_EQ(Payload({"create", archive, manifest}).code, 0);
    const std::string good = mwtest::ReadFile(archive);
    const Result decoded = RunProgram("bzip2", {"-dc"}, archive);
    ASSERT_EQ(decoded.code, 0);
    const std::string raw = decoded.out;
    const std::size_t table = std::stoul(Lines(Payload({"list", archive}).out)[0].substr(11));
    auto recompressed = [&](const std::string& text) {
        mwtest::WriteFile(out / "tmp", text);
        return RunProgram("bzip2", {"-9c"}, out / "tmp").out;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    std::string changed = raw;
    changed[table + 100] ^= 0x20;  // inside Arbolux.exe; its CRC-32 stays
    struct Case {
        const char* what;
        std::string bytes;
        std::string code;
        bool writesNothing;
    };
    const Case cases[] = {
        {"changed compressed byte", flipped, "6", true},
        {"truncated", good.substr(0, good.size() - 10), "6", true},
        // The stream must end with the archive: bytes after it fail the check
        // before anything is decoded as a file.
        {"one compressed byte more", good + "x", "4", true},
        {"a second stream after it", good + good, "4", true},
        {"not bzip2", raw, "6", true},
        {"empty", "", "6", true},
        {"one decompressed byte more", recompressed(raw + "x"), "7", false},
        {"one decompressed byte less", recompressed(raw.substr(0, raw.size() - 1)), "7", false},
        {"table cut short", recompressed(raw.substr(0, table - 1)), "7", true},
        {"changed byte, CRC-32 unchanged", recompressed(changed), "3", false},
    };
    EXPECT_EQ(Payload({"verify", archive}).code, 0);
    for (const auto& c : cases) {
        fs::remove_all(out / "install");
        mwtest::WriteFile(out / "bad.bz2", c.bytes);
        const Result t = Payload({"test", out / "bad.bz2"});
        EXPECT_EQ(t.code, 1) << c.what;
        EXPECT_EQ(t.out, c.code + "\n") << c.what << ": " << t.err;
        // The check alone fails exactly where the compressed stream is bad.
        const bool streamBad = c.code == "4" || c.code == "6";
        EXPECT_EQ(Payload({"verify", out / "bad.bz2"}).code, streamBad ? 1 : 0) << c.what;
        const Result x =
            Payload({"extract", out / "bad.bz2", "--install-folder", out / "install", "--quiet"});
        EXPECT_EQ(x.code, 1) << c.what;
        const auto lines = Lines(x.out);
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.back().substr(0, 8 + c.code.size()), "Failed\t" + c.code + "\t") << c.what;
        EXPECT_EQ(c.writesNothing, !fs::exists(out / "install")) << c.what;
    }
    const Result missing = Payload({"test", out / "no-such-archive"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("no-such-archive"), std::string::npos);
}

TEST_F(MwtoolPayload, UsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"list"},
             {"extract", "x.bz2"},
             {"extract", "x.bz2", "--install-folder"},
             {"extract", "x.bz2", "--install-folder", "d", "--bogus"},
             {"create", "out"},
         }) {
        const Result r = Payload(args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage"), std::string::npos);
    }
}

TEST(MwtoolPayloadDemo, DemoManifestBuildsWithEveryKind) {
    mwtest::ScratchDir out;
    const std::string archive = out / "demo.bz2";
    const Result r = Payload(
        {"create", archive, std::string(MW_BUILD_DIR) + "/product/demo/manifest.tsv", "--sort"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = Lines(Payload({"list", archive}).out);
    ASSERT_GT(lines.size(), 3u);
    std::set<std::string> kinds;
    for (std::size_t i = 3; i < lines.size(); ++i) {
        std::stringstream s(lines[i]);
        std::string index, kind;
        std::getline(s, index, '\t');
        std::getline(s, kind, '\t');
        kinds.insert(kind);
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"0", "1", "2", "3", "4", "5"}));
    EXPECT_EQ(Payload({"test", archive}).code, 0);
}

}  // namespace
