#include "platform/rc/resource_compiler.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/dialog_template.hpp"
#include "platform/image.hpp"
#include "platform/rc/string_source.hpp"
#include "platform/utf16.hpp"

namespace mw::platform {
namespace {

namespace fs = std::filesystem;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ParseUnsigned(std::string_view s, uint32_t& value, int base = 0) {
    if (base == 0) {
        base = 10;
        if (s.starts_with("0x") || s.starts_with("0X")) {
            s.remove_prefix(2);
            base = 16;
        }
    }
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    return ec == std::errc{} && ptr == s.data() + s.size();
}

// "a.b.c.d" into the two 32-bit halves of a Windows version.
bool ParseFourPartVersion(std::string_view s, uint32_t& ms, uint32_t& ls) {
    uint32_t parts[4];
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = s.find('.');
        if ((i < 3) != (dot != std::string_view::npos)) return false;
        if (!ParseUnsigned(s.substr(0, dot), parts[i], 10) || parts[i] > 0xFFFF) return false;
        s = i < 3 ? s.substr(dot + 1) : std::string_view{};
    }
    ms = parts[0] << 16 | parts[1];
    ls = parts[2] << 16 | parts[3];
    return true;
}

// The number before the first '-' of a file name ("141-german.ico").
bool LeadingNumber(const std::string& fileName, uint32_t& value) {
    std::size_t dash = fileName.find('-');
    return dash != std::string::npos &&
           ParseUnsigned(std::string_view(fileName).substr(0, dash), value, 10);
}

uint16_t Le16(const std::string& s, std::size_t at) {
    return uint16_t(uint8_t(s[at])) | uint16_t(uint8_t(s[at + 1])) << 8;
}
uint32_t Le32(const std::string& s, std::size_t at) {
    return uint32_t(Le16(s, at)) | uint32_t(Le16(s, at + 2)) << 16;
}
void Put16(std::vector<std::byte>& out, uint16_t v) {
    out.push_back(std::byte(v & 0xFF));
    out.push_back(std::byte(v >> 8));
}

std::vector<std::byte> Bytes(std::string_view s) {
    auto p = reinterpret_cast<const std::byte*>(s.data());
    return {p, p + s.size()};
}

}  // namespace

bool ParseVersionSource(std::string_view text, VersionDescription& out, std::string& error) {
    out = VersionDescription{};
    out.fixed.reset();
    enum class Section { None, Fixed, Translations, Strings } section = Section::None;
    VersionDescription::StringTable* table = nullptr;
    std::size_t lineNo = 0;
    auto fail = [&](const std::string& message) {
        error = "line " + std::to_string(lineNo) + ": " + message;
        return false;
    };
    while (!text.empty()) {
        ++lineNo;
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail("unclosed section");
            std::string_view name = Trim(line.substr(1, line.size() - 2));
            if (name == "fixed") {
                if (out.fixed) return fail("[fixed] twice");
                section = Section::Fixed;
                out.fixed = FixedFileInfo{};
            } else if (name == "translations") {
                section = Section::Translations;
            } else if (name.starts_with("strings ")) {
                std::string key(Trim(name.substr(8)));
                for (const auto& t : out.stringTables) {
                    if (t.key == key) return fail("[strings " + key + "] twice");
                }
                section = Section::Strings;
                table = &out.stringTables.emplace_back();
                table->key = key;
            } else {
                return fail("unknown section [" + std::string(name) + "]");
            }
            continue;
        }
        if (section == Section::Translations) {
            std::size_t blank = line.find_first_of(" \t");
            uint32_t language, codePage;
            if (blank == std::string_view::npos ||
                !ParseUnsigned(line.substr(0, blank), language, 16) ||
                !ParseUnsigned(Trim(line.substr(blank)), codePage, 16) || language > 0xFFFF ||
                codePage > 0xFFFF) {
                return fail("expected: LANGUAGE CODEPAGE in hexadecimal");
            }
            out.translations.emplace_back(uint16_t(language), uint16_t(codePage));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("expected: Name = value");
        std::string name(Trim(line.substr(0, eq)));
        std::string_view value = Trim(line.substr(eq + 1));
        if (name.empty()) return fail("empty name");
        if (section == Section::Strings) {
            for (const auto& [n, v] : table->values) {
                if (n == name) return fail(name + " twice");
            }
            table->values.emplace_back(name, std::string(value));
        } else if (section == Section::Fixed) {
            FixedFileInfo& f = *out.fixed;
            bool ok = true;
            if (name == "FileVersion") {
                ok = ParseFourPartVersion(value, f.fileVersionMS, f.fileVersionLS);
            } else if (name == "ProductVersion") {
                ok = ParseFourPartVersion(value, f.productVersionMS, f.productVersionLS);
            } else if (name == "FileFlagsMask") {
                ok = ParseUnsigned(value, f.fileFlagsMask);
            } else if (name == "FileFlags") {
                ok = ParseUnsigned(value, f.fileFlags);
            } else if (name == "FileOS") {
                ok = ParseUnsigned(value, f.fileOS);
            } else if (name == "FileType") {
                ok = ParseUnsigned(value, f.fileType);
            } else if (name == "FileSubtype") {
                ok = ParseUnsigned(value, f.fileSubtype);
            } else {
                return fail("unknown fixed field " + name);
            }
            if (!ok) return fail("bad value of " + name);
        } else {
            return fail("a value outside of any section");
        }
    }
    return true;
}

