// Opening a bundle and reaching its payload must not depend on the
// payload's size (the file is mapped, the payload read in place), and a
// string look-up is a binary search plus a walk through one block.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/resource_writer.hpp"
#include "platform/resources.hpp"

namespace mp = mw::platform;

namespace {

std::string BundleFile(std::size_t payloadBytes) {
    std::string path =
        (std::filesystem::temp_directory_path() /
         ("mw-res-bench-" + std::to_string(::getpid()) + "-" + std::to_string(payloadBytes)))
            .string();
    mp::ResourceMap m;
    m[{mp::rt::Payload, 134, 0}] = std::vector<std::byte>(payloadBytes, std::byte{0x42});
    for (uint32_t block = 1; block <= 1200; block += 7) {
        std::vector<std::byte> strings;
        for (int i = 0; i < 16; ++i) {
            strings.push_back(std::byte{5});
            strings.push_back(std::byte{0});
            for (char c : std::string("hello")) {
                strings.push_back(std::byte(c));
                strings.push_back(std::byte{0});
            }
        }
        m[{mp::rt::String, block, 1033}] = strings;
    }
    std::ofstream(path) << "program";
    if (mp::WriteResources(path, m)) throw std::runtime_error("cannot write " + path);
    return path;
}

void BM_OpenAndReachPayload(benchmark::State& state) {
    std::string path = BundleFile(std::size_t(state.range(0)) << 20);
    for (auto _ : state) {
        std::error_code ec;
        auto bundle = mp::OpenResources(path, ec);
        auto payload = bundle->Find(mp::rt::Payload, 134);
        benchmark::DoNotOptimize(payload[payload.size() / 2]);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenAndReachPayload)->Arg(1)->Arg(9)->Arg(64)->Unit(benchmark::kMicrosecond);

void BM_LoadStringResource(benchmark::State& state) {
    std::string path = BundleFile(1);
    std::error_code ec;
    auto bundle = mp::OpenResources(path, ec);
    uint32_t id = (701 - 1) * 16 + 15;  // last string of a block in the middle
    for (auto _ : state) benchmark::DoNotOptimize(mp::LoadStringResource(*bundle, id));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadStringResource);

}  // namespace

BENCHMARK_MAIN();
