#include "app/identity.hpp"

#include "app/version_info.hpp"
#include "platform/program_path.hpp"

namespace mw {

std::string ProductKeyName(uint32_t code) {
    switch (code) {
        case productCode:
            return "Arbolux 7";
    }
    return {};
}

std::string ProductDisplayName(bool withoutVersion) {
    return withoutVersion ? "Arbolux" : "Arbolux 7.13c";
}

std::string ProgramNameWithoutExtension(std::string_view path) {
    std::size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() > 4) {
        std::string_view ext = name.substr(name.size() - 4);
        bool isExe = ext[0] == '.';
        for (std::size_t i = 1; i < 4; ++i) isExe = isExe && (ext[i] | 0x20) == ".exe"[i];
        if (isExe) name.remove_suffix(4);
    }
    return std::string(name);
}

std::string DetermineApplicationId(const VersionInfo& version, std::string_view programPath) {
    std::string id = version.String("ApplicationId");
    if (id.empty()) id = version.String("ProductName");
    if (id.empty()) id = ProgramNameWithoutExtension(programPath);
    return id;
}

const std::string& ApplicationId() {
    static const std::string id =
        DetermineApplicationId(VersionInfo::OfRunningProgram(), platform::ProgramPath());
    return id;
}

}  // namespace mw