uint16_t LangIdOfLanguageIndex(int index) {
    // French, English, German, Spanish, Portuguese, Dutch, Danish, Turkish,
    // Bulgarian, Romanian, Chinese (simplified), Italian, Czech, Norwegian,
    // Greek, Polish, Hebrew, Vietnamese, Japanese, Hungarian.
    static constexpr uint16_t LangIds[20] = {1036, 1033, 1031, 3082, 2070, 1043, 1030,
                                             1055, 1026, 1048, 2052, 1040, 1029, 1044,
                                             1032, 1045, 1037, 1066, 1041, 1038};
    return index >= 0 && index < 20 ? LangIds[index] : 0;
}

bool ResourceCompiler::Fail(const std::string& message) {
    error_ = message;
    return false;
}

bool ResourceCompiler::Read(const std::string& path, std::string& content) {
    inputs_.push_back(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(path + ": cannot be read");
    std::ostringstream s;
    s << in.rdbuf();
    if (!in && !in.eof()) return Fail(path + ": cannot be read");
    content = s.str();
    return true;
}

bool ResourceCompiler::Put(ResourceKey key, std::vector<std::byte> data,
                           const std::string& source) {
    if (!resources_.emplace(key, std::move(data)).second) {
        return Fail(source + ": resource " + std::to_string(key.type) + "/" +
                    std::to_string(key.name) + " language " + std::to_string(key.language) +
                    " defined twice");
    }
    return true;
}

std::vector<std::string> ResourceCompiler::Files(const std::string& dir,
                                                 std::string_view extension) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().extension() == extension && entry.is_regular_file(ec)) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool ResourceCompiler::AddVersion(const std::string& verFile) {
    std::string text, error;
    if (!Read(verFile, text)) return false;
    VersionDescription description;
    if (!ParseVersionSource(text, description, error)) return Fail(verFile + ": " + error);
    std::vector<std::byte> block;
    try {
        block = BuildVersionResource(description);
    } catch (const std::length_error& e) {
        return Fail(verFile + ": " + e.what());
    }
    return Put({rt::Version, 1, 0}, std::move(block), verFile);
}

bool ResourceCompiler::AddManifest(const std::string& file) {
    std::string text;
    if (!Read(file, text)) return false;
    return Put({rt::Manifest, 1, 0}, Bytes(text), file);
}

bool ResourceCompiler::AddFile(ResourceKey key, const std::string& file) {
    std::string data;
    if (!Read(file, data)) return false;
    return Put(key, Bytes(data), file);
}

