// The installer's preconditions: object names from the ApplicationId, the
// running-product check against real processes, the interface library.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/preconditions.hpp"
#include "platform/roots.hpp"
#include "support/helper_process.hpp"
#include "support/test_env.hpp"

namespace mw {
namespace {

TEST(PreconditionsTest, ObjectNamesComeFromTheApplicationId) {
    EXPECT_EQ(InstanceMutexName("Arbolux7"), "Arbolux7.{5ead623c-dfcd-474d-8e3c-e6978cac039e}");
    EXPECT_EQ(InstanceCounterName("Arbolux7"), "Arbolux7.{a3526b56-ca7c-4e16-8a26-da7758a378fd}");
    // The objects add the global prefix themselves.
    EXPECT_EQ(platform::LockFileName("Global\\" + InstanceMutexName("Arbolux7")),
              "Global%5CArbolux7.{5ead623c-dfcd-474d-8e3c-e6978cac039e}");
}

TEST(PreconditionsTest, AdministratorIsTheEffectiveRoot) {
    EXPECT_EQ(IsAdministrator(), ::geteuid() == 0);
}

TEST(PreconditionsTest, ProductRunsWhileAnotherProcessIsCounted) {
    mwtest::ScratchDir dir;
    ::setenv("MW_ROOT", dir.path().c_str(), 1);
    platform::ResetRootsForTesting();
    const std::string name = InstanceCounterName("Arbolux7");
    InstanceCounter counter(name);
    EXPECT_FALSE(ProductIsRunning(counter));
    {
        mwtest::HelperProcess product({"count", name});
        ASSERT_EQ(product.ReadLine(), "counted 1");
        EXPECT_TRUE(ProductIsRunning(counter));
        // Another identity does not count.
        mwtest::HelperProcess other({"count", InstanceCounterName("Other")});
        ASSERT_EQ(other.ReadLine(), "counted 1");
        product.Kill();
        // Every check counts again: the product has gone.
        EXPECT_FALSE(ProductIsRunning(counter));
    }
    ::unsetenv("MW_ROOT");
    platform::ResetRootsForTesting();
}

}  // namespace
}  // namespace mw
