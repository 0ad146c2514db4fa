// What the elevated run is given: the argument vector and the settings kept.
#include "platform/elevation.hpp"

#include <gtest/gtest.h>

#include "platform/system_info.hpp"

namespace mw::platform {
namespace {

TEST(ElevationTest, KeepsDisplayLanguageHomeAndRootOnly) {
    const std::vector<std::string> env{
        "DISPLAY=:1",
        "XAUTHORITY=/home/u/.Xauthority",
        "WAYLAND_DISPLAY=wayland-0",
        "MW_ROOT=/srv/stage",
        "LANG=de_DE.UTF-8",
        "LANGUAGE=de:en",
        "LC_ALL=de_DE.UTF-8",
        "LC_MESSAGES=fr_FR.UTF-8",
        "HOME=/home/u",
        "PATH=/home/u/bin:/usr/bin",
        "LD_PRELOAD=/tmp/evil.so",
        "TMPDIR=/home/u/tmp",
        "MW_NO_ELEVATION=0",
        "LC=x",
        "DISPLAYX=:2",
        "=odd",
        "no-equals-sign",
    };
    const std::vector<std::string> want{
        "DISPLAY=:1",
        "XAUTHORITY=/home/u/.Xauthority",
        "WAYLAND_DISPLAY=wayland-0",
        "MW_ROOT=/srv/stage",
        "LANG=de_DE.UTF-8",
        "LANGUAGE=de:en",
        "LC_ALL=de_DE.UTF-8",
        "LC_MESSAGES=fr_FR.UTF-8",
        "MW_NO_ELEVATION=1",
    };
    EXPECT_EQ(ElevationEnvironment(env), want);
}

TEST(ElevationTest, CommandRunsTheProgramThroughEnv) {
    const auto cmd = ElevationCommand("/usr/bin/pkexec", "/opt/x/Install", {"a b", ""},
                                      {"DISPLAY=:0", "PATH=/bin"});
    const std::vector<std::string> want{
        "/usr/bin/pkexec", "env", "DISPLAY=:0", "MW_NO_ELEVATION=1", "/opt/x/Install", "a b", ""};
    EXPECT_EQ(cmd, want);
}

#if defined(__x86_64__)
TEST(SystemInfoTest, Sse2IsPartOfEveryX86_64Processor) {
    EXPECT_TRUE(ProcessorSupportsSse2());
}
#endif

}  // namespace
}  // namespace mw::platform
