// The resource compiler: turns the sources under res/ into resources for a
// bundle (see resources.hpp). It runs at build time through
// `mwtool res build`, so every mistake in a source stops the build with a
// message naming the file and line.
//
// Sources and what they become:
//   version/<name>.ver      version resource 16/1 (source form below)
//   manifest/<name>.manifest  manifest 24/1, the file's bytes
//   strings/NN-<lang>.tsv   string blocks 6/(id/16+1), tagged with the LANGID
//                           of language index NN (see string_source.hpp)
//   dialogs/*.dlg           dialog templates 5/ID (see dialog_template.hpp)
//   icons/NNN-<what>.ico    icon group 14/NNN and one icon 3/k per image,
//                           k counting from 1 over all groups in name order
//   bitmaps/NNN-<what>.bmp  bitmap 2/NNN, the file without its 14-byte header
//
// Version source form: '#' comment lines, sections in brackets, "Name = value"
// lines (value trimmed, UTF-8):
//   [fixed]            FileVersion, ProductVersion (a.b.c.d), FileFlagsMask,
//                      FileFlags, FileOS, FileType, FileSubtype (numbers,
//                      0x for hexadecimal); without this section the
//                      resource has no fixed file information
//   [translations]     lines "LLLL CCCC": language and code page, hexadecimal
//   [strings KEY]      the string values of translation key KEY ("040004b0")
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resource_writer.hpp"
#include "platform/version_resource.hpp"

namespace mw::platform {

bool ParseVersionSource(std::string_view text, VersionDescription& out, std::string& error);

// LANGID of the language index NN of a string-table file name; 0 when NN is
// not one of the twenty.
uint16_t LangIdOfLanguageIndex(int index);

class ResourceCompiler {
public:
    // Each adds to resources(); false with error() set on the first mistake.
    // A resource that is already there is an error too.
    bool AddVersion(const std::string& verFile);
    bool AddManifest(const std::string& file);
    bool AddStringTables(const std::string& dir);
    bool AddDialogs(const std::string& dir);
    bool AddIcons(const std::string& dir);
    bool AddBitmaps(const std::string& dir);
    bool AddFile(ResourceKey key, const std::string& file);

    const ResourceMap& resources() const { return resources_; }
    ResourceMap& resources() { return resources_; }
    const std::string& error() const { return error_; }
    // Every file read so far (for the build's dependency file).
    const std::vector<std::string>& inputs() const { return inputs_; }

private:
    bool Read(const std::string& path, std::string& content);
    bool Put(ResourceKey key, std::vector<std::byte> data, const std::string& source);
    bool Fail(const std::string& message);
    std::vector<std::string> Files(const std::string& dir, std::string_view extension);

    ResourceMap resources_;
    std::string error_;
    std::vector<std::string> inputs_;
    uint32_t nextIconId_ = 1;
    std::map<uint32_t, std::string> stringBlockSource_;  // block id -> file
};

}  // namespace mw::platform
