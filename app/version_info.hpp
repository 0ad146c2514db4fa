// Reader of a version resource (the Windows VS_VERSIONINFO block): the
// installer's own, for its identity and About box, and the installed
// program's, for the detection of an earlier installation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version_resource.hpp"

namespace mw {

class VersionInfo {
public:
    // Empty: no block, version 0, flags 0, every string empty.
    VersionInfo() = default;
    explicit VersionInfo(std::vector<std::byte> block);

    // Version resource 16/1 of the running executable.
    static VersionInfo OfRunningProgram();
    // Version resource 16/1 of a file carrying our resource bundle; empty
    // when the file cannot be read, has no bundle or no version resource.
    static VersionInfo OfFile(const std::string& path);

    const std::vector<std::byte>& Block() const { return block_; }
    const std::optional<platform::FixedFileInfo>& Fixed() const { return fixed_; }
    // "%04hx%04hx" of each (language, code page) pair of the translation
    // table whose code page is 1200, in resource order.
    const std::vector<std::string>& TranslationKeys() const { return keys_; }

    // (file version MS << 32) | LS; 0 without fixed information.
    uint64_t Version() const;
    // File flags masked by the flags mask; 0 without fixed information.
    uint32_t Flags() const;
    // A string value of the first translation; empty when absent. A
    // terminating zero stored with the value is not part of the text.
    std::string String(std::string_view name) const;

    // ProductName, then a space and ProductVersion when that is not empty;
    // for a pre-release the last "bêta" becomes "beta" unless the interface
    // speaks French; " – Private" for a private build, " – Debug" for a
    // debug one.
    std::string ProductText(bool interfaceIsFrench) const;
    // The same for the current interface language.
    std::string ProductText() const;

private:
    std::vector<std::byte> block_;
    std::optional<platform::FixedFileInfo> fixed_;
    std::vector<std::string> keys_;
};

}  // namespace mw
