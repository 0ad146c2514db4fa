// mwtool version: what a version resource says, read the way the installer
// reads its own and the installed program's.
#include <cinttypes>
#include <cstdio>

#include "app/identity.hpp"
#include "app/version_info.hpp"
#include "command.hpp"

namespace mwtool {
namespace {

constexpr const char* Usage = "version FILE|--own";

int Version(const Args& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: mwtool %s\n", Usage);
        return 2;
    }
    bool own = args[0] == "--own";
    mw::VersionInfo info =
        own ? mw::VersionInfo::OfRunningProgram() : mw::VersionInfo::OfFile(args[0]);
    if (info.Block().empty()) {
        std::fprintf(stderr, "mwtool version: %s has no version resource\n",
                     own ? "this program" : args[0].c_str());
        // The identity still has its last fall-back.
        if (own) std::printf("application-id: %s\n", mw::ApplicationId().c_str());
        return 1;
    }
    std::printf("version: 0x%016" PRIx64 "\n", info.Version());
    std::printf("flags: 0x%08" PRIx32 "\n", info.Flags());
    for (const auto& key : info.TranslationKeys()) std::printf("translation: %s\n", key.c_str());
    for (const char* name : {"ProductName", "ProductVersion", "FileVersion", "FileDescription",
                             "CompanyName", "InternalName", "OriginalFilename", "ApplicationId"}) {
        std::printf("%s: %s\n", name, info.String(name).c_str());
    }
    std::printf("product-text: %s\n", info.ProductText(false).c_str());
    std::printf("product-text-french: %s\n", info.ProductText(true).c_str());
    if (own) std::printf("application-id: %s\n", mw::ApplicationId().c_str());
    return 0;
}

const Command registration("version", Usage, Version);

}  // namespace
}  // namespace mwtool
