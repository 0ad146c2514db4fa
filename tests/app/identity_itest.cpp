// Identity and version resources of real programs: the built installer, and
// copies of a built program that read their own resource while they run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/identity.hpp"
#include "app/version_info.hpp"
#include "platform/resource_writer.hpp"
#include "support/test_env.hpp"

namespace mp = mw::platform;

namespace {

// Runs `program version --own` and returns its standard output.
std::string OwnVersion(const std::string& program, const mwtest::ScratchDir& dir) {
    std::string out = dir / "out.txt";
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execl(program.c_str(), program.c_str(), "version", "--own", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return mwtest::ReadFile(out);
}

std::string Line(const std::string& text, const std::string& key) {
    std::size_t at = text.find(key + ": ");
    if (at == std::string::npos) return "<none>";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

}  // namespace

TEST(Identity, InstallerVersionResource) {
    mw::VersionInfo v = mw::VersionInfo::OfFile(mwtest::BinPath("InstallArbolux7.13c"));
    ASSERT_FALSE(v.Block().empty());
    EXPECT_EQ(v.Version(), 0x0002000400010001u);
    EXPECT_EQ(v.Flags(), 0u);
    EXPECT_EQ(v.TranslationKeys(), std::vector<std::string>{"040004b0"});
    const std::pair<const char*, std::string> values[] = {
        {"ProductName", "Install"},
        {"ProductVersion", "2.04a"},
        {"FileVersion", "2.4.1.1"},
        {"FileDescription", "Installeur " + mw::ProductDisplayName(false)},
        {"CompanyName", std::string(mw::makerName)},
        {"InternalName", "Install"},
        {"OriginalFilename", "InstallArbolux7.13c.exe"},
        {"ApplicationId", "Arbolux7"},
    };
    for (const auto& [name, value] : values) EXPECT_EQ(v.String(name), value) << name;
    EXPECT_EQ(v.ProductText(false), "Install 2.04a");
}

TEST(Identity, RunningProgramFixesItsIdentityFromItsOwnResource) {
    struct Case {
        const char* fileName;
        std::vector<std::pair<std::string, std::string>> strings;  // none: no version resource
        bool withVersion;
        std::string expected;
    };
    const Case cases[] = {
        {"tool", {{"ApplicationId", "Arbolux7"}, {"ProductName", "Install"}}, true, "Arbolux7"},
        {"tool", {{"ProductName", "Install"}}, true, "Install"},
        {"tool", {{"CompanyName", "Meridan Works"}}, true, "tool"},
        {"Arbolux.exe", {}, false, "Arbolux"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        mwtest::ScratchDir dir;
        std::string program = dir / c.fileName;
        std::filesystem::copy_file(mwtest::BinPath("mwtool"), program);
        if (c.withVersion) {
            mp::VersionDescription d;
            d.stringTables.push_back({"040004b0", c.strings});
            d.translations.push_back({0x0400, 1200});
            mp::ResourceMap m;
            m[{mp::rt::Version, 1, 0}] = mp::BuildVersionResource(d);
            ASSERT_FALSE(mp::WriteResources(program, m));
        }
        EXPECT_EQ(Line(OwnVersion(program, dir), "application-id"), c.expected);
    }
}
