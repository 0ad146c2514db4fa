// Editing the resource bundle of a file: the build appends the compiled
// bundle to the installer, and `mwtool res` adds or replaces single resources
// (the payload, for example) in a built executable without relinking it.
// Files are rewritten through a temporary file in the same folder and a
// rename, so a program that runs from the old file keeps its mapping intact
// and a failure leaves the old file as it was.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "platform/resources.hpp"

namespace mw::platform {

using ResourceMap = std::map<ResourceKey, std::vector<std::byte>>;

// The resources of a file. A file without a bundle gives an empty map; a
// damaged bundle is an error (ResourceError::Damaged), never an empty map,
// so that a rewrite cannot silently drop what it could not read.
std::error_code ReadResources(const std::string& path, ResourceMap& out);

// The bundle bytes (index, data and trailer) for `resources`, to be written
// at file offset `bundleOffset`.
std::vector<std::byte> SerializeBundle(const ResourceMap& resources, uint64_t bundleOffset);

// Replaces the bundle of `path` by one holding exactly `resources`; an empty
// map removes the bundle. The program part of the file is kept byte for byte,
// and so is the file mode. A missing file is created (a bare bundle file).
// A symbolic link is followed: its target is rewritten.
std::error_code WriteResources(const std::string& path, const ResourceMap& resources);

}  // namespace mw::platform
