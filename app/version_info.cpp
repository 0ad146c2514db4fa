#include "app/version_info.hpp"

#include <cstdio>

#include "app/languages.hpp"
#include "platform/resources.hpp"
#include "platform/utf16.hpp"

namespace mw {
namespace {

constexpr uint16_t FrenchPrimaryLanguage = 0x0C;
constexpr uint16_t UnicodeCodePage = 1200;

uint16_t U16(const std::byte* p) {
    return uint16_t(uint8_t(p[0])) | uint16_t(uint8_t(p[1])) << 8;
}

}  // namespace

VersionInfo::VersionInfo(std::vector<std::byte> block) : block_(std::move(block)) {
    if (block_.empty()) return;
    fixed_ = platform::ReadFixedFileInfo(block_);
    auto table = platform::QueryVersionValue(block_, "\\VarFileInfo\\Translation");
    if (!table) return;
    for (std::size_t at = 0; at + 4 <= table->bytes.size(); at += 4) {
        uint16_t language = U16(table->bytes.data() + at);
        uint16_t codePage = U16(table->bytes.data() + at + 2);
        if (codePage != UnicodeCodePage) continue;
        char key[9];
        std::snprintf(key, sizeof key, "%04hx%04hx", language, codePage);
        keys_.emplace_back(key);
    }
}

VersionInfo VersionInfo::OfRunningProgram() {
    auto bytes = platform::OwnResources().Find(platform::rt::Version, 1);
    return VersionInfo(std::vector<std::byte>(bytes.begin(), bytes.end()));
}

VersionInfo VersionInfo::OfFile(const std::string& path) {
    std::error_code ec;
    auto bundle = platform::OpenResources(path, ec);
    if (!bundle) return {};
    auto bytes = bundle->Find(platform::rt::Version, 1);
    return VersionInfo(std::vector<std::byte>(bytes.begin(), bytes.end()));
}

uint64_t VersionInfo::Version() const {
    if (!fixed_) return 0;
    return uint64_t(fixed_->fileVersionMS) << 32 | fixed_->fileVersionLS;
}

uint32_t VersionInfo::Flags() const {
    return fixed_ ? fixed_->fileFlags & fixed_->fileFlagsMask : 0;
}

std::string VersionInfo::String(std::string_view name) const {
    if (block_.empty() || keys_.empty()) return {};
    std::string path = "\\StringFileInfo\\" + keys_.front() + "\\" + std::string(name);
    auto value = platform::QueryVersionValue(block_, path);
    if (!value) return {};
    // A text value counts UTF-16 units; a binary one bytes.
    std::size_t units = value->text ? value->length : value->length / 2;
    units = std::min(units, value->bytes.size() / 2);
    if (units > 0 && U16(value->bytes.data() + 2 * (units - 1)) == 0) --units;
    return platform::Utf16LeToUtf8(value->bytes.first(2 * units));
}

std::string VersionInfo::ProductText(bool interfaceIsFrench) const {
    std::string text = String("ProductName");
    std::string version = String("ProductVersion");
    if (!version.empty()) text += " " + version;
    uint32_t flags = Flags();
    if ((flags & platform::vs_ff::PreRelease) && !interfaceIsFrench) {
        std::size_t at = text.rfind("b\xC3\xAAta");  // "bêta"
        if (at != std::string::npos) text.replace(at, 5, "beta");
    }
    if (flags & platform::vs_ff::PrivateBuild) text += " \xE2\x80\x93 Private";
    if (flags & platform::vs_ff::Debug) text += " \xE2\x80\x93 Debug";
    return text;
}

std::string VersionInfo::ProductText() const {
    const uint16_t primary = LanguageToLangId(CurrentLanguage()) & 0x3FF;
    return ProductText(primary == FrenchPrimaryLanguage);
}

}  // namespace mw