bool ResourceCompiler::AddStringTables(const std::string& dir) {
    for (const std::string& file : Files(dir, ".tsv")) {
        inputs_.push_back(file);
        std::string name = fs::path(file).filename().string();
        uint32_t index;
        uint16_t language = 0;
        if (!LeadingNumber(name, index) || !(language = LangIdOfLanguageIndex(int(index)))) {
            return Fail(file + ": the name must start with a language index 00 to 19 and '-'");
        }
        StringTable table;
        std::string error;
        if (!ReadStringTableFile(file, table, error)) return Fail(error);
        std::map<uint32_t, std::array<std::u16string, 16>> blocks;
        for (const auto& [id, text] : table) {
            if (id > 0xFFFF)
                return Fail(file + ": string id " + std::to_string(id) + " above 65535");
            std::u16string wide = Utf8ToUtf16(text);
            if (wide.size() > 0xFFFF)
                return Fail(file + ": string " + std::to_string(id) + " too long");
            blocks[id / 16 + 1][id % 16] = std::move(wide);
        }
        for (const auto& [blockId, strings] : blocks) {
            auto [owner, fresh] = stringBlockSource_.emplace(blockId, file);
            if (!fresh) {
                return Fail(file + ": strings " + std::to_string((blockId - 1) * 16) + " to " +
                            std::to_string((blockId - 1) * 16 + 15) + " share a block with " +
                            owner->second);
            }
            std::vector<std::byte> data;
            for (const std::u16string& s : strings) {
                Put16(data, uint16_t(s.size()));
                for (char16_t c : s) Put16(data, c);
            }
            if (!Put({rt::String, blockId, language}, std::move(data), file)) return false;
        }
    }
    return true;
}

bool ResourceCompiler::AddDialogs(const std::string& dir) {
    for (const std::string& file : Files(dir, ".dlg")) {
        std::string text, error;
        if (!Read(file, text)) return false;
        uint32_t id = 0;
        DialogTemplate dialog;
        if (!ParseDialogSource(text, id, dialog, error)) return Fail(file + ": " + error);
        if (!Put({rt::Dialog, id, 0}, SerializeDialogTemplate(dialog), file)) return false;
    }
    return true;
}

bool ResourceCompiler::AddIcons(const std::string& dir) {
    for (const std::string& file : Files(dir, ".ico")) {
        std::string data;
        if (!Read(file, data)) return false;
        uint32_t groupId;
        if (!LeadingNumber(fs::path(file).filename().string(), groupId)) {
            return Fail(file + ": the name must start with the icon's resource id and '-'");
        }
        if (data.size() < 6 || Le16(data, 0) != 0 || Le16(data, 2) != 1) {
            return Fail(file + ": not an icon file");
        }
        std::size_t count = Le16(data, 4);
        if (count == 0 || data.size() < 6 + count * 16)
            return Fail(file + ": truncated icon directory");
        std::vector<std::byte> group;
        Put16(group, 0);
        Put16(group, 1);
        Put16(group, uint16_t(count));
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t e = 6 + i * 16;
            uint32_t size = Le32(data, e + 8);
            uint32_t offset = Le32(data, e + 12);
            if (offset > data.size() || size > data.size() - offset) {
                return Fail(file + ": image " + std::to_string(i) + " lies outside the file");
            }
            auto image = Bytes(std::string_view(data).substr(offset, size));
            if (!DecodeDib(image, true)) {
                return Fail(file + ": image " + std::to_string(i) + " is not an uncompressed DIB");
            }
            if (nextIconId_ > 0xFFFF) return Fail(file + ": too many icon images");
            uint16_t iconId = uint16_t(nextIconId_++);
            // The group entry is the file's entry with the image's resource id
            // in place of its file offset.
            for (std::size_t k = 0; k < 12; ++k) group.push_back(std::byte(data[e + k]));
            Put16(group, iconId);
            if (!Put({rt::Icon, iconId, 0}, std::move(image), file)) return false;
        }
        if (!Put({rt::GroupIcon, groupId, 0}, std::move(group), file)) return false;
    }
    return true;
}

bool ResourceCompiler::AddBitmaps(const std::string& dir) {
    for (const std::string& file : Files(dir, ".bmp")) {
        std::string data;
        if (!Read(file, data)) return false;
        uint32_t id;
        if (!LeadingNumber(fs::path(file).filename().string(), id)) {
            return Fail(file + ": the name must start with the bitmap's resource id and '-'");
        }
        if (data.size() < 14 + 40 || data[0] != 'B' || data[1] != 'M') {
            return Fail(file + ": not a BMP file");
        }
        auto dib = Bytes(std::string_view(data).substr(14));
        if (!DecodeDib(dib)) return Fail(file + ": not an uncompressed bitmap");
        if (!Put({rt::Bitmap, id, 0}, std::move(dib), file)) return false;
    }
    return true;
}

}  // namespace mw::platform
