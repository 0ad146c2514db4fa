// The product's program as the installer and the uninstaller start it: the
// registration run and its undoing, on a scratch machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/identity.hpp"
#include "platform/process.hpp"
#include "product/registration.hpp"
#include "product_fixture.hpp"
#include "support/test_env.hpp"

namespace {

using producttest::ScratchMachine;

const std::string kMaker = "Software\\Meridan Works";
const std::string kProgramRel = "opt/Meridan Works/Arbolux 7/Arbolux";

std::string Share(const ScratchMachine& m, const std::string& rel) {
    return m / ("usr/local/share/" + rel);
}

TEST(ProductProgram, RegistersAndUnregistersLeavingTheMachineAsItWas) {
    ScratchMachine m;
    const std::string program = m.Install("Arbolux", kProgramRel);
    // A first run counts the program in, which leaves the counter's folder.
    ASSERT_EQ(mwtest::RunProgram(program, {"/bogus"}).code, mw::product::kUsage);
    const auto before = m.Snapshot();

    auto r = mwtest::RunProgram(program, {"/Register", "/Background", "/update=0007000c00010000"});
    ASSERT_EQ(r.code, 246) << r.err;
    EXPECT_EQ(m.Text(kMaker, "Arbolux 7 Path"), program);
    EXPECT_EQ(m.Text(kMaker, "Arbolux 7 Updated From"), "7.12.1.0");
    const std::string association = Share(m, "applications/meridan-arbolux7.desktop");
    EXPECT_EQ(mwtest::ReadFile(association), mw::product::AssociationText(program));
    EXPECT_EQ(mwtest::ReadFile(Share(m, "mime/packages/meridan-arbolux7.xml")),
              mw::product::MimePackageText());
    if (!mw::platform::FindProgram("desktop-file-validate").empty()) {
        const auto valid = mwtest::RunProgram("desktop-file-validate", {association});
        EXPECT_EQ(valid.code, 0) << valid.out << valid.err;
        EXPECT_EQ(valid.out + valid.err, "");
    }

    // A registration without an earlier version forgets the one recorded.
    r = mwtest::RunProgram(program, {"/Register", "/Background"});
    ASSERT_EQ(r.code, 246) << r.err;
    EXPECT_EQ(m.Text(kMaker, "Arbolux 7 Updated From"), std::nullopt);

    r = mwtest::RunProgram(program, {"/Unregister"});
    ASSERT_EQ(r.code, 246) << r.err;
    EXPECT_FALSE(m.KeyExists(kMaker));
    EXPECT_EQ(mwtest::DiffTrees(before, m.Snapshot()), "");
}

TEST(ProductProgram, FailedRegistrationIsNotReportedAsDone) {
    struct Case {
        const char* name;
        void (*plant)(const ScratchMachine&);
    };
    const Case cases[] = {
        {"a file where the MIME folder belongs",
         [](const ScratchMachine& m) {
             std::filesystem::create_directories(m / "usr/local/share");
             mwtest::WriteFile(m / "usr/local/share/mime", "not a folder");
         }},
        {"a link where the association goes",
         [](const ScratchMachine& m) {
             std::filesystem::create_directories(m / "usr/local/share/applications");
             mwtest::WriteFile(m / "victim", "untouched");
             std::filesystem::create_symlink(
                 m / "victim", m / "usr/local/share/applications/meridan-arbolux7.desktop");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchMachine m;
        const std::string program = m.Install("Arbolux", kProgramRel);
        c.plant(m);
        const auto r = mwtest::RunProgram(program, {"/Register", "/Background"});
        EXPECT_NE(r.code, 246);
        EXPECT_NE(r.code, 0);
        if (std::filesystem::exists(m / "victim")) {
            EXPECT_EQ(mwtest::ReadFile(m / "victim"), "untouched");
        }
    }
}

TEST(ProductProgram, UnregisterLeavesAnotherInstallationsRegistration) {
    ScratchMachine m;
    const std::string owner = m.Install("Arbolux", kProgramRel);
    const std::string other = m.Install("Arbolux", "opt/elsewhere/Arbolux");
    ASSERT_EQ(mwtest::RunProgram(owner, {"/Register", "/Background"}).code, 246);
    const auto registered = m.Snapshot();
    EXPECT_EQ(mwtest::RunProgram(other, {"/Unregister"}).code, 246);
    EXPECT_EQ(m.Text(kMaker, "Arbolux 7 Path"), owner);
    EXPECT_EQ(mwtest::DiffTrees(registered, m.Snapshot()), "");
}

}  // namespace
