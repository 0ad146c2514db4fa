// The payload read where it lives: resource 260/134 of a built installer,
// mapped with the rest of its bundle, and archive files mapped by the tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <filesystem>
#include <fstream>

#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_test_support.hpp"
#include "engine/payload_writer.hpp"
#include "platform/resources.hpp"
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

TEST(PayloadSourceResource, ReadsThePayloadOfABuiltInstallerInPlace) {
    mwtest::ScratchDir dir, install;
    const std::string archive = dir / "payload.bz2";
    const auto files = MakeArchive(dir, archive);
    const std::string installer = dir / "installer";
    fs::copy_file(mwtest::BinPath("InstallArbolux7.13c"), installer);
    ASSERT_EQ(Shell("'" + mwtest::BinPath("mwtool") + "' res set '" + installer +
                    "' payload 134 0 '" + archive + "'"),
              0);

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

}  // namespace
