// The uninstaller's plan: which listed items go, which stay, and in which
// order, from the entries of an install log.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "product/uninstall.hpp"

namespace mw::product {
void PrintTo(const UninstallAction& a, std::ostream* os) {
    static const char* const kNames[] = {"Shortcut", "File", "Folder", "UninstallKey"};
    *os << kNames[static_cast<int>(a.kind)] << " " << a.path;
}
}  // namespace mw::product

namespace {

using mw::JournalEntry;
using mw::JournalEntryKind;
using mw::product::PlanUninstall;
using mw::product::UninstallAction;
using Kind = UninstallAction::Kind;

const std::string kApp = "/opt/Meridan Works/Arbolux 7";
const std::string kData = "/var/opt/Meridan Works/Arbolux";
const std::string kLog = kApp + "/Uninstall.ulog";
const std::string kSelf = kApp + "/Uninstall";

JournalEntry Entry(JournalEntryKind kind, std::string path, int32_t fileKind = -1,
                   bool succeeded = true) {
    JournalEntry e;
    e.kind = kind;
    e.path = std::move(path);
    e.fileKind = fileKind;
    e.succeeded = succeeded;
    return e;
}
JournalEntry Folder(std::string path) {
    return Entry(JournalEntryKind::CreatedFolder, std::move(path));
}
JournalEntry File(std::string path, int32_t fileKind) {
    return Entry(JournalEntryKind::InstalledFile, std::move(path), fileKind);
}

// A log as an installation writes it: folders as they were made, files,
// shortcuts, the uninstall key, the registration run and the runtime update.
std::list<JournalEntry> InstallationLog() {
    return {
        Folder("/opt/Meridan Works"),
        Folder(kApp),
        File(kSelf, 2),
        Folder(kApp + "/Lang"),
        File(kApp + "/Lang/Arbolux.en.dll", 0),
        File("/tmp/meridan_x/DSETUP.dll", 5),
        Folder("/var/opt/Meridan Works"),
        Folder(kData),
        File(kData + "/Trees.ax-lib", 3),
        Folder("/var/opt/Meridan Works/Textures"),
        File("/var/opt/Meridan Works/Textures/Bark.jpg", 4),
        File(kApp + "/Arbolux", 1),
        Entry(JournalEntryKind::ProgramShortcut, "/menu/Arbolux 7.13c.desktop"),
        Entry(JournalEntryKind::DesktopShortcut, "/home/u/Desktop/Arbolux 7.13c.desktop"),
        Entry(JournalEntryKind::DirectXUpdate, "Mise à jour de DirectX..."),
        Entry(JournalEntryKind::UninstallKey, ""),
        Entry(JournalEntryKind::ApplicationRegistration, ""),
    };
}

TEST(UninstallPlan, RemovesNewestFirstByGroupAndLogAndItselfLast) {
    const auto plan = PlanUninstall(InstallationLog(), kLog, kSelf, /*removeData=*/false);
    const std::vector<UninstallAction> expected = {
        {Kind::Shortcut, "/home/u/Desktop/Arbolux 7.13c.desktop"},
        {Kind::Shortcut, "/menu/Arbolux 7.13c.desktop"},
        {Kind::File, kApp + "/Arbolux"},
        {Kind::File, "/var/opt/Meridan Works/Textures/Bark.jpg"},
        {Kind::File, kApp + "/Lang/Arbolux.en.dll"},
        {Kind::Folder, "/var/opt/Meridan Works/Textures"},
        {Kind::Folder, kApp + "/Lang"},
        {Kind::UninstallKey, ""},
        {Kind::File, kLog},
        {Kind::File, kSelf},
        {Kind::Folder, kApp},
        {Kind::Folder, "/opt/Meridan Works"},
    };
    EXPECT_EQ(plan.actions, expected);
    EXPECT_EQ(plan.program, kApp + "/Arbolux");
    EXPECT_TRUE(plan.registered);
    // The data file and every folder above it stay.
    EXPECT_EQ(plan.kept,
              (std::vector<std::string>{kData + "/Trees.ax-lib", kData, "/var/opt/Meridan Works"}));
}

TEST(UninstallPlan, RemoveDataTakesDataFilesAndTheirFolders) {
    const auto plan = PlanUninstall(InstallationLog(), kLog, kSelf, /*removeData=*/true);
    EXPECT_TRUE(plan.kept.empty());
    auto at = [&](const UninstallAction& a) {
        return std::find(plan.actions.begin(), plan.actions.end(), a) - plan.actions.begin();
    };
    const auto data = at({Kind::File, kData + "/Trees.ax-lib"});
    const auto folder = at({Kind::Folder, kData});
    const auto parent = at({Kind::Folder, "/var/opt/Meridan Works"});
    const auto end = static_cast<long>(plan.actions.size());
    ASSERT_LT(parent, end);
    EXPECT_LT(data, folder);
    EXPECT_LT(folder, parent);
}

TEST(UninstallPlan, ActsOnlyOnWhatSucceededAndOnceOnDuplicates) {
    // An update carries the earlier entries ahead of its own; failed entries
    // left nothing behind (a failed shortcut's earlier one was put back).
    const std::list<JournalEntry> log = {
        File(kApp + "/Lang/Arbolux.de.dll", 0),
        Entry(JournalEntryKind::ProgramShortcut, "/menu/Arbolux 7.13c.desktop"),
        File(kApp + "/Lang/Arbolux.de.dll", 0),
        Entry(JournalEntryKind::DesktopShortcut, "/home/u/Desktop/Arbolux 7.13c.desktop", -1,
              /*succeeded=*/false),
        Entry(JournalEntryKind::InstalledFile, "/etc/not-ours", 0, /*succeeded=*/false),
        Entry(JournalEntryKind::ApplicationRegistration, "", -1, /*succeeded=*/false),
    };
    const auto plan = PlanUninstall(log, kLog, kSelf, false);
    const std::vector<UninstallAction> expected = {
        {Kind::Shortcut, "/menu/Arbolux 7.13c.desktop"},
        {Kind::File, kApp + "/Lang/Arbolux.de.dll"},
        {Kind::File, kLog},
    };
    EXPECT_EQ(plan.actions, expected);
    EXPECT_TRUE(plan.program.empty());
    EXPECT_FALSE(plan.registered);
}

TEST(UninstallPlan, AnotherUninstallerIsAFileLikeAnyOther) {
    // The log names an uninstaller elsewhere: it is removed in its turn and
    // the running one, which the log does not list, stays.
    const std::list<JournalEntry> log = {Folder("/other"), File("/other/Uninstall", 2)};
    const auto plan = PlanUninstall(log, kLog, kSelf, false);
    const std::vector<UninstallAction> expected = {
        {Kind::File, "/other/Uninstall"},
        {Kind::Folder, "/other"},
        {Kind::File, kLog},
    };
    EXPECT_EQ(plan.actions, expected);
}

}  // namespace
