// Replays a fuzz target's corpus through its LLVMFuzzerTestOneInput, so that
// every input the fuzzer kept runs in each ordinary test run (and under the
// sanitizers in that build). Arguments: corpus folders or single files. An
// empty or missing corpus is a failure, not a silent pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
                if (!entry.is_regular_file()) continue;
                if (!RunFile(entry.path())) return 1;
                ++count;
            }
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            if (!RunFile(arg)) return 1;
            ++count;
        } else {
            std::fprintf(stderr, "no corpus at %s\n", argv[i]);
            return 1;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "the corpus is empty\n");
        return 1;
    }
    std::printf("%zu inputs replayed\n", count);
    return 0;
}
