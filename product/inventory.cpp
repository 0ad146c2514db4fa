#include "product/inventory.hpp"

#include <algorithm>
#include <filesystem>

#include "app/identity.hpp"
#include "app/version_info.hpp"
#include "platform/roots.hpp"
#include "product/registration.hpp"

namespace mw::product {
namespace {

std::string MakerFolder(int csidlNumber) {
    std::string folder = platform::SpecialFolder(csidlNumber);
    if (folder.empty()) return folder;
    return folder + "/" + std::string(makerName);
}

}  // namespace

std::vector<std::string> LibraryFolders() {
    std::vector<std::string> folders;
    for (int csidlNumber : {platform::csidl::CommonAppData, platform::csidl::AppData}) {
        std::string maker = MakerFolder(csidlNumber);
        if (!maker.empty()) folders.push_back(maker + "/Arbolux");
    }
    return folders;
}

std::string TextureFolder() {
    return MakerFolder(platform::csidl::CommonAppData) + "/Textures/Arbolux";
}

std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code status;
        if (!it->is_regular_file(status)) continue;
        std::string name = it->path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

Inventory FindInventory() {
    Inventory inventory;
    inventory.version = DottedVersion(VersionInfo::OfRunningProgram().Version());
    for (const std::string& folder : LibraryFolders())
        for (std::string& name : FilesIn(folder, ".ax-lib"))
            inventory.libraries.push_back(std::move(name));
    std::sort(inventory.libraries.begin(), inventory.libraries.end());
    inventory.textures = FilesIn(TextureFolder(), "");
    return inventory;
}

}  // namespace mw::product
