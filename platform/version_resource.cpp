#include "platform/version_resource.hpp"

#include <stdexcept>

#include "platform/utf16.hpp"

namespace mw::platform {
namespace {

uint16_t ReadU16(const std::byte* p) {
    return uint16_t(uint8_t(p[0])) | uint16_t(uint8_t(p[1])) << 8;
}
uint32_t ReadU32(const std::byte* p) {
    return uint32_t(ReadU16(p)) | uint32_t(ReadU16(p + 2)) << 16;
}

struct Node {
    std::u16string key;
    bool text = false;
    std::vector<std::byte> value;
    uint16_t valueLength = 0;
    std::vector<Node> children;
};

void Put16(std::vector<std::byte>& out, uint16_t v) {
    out.push_back(std::byte(v & 0xFF));
    out.push_back(std::byte(v >> 8));
}

void Pad(std::vector<std::byte>& out) {
    while (out.size() % 4) out.push_back(std::byte{0});
}

void Serialize(const Node& node, std::vector<std::byte>& out) {
    std::size_t start = out.size();
    Put16(out, 0);  // wLength, patched below
    Put16(out, node.valueLength);
    Put16(out, node.text ? 1 : 0);
    for (char16_t c : node.key) Put16(out, c);
    Put16(out, 0);
    Pad(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad(out);
        Serialize(child, out);
    }
    std::size_t length = out.size() - start;
    if (length > 0xFFFF) throw std::length_error("version resource node larger than 64 KiB");
    out[start] = std::byte(length & 0xFF);
    out[start + 1] = std::byte(length >> 8);
}

std::vector<std::byte> FixedBytes(const FixedFileInfo& f) {
    std::vector<std::byte> out;
    for (uint32_t v : {f.signature, f.structVersion, f.fileVersionMS, f.fileVersionLS,
                       f.productVersionMS, f.productVersionLS, f.fileFlagsMask, f.fileFlags,
                       f.fileOS, f.fileType, f.fileSubtype, f.fileDateMS, f.fileDateLS}) {
        Put16(out, uint16_t(v));
        Put16(out, uint16_t(v >> 16));
    }
    return out;
}

// One parsed node header; offsets are relative to the block.
struct View {
    std::size_t start = 0, end = 0;  // node bytes [start, end)
    std::u16string key;
    std::size_t valueStart = 0;
    VersionValue value;
    std::size_t childrenStart = 0;
};

std::size_t Align4(std::size_t n) {
    return (n + 3) & ~std::size_t(3);
}

std::optional<View> ParseNode(std::span<const std::byte> block, std::size_t start,
                              std::size_t limit) {
    if (start > limit || limit - start < 6) return std::nullopt;
    View v;
    v.start = start;
    std::size_t length = ReadU16(block.data() + start);
    if (length < 6 || length > limit - start) return std::nullopt;
    v.end = start + length;
    uint16_t valueLength = ReadU16(block.data() + start + 2);
    uint16_t type = ReadU16(block.data() + start + 4);
    std::size_t pos = start + 6;
    for (;;) {
        if (v.end - pos < 2) return std::nullopt;  // key without terminating zero
        char16_t c = ReadU16(block.data() + pos);
        pos += 2;
        if (c == 0) break;
        v.key += c;
    }
    v.valueStart = std::min(Align4(pos), v.end);
    v.value.text = type == 1;
    std::size_t declared = v.value.text ? std::size_t(valueLength) * 2 : valueLength;
    std::size_t available = v.end - v.valueStart;
    std::size_t bytes = std::min(declared, available);
    if (v.value.text) bytes &= ~std::size_t(1);
    v.value.bytes = block.subspan(v.valueStart, bytes);
    v.value.length = uint32_t(v.value.text ? bytes / 2 : bytes);
    v.childrenStart = std::min(Align4(v.valueStart + bytes), v.end);
    return v;
}

bool KeyEquals(std::u16string_view key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i];
        char16_t b = static_cast<unsigned char>(name[i]);
        if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
        if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
        if (a != b) return false;
    }
    return true;
}

}  // namespace

std::vector<std::byte> BuildVersionResource(const VersionDescription& d) {
    Node root;
    root.key = u"VS_VERSION_INFO";
    if (d.fixed) {
        root.value = FixedBytes(*d.fixed);
        root.valueLength = FixedFileInfoSize;
    }
    if (!d.stringTables.empty()) {
        Node sfi;
        sfi.key = u"StringFileInfo";
        sfi.text = true;
        for (const auto& table : d.stringTables) {
            Node t;
            t.key = Utf8ToUtf16(table.key);
            t.text = true;
            for (const auto& [name, text] : table.values) {
                Node s;
                s.key = Utf8ToUtf16(name);
                s.text = true;
                std::u16string wide = Utf8ToUtf16(text);
                if (d.terminateStrings) wide += u'\0';
                for (char16_t c : wide) Put16(s.value, c);
                if (wide.size() > 0x7FFF) throw std::length_error("version string too long");
                s.valueLength = uint16_t(wide.size());
                t.children.push_back(std::move(s));
            }
            sfi.children.push_back(std::move(t));
        }
        root.children.push_back(std::move(sfi));
    }
    if (!d.translations.empty()) {
        Node vfi;
        vfi.key = u"VarFileInfo";
        vfi.text = true;
        Node var;
        var.key = u"Translation";
        for (auto [language, codePage] : d.translations) {
            Put16(var.value, language);
            Put16(var.value, codePage);
        }
        var.valueLength = uint16_t(var.value.size());
        vfi.children.push_back(std::move(var));
        root.children.push_back(std::move(vfi));
    }
    std::vector<std::byte> out;
    Serialize(root, out);
    return out;
}

std::optional<VersionValue> QueryVersionValue(std::span<const std::byte> block,
                                              std::string_view path) {
    std::optional<View> node = ParseNode(block, 0, block.size());
    if (!node) return std::nullopt;
    while (!path.empty()) {
        if (path.front() == '\\') {
            path.remove_prefix(1);
            continue;
        }
        std::size_t sep = path.find('\\');
        std::string_view name = path.substr(0, sep);
        path = sep == std::string_view::npos ? std::string_view{} : path.substr(sep);
        std::optional<View> found;
        for (std::size_t pos = node->childrenStart; pos < node->end;) {
            std::optional<View> child = ParseNode(block, pos, node->end);
            if (!child) return std::nullopt;
            if (KeyEquals(child->key, name)) {
                found = child;
                break;
            }
            pos = Align4(child->end);
        }
        if (!found) return std::nullopt;
        node = found;
    }
    return node->value;
}

std::optional<FixedFileInfo> ReadFixedFileInfo(std::span<const std::byte> block) {
    auto value = QueryVersionValue(block, "\\");
    if (!value || value->text || value->bytes.size() < FixedFileInfoSize) return std::nullopt;
    const std::byte* p = value->bytes.data();
    if (ReadU32(p) != FixedFileInfo::Signature) return std::nullopt;
    FixedFileInfo f;
    uint32_t* fields[] = {&f.signature,     &f.structVersion,    &f.fileVersionMS,
                          &f.fileVersionLS, &f.productVersionMS, &f.productVersionLS,
                          &f.fileFlagsMask, &f.fileFlags,        &f.fileOS,
                          &f.fileType,      &f.fileSubtype,      &f.fileDateMS,
                          &f.fileDateLS};
    for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = ReadU32(p + 4 * i);
    return f;
}

}  // namespace mw::platform
