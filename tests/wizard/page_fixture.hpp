// What the page and chooser tests share: a scratch machine root and home,
// the catalog's real texts, the installer's templates, the headless toolkit
// with recorded message boxes, and settings as start-up leaves them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/install_settings.hpp"
#include "app/languages.hpp"
#include "platform/headless_ui.hpp"
#include "platform/message_box.hpp"
#include "platform/roots.hpp"
#include "support/env_guard.hpp"
#include "support/installer_resources.hpp"
#include "support/string_tables.hpp"
#include "support/test_env.hpp"
#include "wizard/page.hpp"

namespace mwtest {

struct PageFixture {
    ScratchDir root;  // MW_ROOT
    ScratchDir home;  // HOME of the target user
    EnvGuard env;
    std::optional<ScopedSourceStrings> strings;
    ScopedInstallerResources resources;
    mw::platform::HeadlessToolkit ui;
    mw::platform::HeadlessMessageBoxes boxes;
    mw::InstallSettings settings;
    std::unique_ptr<mw::platform::Dialog> host;

    PageFixture() {
        env.Set("MW_ROOT", root.path());
        env.Set("HOME", home.path());
        env.Set("XDG_DATA_HOME", std::nullopt);
        env.SetUserLanguage("en_US.UTF-8");
        mw::platform::ResetRootsForTesting();
        strings.emplace();
        mw::SelectLanguage(mw::kEnglish);
        mw::platform::SetMessageBoxesForTesting(&boxes);
        host = ui.CreateDialog(*mw::LoadWizardTemplate(mw::dialog_id::Host), nullptr);
        mw::ApplyDefaultFolders(settings);
    }
    ~PageFixture() {
        mw::platform::SetMessageBoxesForTesting(nullptr);
        mw::platform::ResetRootsForTesting();
    }

    static mw::platform::HeadlessDialog& Of(mw::CWizardPage& page) {
        return static_cast<mw::platform::HeadlessDialog&>(page.dialog());
    }
    void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }
};

}  // namespace mwtest
