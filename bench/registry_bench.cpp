// Cost of registry operations on the SQLite store (each its own transaction;
// writes are synced to disk) and on the in-memory fake, for comparison.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/registry.hpp"
#include "platform/testing/registry_fake.hpp"

namespace {

using namespace mw::platform;

struct Store {
    std::string dir;
    std::unique_ptr<Registry> reg;
    explicit Store(bool real) {
        if (!real) {
            reg = MakeFakeRegistry();
        } else {
            std::string templ = std::filesystem::temp_directory_path() / "mw-regbench-XXXXXX";
            dir = ::mkdtemp(templ.data()) ? templ : "";
            std::error_code ec;
            reg = OpenRegistryAt(dir + "/registry.db", ec);
        }
        reg->CreateKey("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7");
    }
    ~Store() {
        reg.reset();
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
};

constexpr const char* kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arbolux 7";

void BM_GetValue(benchmark::State& state) {
    Store s(state.range(0) != 0);
    s.reg->SetValue(kKey, "DisplayName", RegValue::String("Arbolux 7.13c"));
    std::error_code ec;
    for (auto _ : state) benchmark::DoNotOptimize(s.reg->GetValue(kKey, "displayname", ec));
}
BENCHMARK(BM_GetValue)->Arg(0)->Arg(1);

void BM_SetValue(benchmark::State& state) {
    Store s(state.range(0) != 0);
    uint32_t n = 0;
    for (auto _ : state) s.reg->SetValue(kKey, "EstimatedSize", RegValue::Dword(++n));
}
BENCHMARK(BM_SetValue)->Arg(0)->Arg(1);

// The uninstall key's twelve values saved and restored, as a rollback does.
void BM_SaveRestore(benchmark::State& state) {
    Store s(state.range(0) != 0);
    for (int i = 0; i < 12; ++i)
        s.reg->SetValue(kKey, "Value" + std::to_string(i),
                        RegValue::String("some text of a value"));
    std::string file = std::filesystem::temp_directory_path() / "mw-regbench-save";
    for (auto _ : state) {
        std::filesystem::remove(file);
        s.reg->SaveKey(kKey, file);
        s.reg->RestoreKey(kKey, file);
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_SaveRestore)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
