// Conversions between program text (UTF-8) and the registry's value bytes.
#include <span>

#include "platform/registry.hpp"
#include "platform/utf16.hpp"

namespace mw::platform {

RegValue RegValue::String(std::string_view utf8, RegType type) {
    RegValue v;
    v.type = type;
    for (std::byte b : Utf8ToUtf16Le(utf8)) v.data.push_back(static_cast<uint8_t>(b));
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
}

RegValue RegValue::Dword(uint32_t value) {
    RegValue v;
    v.type = RegType::Dword;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return v;
}

RegValue RegValue::Qword(uint64_t value) {
    RegValue v;
    v.type = RegType::Qword;
    for (int i = 0; i < 8; ++i) v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return v;
}

RegValue RegValue::Binary(std::vector<uint8_t> bytes) {
    RegValue v;
    v.type = RegType::Binary;
    v.data = std::move(bytes);
    return v;
}

std::optional<std::string> RegValue::Text() const {
    if (type != RegType::Sz && type != RegType::ExpandSz) return std::nullopt;
    if (data.size() % 2 != 0) return std::nullopt;
    if (data.empty()) return std::string();
    const size_t units = data.size() / 2;
    auto unit = [this](size_t k) {
        return static_cast<uint16_t>(data[2 * k] | (uint16_t(data[2 * k + 1]) << 8));
    };
    if (unit(units - 1) != 0) return std::nullopt;
    return Utf16LeToUtf8(std::as_bytes(std::span(data.data(), data.size() - 2)));
}

std::optional<uint32_t> RegValue::DwordValue() const {
    if (type != RegType::Dword || data.size() != 4) return std::nullopt;
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
           uint32_t(data[3]) << 24;
}

}  // namespace mw::platform
