// The string tables as they travel in the built installer: every text of the
// sources reaches the executable's bundle unchanged, and the catalog reading
// that bundle never shows a missing-translation marker.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/languages.hpp"
#include "platform/resources.hpp"
#include "support/string_tables.hpp"
#include "support/test_env.hpp"

namespace mw {
namespace {

TEST(BuiltCatalog, InstallerCarriesEveryTextOfTheSources) {
    std::error_code ec;
    std::unique_ptr<platform::ResourceBundle> bundle =
        platform::OpenResources(mwtest::BinPath("InstallArbolux7.13c"), ec);
    ASSERT_TRUE(bundle) << ec.message();
    const auto& tables = mwtest::SourceStringTables();
    // Every catalog text in twenty languages, and the framework's message
    // 61716 of the folder pages.
    ASSERT_EQ(tables.size(), 20u * CatalogBaseIds().size() + 1);
    EXPECT_EQ(tables.at(61716), "Enter no more than %1 characters.");
    for (const auto& [id, text] : tables) {
        EXPECT_EQ(platform::LoadStringResource(*bundle, id), text) << id;
    }

    SetStringSourceForTesting(
        [&bundle](uint32_t id) { return platform::LoadStringResource(*bundle, id); });
    ResetLocaleStateForTesting();
    for (LanguageIndex language = 0; language < kLanguageCount; ++language) {
        SelectLanguage(language);
        for (uint32_t baseId : CatalogBaseIds()) {
            const std::string text = LoadCatalogString(baseId);
            EXPECT_NE(text, "#") << language << " " << baseId;
            EXPECT_NE(text, "") << language << " " << baseId;
        }
    }
    SetStringSourceForTesting({});
    ResetLocaleStateForTesting();
}

}  // namespace
}  // namespace mw
