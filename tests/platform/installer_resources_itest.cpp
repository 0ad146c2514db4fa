// The resources the build appended to the installer: templates, pictures
// and manifest, read back the way the wizard will read them.
#include <gtest/gtest.h>

#include "platform/dialog_template.hpp"
#include "platform/image.hpp"
#include "platform/resources.hpp"
#include "support/test_env.hpp"

namespace mp = mw::platform;
using K = mp::ControlKind;

namespace {

const mp::ResourceBundle& Installer() {
    static std::unique_ptr<mp::ResourceBundle> bundle = [] {
        std::error_code ec;
        auto b = mp::OpenResources(mwtest::BinPath("InstallArbolux7.13c"), ec);
        EXPECT_TRUE(b) << ec.message();
        return b;
    }();
    return *bundle;
}

}  // namespace

TEST(InstallerResources, DialogTemplates) {
    struct Expected {
        uint32_t id;
        int width, height;  // 0: not fixed
        bool page;
        std::vector<std::pair<int32_t, K>> controls;  // in tab order
    };
    const Expected dialogs[] = {
        {100, 192, 0, false, {{-1, K::Icon}, {1019, K::Text}, {1, K::DefPushButton}}},
        {102,
         273,
         139,
         false,
         {{1, K::DefPushButton},
          {3, K::PushButton},
          {2, K::PushButton},
          {1005, K::WhiteRect},
          {-1, K::Bitmap},
          {1002, K::EtchedLine}}},
        {132,
         251,
         84,
         true,
         {{1022, K::Text},
          {1023, K::ComboBoxEx},
          {1020, K::Text},
          {1016, K::Text},
          {1003, K::Text}}},
        {133,
         278,
         86,
         true,
         {{1008, K::GroupBox},
          {1009, K::Text},
          {1007, K::Edit},
          {1006, K::PushButton},
          {1003, K::Text}}},
        {134,
         278,
         105,
         true,
         {{1012, K::GroupBox},
          {1011, K::CheckBox},
          {1007, K::Edit},
          {1006, K::PushButton},
          {1010, K::CheckBox},
          {1003, K::Text}}},
        {135, 219, 97, true, {{1015, K::Edit}, {1014, K::ProgressBar}, {1003, K::Text}}},
        {136,
         279,
         82,
         true,
         {{1021, K::GroupBox}, {1018, K::RadioButton}, {1019, K::RadioButton}, {1003, K::Text}}},
        {137, 242, 56, true, {{1016, K::Text}, {1003, K::Text}}},
    };
    for (const Expected& e : dialogs) {
        SCOPED_TRACE(e.id);
        auto d = mp::LoadDialogTemplate(Installer(), e.id);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->width, e.width);
        if (e.height) {
            EXPECT_EQ(d->height, e.height);
        }
        std::vector<std::pair<int32_t, K>> controls;
        for (const auto& c : d->controls) controls.emplace_back(c.id, c.kind);
        EXPECT_EQ(controls, e.controls);
        if (e.page) {
            EXPECT_EQ(d->style, mp::dlg::Child | mp::dlg::Control) << "hidden child pages";
        } else {
            EXPECT_TRUE(d->style & mp::dlg::Popup);
            EXPECT_TRUE(d->style & mp::dlg::Caption);
        }
    }
    // The host's page area: right of 1005, above 1002. The method page is the
    // widest page and no page is taller than the area.
    auto host = mp::LoadDialogTemplate(Installer(), 102);
    ASSERT_TRUE(host);
    const auto* banner = host->Find(1005);
    const auto* separator = host->Find(1002);
    int areaWidth = host->width - (banner->x + banner->width);
    EXPECT_EQ(areaWidth, 209);
    EXPECT_EQ(separator->y, 112);
    int widest = 0;
    uint32_t widestId = 0;
    for (uint32_t id : {132, 133, 134, 135, 136, 137}) {
        auto page = mp::LoadDialogTemplate(Installer(), id);
        EXPECT_LE(page->height, separator->y) << id;
        if (page->width > widest) {
            widest = page->width;
            widestId = id;
        }
    }
    EXPECT_EQ(widestId, 136u);
    EXPECT_EQ(widest - areaWidth, 70);
    // The banner shows bitmap 137, the About box icon 128.
    EXPECT_EQ(host->controls[4].image, 137u);
    EXPECT_EQ(mp::LoadDialogTemplate(Installer(), 100)->controls[0].image, 128u);
}

TEST(InstallerResources, FlagsIconAndBanner) {
    for (uint32_t id = 141; id <= 161; ++id) {
        SCOPED_TRACE(id);
        auto entries = mp::IconGroupEntries(Installer(), id);
        if (id == 159) {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].width, 18);
        EXPECT_EQ(entries[0].height, 12);
        EXPECT_EQ(entries[0].bitCount, 24);
        auto flag = mp::LoadIconResource(Installer(), id, 16, 12);
        ASSERT_TRUE(flag);
        EXPECT_EQ(flag->width, 18);
        EXPECT_EQ(flag->Pixel(9, 6)[3], 255) << "flags are opaque";
    }
    auto icon = mp::LoadIconResource(Installer(), 128);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, 32);
    EXPECT_EQ(icon->Pixel(0, 0)[3], 0) << "rounded corner is transparent";
    EXPECT_EQ(icon->Pixel(16, 16)[3], 255);
    EXPECT_EQ(mp::LoadIconResource(Installer(), 128, 16, 16)->width, 16);

    auto dib = Installer().Find(mp::rt::Bitmap, 137);
    ASSERT_GE(dib.size(), 40u);
    EXPECT_EQ(uint8_t(dib[14]), 8) << "256 colours";
    auto banner = mp::LoadBitmapResource(Installer(), 137);
    ASSERT_TRUE(banner);
    EXPECT_EQ(banner->width, 87);
    EXPECT_EQ(banner->height, 171);
}

TEST(InstallerResources, Manifest) {
    auto bytes = Installer().Find(mp::rt::Manifest, 1);
    std::string xml(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_NE(xml.find(R"(level="requireAdministrator" uiAccess="false")"), std::string::npos);
    EXPECT_NE(xml.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"),
              std::string::npos);
    EXPECT_NE(xml.find("<dpiAware"), std::string::npos);
    std::size_t systems = 0;
    for (std::size_t at = 0; (at = xml.find("<supportedOS", at)) != std::string::npos; ++at)
        ++systems;
    EXPECT_EQ(systems, 5u) << "Vista, 7, 8, 8.1, 10";
}
