#include "platform/ui/fltk_ui.hpp"

#include <FL/Enumerations.H>
#include <gtest/gtest.h>

#include "app/preconditions.hpp"
#include "platform/message_box.hpp"
#include "platform/system_info.hpp"
#include "support/env_guard.hpp"

namespace mw::platform {
namespace {

TEST(FltkUserInterface, InstallingItGivesTheToolkitVersionAndTheRealBoxes) {
    mwtest::EnvGuard env;
    env.Set("MW_HEADLESS", std::nullopt);
    InstallFltkUserInterface();
    // The headers this was compiled with belong to the library linked in.
    EXPECT_EQ(ToolkitVersion(), (uint32_t(FL_MAJOR_VERSION) << 16) | uint32_t(FL_MINOR_VERSION));
    EXPECT_GE(CommonControlsVersion(), kMinimumCommonControlsVersion);
    EXPECT_EQ(dynamic_cast<HeadlessMessageBoxes*>(&MessageBoxes()), nullptr);
    SetInteractiveMessageBoxes(nullptr);
    SetToolkitVersion(0);
}

}  // namespace
}  // namespace mw::platform
