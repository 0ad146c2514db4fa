// What the product's window shows: its own version and the libraries and
// textures of the product it finds on this machine (the shared data folder
// and the user's own), as plain data so that it can be checked without a
// window.
#pragma once

#include <string>
#include <vector>

namespace mw::product {

struct Inventory {
    std::string version;                 // "7.13.3.1"
    std::vector<std::string> libraries;  // file names, sorted
    std::vector<std::string> textures;
};

// Folders the product keeps its libraries and textures in.
std::vector<std::string> LibraryFolders();
std::string TextureFolder();

// The version of the running program and the files in the folders above.
Inventory FindInventory();

// The regular files in `folder` whose names end with `suffix` (any when
// empty), sorted; none when the folder cannot be read.
std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix);

}  // namespace mw::product
