// Conversions between program text (UTF-8) and the registry's value bytes.
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "platform/registry.hpp"

namespace mw::platform {

RegValue RegValue::String(std::string_view utf8, RegType type) {
    RegValue v;
    v.type = type;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto n = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    auto put = [&v](uint16_t unit) {
        v.data.push_back(static_cast<uint8_t>(unit & 0xFF));
        v.data.push_back(static_cast<uint8_t>(unit >> 8));
    };
    while (i < n) {
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0) c = 0xFFFD;
        if (U_IS_BMP(c)) {
            put(static_cast<uint16_t>(c));
        } else {
            put(U16_LEAD(c));
            put(U16_TRAIL(c));
        }
    }
    put(0);
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
    std::string out;
    for (size_t k = 0; k + 1 < units; ++k) {
        UChar32 c = unit(k);
        if (U16_IS_LEAD(c) && k + 2 < units && U16_IS_TRAIL(unit(k + 1))) {
            c = U16_GET_SUPPLEMENTARY(c, unit(k + 1));
            ++k;
        } else if (U16_IS_SURROGATE(c)) {
            c = 0xFFFD;
        }
        uint8_t buf[4];
        int32_t len = 0;
        U8_APPEND_UNSAFE(buf, len, c);
        out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
    }
    return out;
}

std::optional<uint32_t> RegValue::DwordValue() const {
    if (type != RegType::Dword || data.size() != 4) return std::nullopt;
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
           uint32_t(data[3]) << 24;
}

}  // namespace mw::platform
