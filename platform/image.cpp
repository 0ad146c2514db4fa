#include "platform/image.hpp"

#include <cstdlib>

namespace mw::platform {
namespace {

constexpr int MaxSide = 4096;  // far above anything we draw; bounds hostile headers

uint16_t U16(const std::byte* p) {
    return uint16_t(uint8_t(p[0])) | uint16_t(uint8_t(p[1])) << 8;
}
uint32_t U32(const std::byte* p) {
    return uint32_t(U16(p)) | uint32_t(U16(p + 2)) << 16;
}

}  // namespace

std::optional<Image> DecodeDib(std::span<const std::byte> dib, bool icon) {
    if (dib.size() < 40) return std::nullopt;
    const std::byte* h = dib.data();
    uint32_t headerSize = U32(h);
    int32_t width = static_cast<int32_t>(U32(h + 4));
    int32_t storedHeight = static_cast<int32_t>(U32(h + 8));
    uint16_t bits = U16(h + 14);
    uint32_t compression = U32(h + 16);
    uint32_t colorsUsed = U32(h + 32);
    if (headerSize < 40 || headerSize > dib.size() || compression != 0) return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
    bool topDown = storedHeight < 0 && !icon;
    if (storedHeight == INT32_MIN) return std::nullopt;
    int32_t height = std::abs(storedHeight);
    if (icon) {
        if (storedHeight < 0 || height % 2) return std::nullopt;
        height /= 2;
    }
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide) return std::nullopt;

    uint64_t paletteCount = bits <= 8 ? (colorsUsed ? colorsUsed : 1u << bits) : 0;
    if (bits <= 8 && paletteCount > (1u << bits)) return std::nullopt;
    uint64_t paletteOffset = headerSize;
    uint64_t pixelOffset = paletteOffset + paletteCount * 4;
    uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    uint64_t maskStride = (uint64_t(width) + 31) / 32 * 4;
    uint64_t pixelEnd = pixelOffset + stride * height;
    if (pixelEnd > dib.size()) return std::nullopt;
    bool haveMask = icon && pixelEnd + maskStride * height <= dib.size();

    Image image;
    image.width = width;
    image.height = height;
    image.rgba.resize(std::size_t(width) * height * 4);
    bool anyAlpha = false;
    for (int32_t row = 0; row < height; ++row) {
        int32_t y = topDown ? row : height - 1 - row;
        const std::byte* src = dib.data() + pixelOffset + stride * row;
        uint8_t* dst = image.rgba.data() + std::size_t(y) * width * 4;
        for (int32_t x = 0; x < width; ++x, dst += 4) {
            if (bits <= 8) {
                unsigned bitPos = unsigned(x) * bits;
                unsigned byte = uint8_t(src[bitPos / 8]);
                unsigned index = (byte >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
                if (index >= paletteCount) return std::nullopt;
                const std::byte* c = dib.data() + paletteOffset + index * 4;
                dst[0] = uint8_t(c[2]);
                dst[1] = uint8_t(c[1]);
                dst[2] = uint8_t(c[0]);
                dst[3] = 255;
            } else {
                const std::byte* c = src + std::size_t(x) * (bits / 8);
                dst[0] = uint8_t(c[2]);
                dst[1] = uint8_t(c[1]);
                dst[2] = uint8_t(c[0]);
                dst[3] = bits == 32 ? uint8_t(c[3]) : 255;
                if (bits == 32 && dst[3] != 0) anyAlpha = true;
            }
        }
    }
    if (bits == 32 && !anyAlpha) {
        for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
    }
    if (haveMask && !(bits == 32 && anyAlpha)) {
        for (int32_t row = 0; row < height; ++row) {
            int32_t y = height - 1 - row;
            const std::byte* src = dib.data() + pixelEnd + maskStride * row;
            for (int32_t x = 0; x < width; ++x) {
                if ((uint8_t(src[x / 8]) >> (7 - x % 8)) & 1) {
                    image.rgba[(std::size_t(y) * width + x) * 4 + 3] = 0;
                }
            }
        }
    }
    return image;
}

std::vector<IconGroupEntry> IconGroupEntries(const ResourceBundle& bundle, uint32_t groupId) {
    auto group = bundle.Find(rt::GroupIcon, groupId);
    if (group.size() < 6 || U16(group.data()) != 0 || U16(group.data() + 2) != 1) return {};
    std::size_t count = U16(group.data() + 4);
    if (group.size() < 6 + count * 14) return {};
    std::vector<IconGroupEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::byte* e = group.data() + 6 + i * 14;
        IconGroupEntry entry;
        entry.width = uint8_t(e[0]) ? uint8_t(e[0]) : 256;
        entry.height = uint8_t(e[1]) ? uint8_t(e[1]) : 256;
        entry.bitCount = U16(e + 6);
        entry.iconId = U16(e + 12);
        entries.push_back(entry);
    }
    return entries;
}

std::optional<Image> LoadIconResource(const ResourceBundle& bundle, uint32_t groupId, int width,
                                      int height) {
    auto entries = IconGroupEntries(bundle, groupId);
    if (entries.empty()) return std::nullopt;
    const IconGroupEntry* best = &entries.front();
    if (width > 0 || height > 0) {
        auto distance = [&](const IconGroupEntry& e) {
            return std::abs(e.width - width) + std::abs(e.height - height);
        };
        for (const auto& e : entries) {
            int d = distance(e), bestD = distance(*best);
            if (d < bestD || (d == bestD && e.bitCount > best->bitCount)) best = &e;
        }
    }
    return DecodeDib(bundle.Find(rt::Icon, best->iconId), true);
}

std::optional<Image> LoadBitmapResource(const ResourceBundle& bundle, uint32_t id) {
    return DecodeDib(bundle.Find(rt::Bitmap, id), false);
}

}  // namespace mw::platform
