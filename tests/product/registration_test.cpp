// The program's command line and the texts it writes for its registration.
#include "product/registration.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using mw::product::ParseProgramCommand;
using Kind = mw::product::ProgramCommand::Kind;

TEST(ProgramCommand, Table) {
    struct Case {
        std::vector<std::string> args;
        Kind kind;
        std::optional<uint64_t> previous;
    };
    const Case cases[] = {
        {{}, Kind::Window, std::nullopt},
        {{"/Register", "/Background"}, Kind::Register, std::nullopt},
        {{"/register", "/BACKGROUND"}, Kind::Register, std::nullopt},
        {{"/Register"}, Kind::Register, std::nullopt},
        {{"/Register", "/Background", "/update=0007000c00010000"},
         Kind::Register,
         0x0007000C00010000},
        {{"/Register", "/Background", "/UPDATE=0007000C00010000"},
         Kind::Register,
         0x0007000C00010000},
        {{"/Unregister"}, Kind::Unregister, std::nullopt},
        // Not 16 hexadecimal digits, twice the same switch, strangers.
        {{"/Register", "/Background", "/update=7000c00010000"}, Kind::Invalid, std::nullopt},
        {{"/Register", "/Background", "/update=0007000c0001000g"}, Kind::Invalid, std::nullopt},
        {{"/Register", "/Background", "/update="}, Kind::Invalid, std::nullopt},
        {{"/Register", "/Background", "/Background"}, Kind::Invalid, std::nullopt},
        {{"/Register", "/update=0007000c00010000", "/update=0007000c00010000"},
         Kind::Invalid,
         std::nullopt},
        {{"/Background", "/Register"}, Kind::Invalid, std::nullopt},
        {{"/Unregister", "/Background"}, Kind::Invalid, std::nullopt},
        {{"--help"}, Kind::Invalid, std::nullopt},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        const auto command = ParseProgramCommand(c.args);
        EXPECT_EQ(command.kind, c.kind) << shown;
        EXPECT_EQ(command.previousVersion, c.previous) << shown;
    }
}

TEST(ProgramRegistration, ExecLineQuotesWhatTheDesktopRulesReserve) {
    struct Case {
        const char* program;
        const char* exec;
    };
    const Case cases[] = {
        {"/opt/Meridan Works/Arbolux 7/Arbolux", R"("/opt/Meridan Works/Arbolux 7/Arbolux" %f)"},
        // '"', '`', '$' and '\' take a backslash inside the quotes, which the
        // string escape then doubles; '%' is doubled.
        {R"(/opt/a"b)", R"("/opt/a\\"b" %f)"},
        {"/opt/$HOME`x`", R"("/opt/\\$HOME\\`x\\`" %f)"},
        {R"(/opt/back\slash)", R"("/opt/back\\\\slash" %f)"},
        {"/opt/100%", R"("/opt/100%%" %f)"},
    };
    for (const Case& c : cases) EXPECT_EQ(mw::product::DesktopExecLine(c.program), c.exec);
}

TEST(ProgramRegistration, DottedVersion) {
    EXPECT_EQ(mw::product::DottedVersion(0x0007000C00010000), "7.12.1.0");
    EXPECT_EQ(mw::product::DottedVersion(0xFFFF000D00030001), "65535.13.3.1");
}

}  // namespace
