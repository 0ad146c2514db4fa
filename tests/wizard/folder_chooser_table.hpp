// One table of folder-chooser cases that runs on the headless toolkit and on
// a real window alike: each toolkit opens the chooser and plays the user
// (types the case's folder, if any, and presses Enter), and both are judged
// by the UI dump the chooser wrote when it opened.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/identity.hpp"
#include "support/env_guard.hpp"
#include "support/test_env.hpp"
#include "support/ui_dump_reader.hpp"
#include "wizard/folder_dialog.hpp"

namespace mwtest {

struct ChooserCase {
    const char* existing;  // folders made below a scratch folder
    const char* start;     // the start folder, below it
    const char* typed;     // typed before Enter, below it; nullptr: Enter alone
    const char* selected;  // the tree's selection when the chooser opened
    const char* edit;      // the edit box then, below the scratch folder
    const char* chosen;    // the result, below the scratch folder
};

inline const ChooserCase kChooserTable[] = {
    // The product folder does not exist yet: its parent is selected and the
    // edit box shows the whole start folder.
    {"opt/Meridan Works", "opt/Meridan Works/Arbolux 7", nullptr, "Meridan Works",
     "opt/Meridan Works/Arbolux 7", "opt/Meridan Works/Arbolux 7"},
    // Only opt exists: selecting it counts as a click, so the product
    // folder is proposed below it.
    {"opt", "opt/Meridan Works/Arbolux 7", nullptr, "opt", "opt/Arbolux 7", "opt/Arbolux 7"},
    {"opt/Meridan Works/Arbolux 7", "opt/Meridan Works/Arbolux 7", nullptr, "Arbolux 7",
     "opt/Meridan Works/Arbolux 7", "opt/Meridan Works/Arbolux 7"},
    // A typed folder that does not exist is taken as it is, and not made.
    {"opt", "opt", "New Folder/Deeper", "opt", "opt/Arbolux 7", "New Folder/Deeper"},
};

// Opens the chooser at `start` with the product folder and plays the user;
// returns the chooser's result.
using ChooserPlayer =
    std::function<std::string(const std::string& start, const std::string& typed)>;

inline void RunChooserTable(const ChooserPlayer& play) {
    for (const ChooserCase& c : kChooserTable) {
        SCOPED_TRACE(c.start);
        ScratchDir dir;
        std::filesystem::create_directories(dir / c.existing);
        EnvGuard env;
        const std::string dump = dir / "ui.dump";
        env.Set("MW_UI_DUMP", dump);
        const std::string chosen = play(dir / c.start, c.typed ? dir / c.typed : std::string());
        EXPECT_EQ(chosen, dir / c.chosen);
        std::optional<mw::platform::UiDumpWindow> shown = FirstUiDumpOf(dump, "FolderBrowser");
        ASSERT_TRUE(shown);
        const mw::platform::UiDumpControl* tree = DumpedControl(*shown, mw::folder_dialog::kTree);
        const mw::platform::UiDumpControl* edit = DumpedControl(*shown, mw::folder_dialog::kEdit);
        ASSERT_TRUE(tree && edit);
        EXPECT_EQ(tree->text, c.selected);
        EXPECT_EQ(edit->text, dir / c.edit);
        EXPECT_EQ(edit->states.find("hidden"), std::string::npos);
        // Confirming makes no folder.
        EXPECT_EQ(std::filesystem::exists(dir / c.chosen),
                  std::string(c.existing).starts_with(c.chosen));
    }
}

}  // namespace mwtest
