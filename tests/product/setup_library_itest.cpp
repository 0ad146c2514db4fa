// The runtime setup library, loaded the way the installer loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "product/setup_library.h"
#include "product_fixture.hpp"
#include "support/test_env.hpp"

namespace {

const char* const kRedistributable[] = {
    "dsetup32.dll",
    "dxdllreg_x86.cab",
    "dxupdate.cab",
    "Jun2010_D3DCompiler_43_x86.cab",
    "Jun2010_d3dx9_43_x86.cab",
};

std::vector<uint32_t> g_reasons;

uint32_t Record(uint32_t reason, uint32_t, const char*, const char*, void*) {
    g_reasons.push_back(reason);
    return 1;
}

// The library keeps its machine root once it has opened the store, so one
// scratch machine serves every step, in order.
TEST(SetupLibrary, ChecksTheRedistributableAndRecordsTheRuntime) {
    producttest::ScratchMachine m;
    const std::string folder = m / "work";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(mwtest::BinPath("DSETUP.dll"), folder + "/DSETUP.dll");
    // The archive's names may reach the disk in another case.
    for (const char* name : kRedistributable)
        mwtest::WriteFile(folder + "/" + (name == kRedistributable[1] ? "DXDLLREG_X86.CAB" : name),
                          "cab");

    void* library = dlopen((folder + "/DSETUP.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto getVersion =
        reinterpret_cast<DirectXSetupGetVersionFn>(dlsym(library, "DirectXSetupGetVersion"));
    auto setCallback =
        reinterpret_cast<DirectXSetupSetCallbackFn>(dlsym(library, "DirectXSetupSetCallback"));
    auto setup = reinterpret_cast<DirectXSetupWFn>(dlsym(library, "DirectXSetupW"));
    ASSERT_TRUE(getVersion && setCallback && setup);
    // Nothing else is exported: the library's own copy of our code stays inside.
    EXPECT_EQ(dlsym(library, "_ZN2mw8platform15MachineRegistryEv"), nullptr);

    uint32_t version = 0, revision = 0;
    ASSERT_NE(getVersion(&version, &revision), 0);
    EXPECT_EQ(version, 0x00040009u);
    EXPECT_EQ(revision, 904u);
    ASSERT_NE(setCallback(&Record), 0);

    // A file missing: a negative result and nothing recorded.
    std::filesystem::rename(folder + "/dxupdate.cab", folder + "/dxupdate.old");
    EXPECT_LT(setup(nullptr, folder.c_str(), DSETUP_DIRECTX), 0);
    EXPECT_FALSE(m.KeyExists("Software\\Microsoft\\DirectX"));
    // A folder in its place is not the file either.
    std::filesystem::create_directory(folder + "/dxupdate.cab");
    EXPECT_LT(setup(nullptr, folder.c_str(), DSETUP_DIRECTX), 0);
    std::filesystem::remove(folder + "/dxupdate.cab");
    std::filesystem::rename(folder + "/dxupdate.old", folder + "/dxupdate.cab");

    g_reasons.clear();
    EXPECT_EQ(setup(nullptr, folder.c_str(), DSETUP_DIRECTX), 0);
    EXPECT_GE(g_reasons.size(), 3u);
    for (uint32_t reason : g_reasons) EXPECT_EQ(reason, DSETUP_CB_MSG_PROGRESS);
    EXPECT_EQ(m.Text("Software\\Microsoft\\DirectX", "Version"), "4.09.00.0904");

    // Without a folder it looks beside itself; without a callback it is quiet.
    ASSERT_NE(setCallback(nullptr), 0);
    EXPECT_EQ(setup(nullptr, nullptr, DSETUP_DIRECTX), 0);
    dlclose(library);
}

}  // namespace
