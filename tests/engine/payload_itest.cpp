// The payload read where it lives: resource 260/134 of a built installer,
// mapped with the rest of its bundle, and archive files mapped by the tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/bzip2_blocks.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_test_support.hpp"
#include "engine/payload_writer.hpp"
#include "platform/resources.hpp"
#include "support/env_guard.hpp"
#include "support/test_env.hpp"

namespace {

namespace fs = std::filesystem;
using payloadtest::Recorder;

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes an archive of a few files and returns their contents by name.
std::map<std::string, std::string> MakeArchive(const mwtest::ScratchDir& dir,
                                               const std::string& archive) {
    std::map<std::string, std::string> files = {
        {"big.bin", payloadtest::Filler(300000, 9)},
        {"text.txt", payloadtest::Filler(70000, 0, true)},
        {"empty", ""},
    };
    std::vector<mw::PayloadInput> inputs;
    for (const auto& [name, content] : files) {
        mwtest::WriteFile(dir / name, content);
        mw::PayloadInput in;
        in.directory = "<InstallPath>\\Sub";
        in.source = "build\\" + name;
        in.file = dir / name;
        inputs.push_back(in);
    }
    std::ofstream out(archive, std::ios::binary);
    mw::WritePayload(inputs, out);
    return files;
}

// A copy of the built installer in `dir` that carries `archive` as its payload.
std::string InstallerWithPayload(const mwtest::ScratchDir& dir, const std::string& archive) {
    const std::string installer = dir / "installer";
    fs::copy_file(mwtest::BinPath("InstallArbolux7.13c"), installer);
    EXPECT_EQ(Shell("'" + mwtest::BinPath("mwtool") + "' res set '" + installer +
                    "' payload 134 0 '" + archive + "'"),
              0);
    return installer;
}

TEST(PayloadSourceResource, ReadsThePayloadOfABuiltInstallerInPlace) {
    mwtest::ScratchDir dir, install;
    const std::string archive = dir / "payload.bz2";
    const auto files = MakeArchive(dir, archive);
    const std::string installer = InstallerWithPayload(dir, archive);

    std::error_code ec;
    auto bundle = mw::platform::OpenResources(installer, ec);
    ASSERT_TRUE(bundle) << ec.message();
    const auto bytes = bundle->Find(mw::kPayloadResourceType, mw::kPayloadResourceName);
    ASSERT_EQ(bytes.size(), fs::file_size(archive));

    mw::PayloadSource source;
    source.Open(bundle.get());
    EXPECT_EQ(static_cast<const void*>(source.data()), static_cast<const void*>(bytes.data()));
    EXPECT_EQ(source.size(), bytes.size());

    Recorder rec;
    rec.onStarted = [&] {
        ASSERT_TRUE(source.Verify());
        source.Rewind();
    };
    ASSERT_TRUE(mw::Extract(source, install.path(), "", "", rec.Callback()));
    EXPECT_EQ(rec.events.back().substr(0, 9 + std::to_string(bytes.size()).size()),
              "Finished " + std::to_string(bytes.size()));
    for (const auto& [name, content] : files)
        EXPECT_TRUE(mwtest::ReadFile(install / ("Sub/" + name)) == content) << name;
}

// Read from the resource bundle, as the installer reads it, the payload's
// pages are given back as the check and the extraction go on: a payload much
// larger than memory must not stay resident.
TEST(PayloadSourceResource, PagesReadAreGivenBack) {
    mwtest::ScratchDir dir;
    const std::string archive = dir / "payload.bz2";
    const std::string stream = payloadtest::Bzip2(payloadtest::Filler(12 << 20, 3));
    mwtest::WriteFile(archive, stream);
    const std::string installer = InstallerWithPayload(dir, archive);
    std::error_code ec;
    auto bundle = mw::platform::OpenResources(installer, ec);
    ASSERT_TRUE(bundle) << ec.message();
    const long payloadKb = static_cast<long>(stream.size() / 1024);
    for (const char* workers : {"1", "2"}) {
        mwtest::EnvGuard env;
        env.Set("MW_VERIFY_THREADS", workers);
        mw::PayloadSource source;
        source.Open(bundle.get());
        ASSERT_EQ(source.size(), stream.size());
        ASSERT_TRUE(source.Verify()) << workers;
        EXPECT_LT(mwtest::ResidentKbOfMappingAt(source.data()), payloadKb / 4)
            << "after the check with " << workers << " workers";
        source.Rewind();
        uint64_t decoded = 0;
        mw::DecodePayload(source, [&](const char*, std::size_t n) {
            decoded += n;
            return n;
        });
        EXPECT_EQ(decoded, uint64_t(12) << 20);
        EXPECT_LT(mwtest::ResidentKbOfMappingAt(source.data()), payloadKb / 4)
            << "after the decode, " << workers << " workers";
    }
}

TEST(PayloadSourceResource, MissingResourceGivesAnEmptySource) {
    mwtest::ScratchDir dir;
    const std::string installer = dir / "installer";
    fs::copy_file(mwtest::BinPath("InstallArbolux7.13c"), installer);
    std::error_code ec;
    auto bundle = mw::platform::OpenResources(installer, ec);
    ASSERT_TRUE(bundle) << ec.message();
    if (!bundle->Find(mw::kPayloadResourceType, mw::kPayloadResourceName).empty()) {
        ASSERT_EQ(
            Shell("'" + mwtest::BinPath("mwtool") + "' res remove '" + installer + "' payload 134"),
            0);
    }
    bundle = mw::platform::OpenResources(installer, ec);
    mw::PayloadSource source;
    source.Open(bundle.get());  // and the test program itself has no payload either
    EXPECT_EQ(source.size(), 0u);
    EXPECT_THROW(source.Verify(), boost::iostreams::bzip2_error);
    source.Rewind();
    Recorder rec;
    EXPECT_FALSE(mw::Extract(source, dir.path(), "", "", rec.Callback()));
    EXPECT_EQ(rec.events.back(), "Failed compress:6 ");
}

TEST(PayloadSourceFile, VerifyRewindAndExtractFromAMappedFile) {
    mwtest::ScratchDir dir, install;
    const std::string archive = dir / "payload.bz2";
    const auto files = MakeArchive(dir, archive);
    mw::PayloadSource source;
    ASSERT_FALSE(source.OpenFile(archive));
    for (int pass = 0; pass < 2; ++pass) {  // the verification pass may run again
        EXPECT_TRUE(source.Verify());
        source.Rewind();
    }
    Recorder rec;
    ASSERT_TRUE(mw::Extract(source, install.path(), "", "", rec.Callback()));
    for (const auto& [name, content] : files)
        EXPECT_TRUE(mwtest::ReadFile(install / ("Sub/" + name)) == content) << name;
    EXPECT_EQ(source.OpenFile(dir / "missing"), std::error_code(ENOENT, std::system_category()));
}

// Streams of other makers than our own compressor: the bzip2 program at two
// block sizes and mwtool's archives. Verify on several threads gives the
// sequential result for each, and for copies damaged in every block.
TEST(PayloadSourceVerify, StreamsOfOtherMakersGiveTheSequentialResult) {
    mwtest::ScratchDir dir;
    std::string raw;
    for (uint32_t i = 0; i < 6; ++i) raw += payloadtest::Filler(60000, i, i % 2 == 0);
    mwtest::WriteFile(dir / "raw", raw);
    std::vector<std::pair<std::string, std::string>> streams;
    for (const char* level : {"-1", "-9"}) {
        const mwtest::RunResult r = mwtest::RunProgram("bzip2", {level, "-c", dir / "raw"});
        ASSERT_EQ(r.code, 0) << r.err;
        streams.emplace_back(std::string("bzip2 ") + level, r.out);
    }
    // mwtool's blocks are 900 kB: files enough for two.
    std::string manifest;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i);
        mwtest::WriteFile(dir / name, payloadtest::Filler(250000, 20 + i, i % 2 == 1));
        manifest += "0\t<InstallPath>\t" + name + "\n";
    }
    mwtest::WriteFile(dir / "manifest.tsv", manifest);
    const mwtest::RunResult made =
        mwtest::RunProgram(mwtest::BinPath("mwtool"),
                           {"payload", "create", dir / "payload.bz2", dir / "manifest.tsv"});
    ASSERT_EQ(made.code, 0) << made.err;
    streams.emplace_back("mwtool payload create", mwtest::ReadFile(dir / "payload.bz2"));

    for (const auto& [maker, stream] : streams) {
        ASSERT_GE(mw::FindBlockMagics(stream.data(), stream.size(), 0, stream.size() * 8).size(),
                  maker == "bzip2 -9" ? 1u : 2u)
            << maker;
        EXPECT_EQ(payloadtest::ExpectSameVerify(stream, maker), "true");
        EXPECT_EQ(mw::CheckBzip2Blocks(stream.data(), stream.size(), 2), mw::BlockCheck::Intact)
            << maker;
        if (maker == "bzip2 -9") continue;  // one block: nothing the others do not show
        for (const auto& [what, damaged] : payloadtest::DamagedCopies(stream))
            EXPECT_NE(payloadtest::ExpectSameVerify(damaged, maker + ", " + what), "true")
                << maker << ", " << what;
    }
}

// From a mapped file, on two threads: the source is left as the sequential
// decode leaves it, and reads again from its start after Rewind.
TEST(PayloadSourceVerify, TwoWorkersOnAMappedFileThenExtract) {
    mwtest::ScratchDir dir, install;
    const std::string archive = dir / "payload.bz2";
    const auto files = MakeArchive(dir, archive);
    mwtest::EnvGuard env;
    env.Set("MW_VERIFY_THREADS", "2");
    mw::PayloadSource source;
    ASSERT_FALSE(source.OpenFile(archive));
    ASSERT_TRUE(source.Verify());
    EXPECT_TRUE(source.eof());  // left as read to the end
    source.Rewind();
    Recorder rec;
    ASSERT_TRUE(mw::Extract(source, install.path(), "", "", rec.Callback()));
    for (const auto& [name, content] : files)
        EXPECT_TRUE(mwtest::ReadFile(install / ("Sub/" + name)) == content) << name;
}

}  // namespace
