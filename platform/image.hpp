// Pictures of the resource bundle (the banner bitmap, the application icon,
// the language flags) decoded to RGBA for drawing. Images are stored the way
// Windows keeps them: a bitmap resource is a DIB (BITMAPINFOHEADER, palette,
// pixel rows bottom-up, each row padded to 4 bytes, no compression); an icon
// is a group resource (type 14: GRPICONDIR with 14-byte entries naming icon
// resources of type 3) whose images are DIBs of twice the height followed by
// a 1-bit AND mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/resources.hpp"

namespace mw::platform {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // rows top to bottom, 4 bytes a pixel, straight alpha
    const uint8_t* Pixel(int x, int y) const {
        return rgba.data() + (std::size_t(y) * width + x) * 4;
    }
};

// Decodes a DIB without file header: 1, 4, 8 bits with palette, 24 or 32
// bits; BI_RGB only. With `icon`, the stored height is twice the image's and
// the AND mask (1 = transparent) follows the colour rows; a 32-bit icon takes
// its alpha from its pixels unless they are all 0. nullopt when the bytes do
// not hold the whole picture.
std::optional<Image> DecodeDib(std::span<const std::byte> dib, bool icon = false);

struct IconGroupEntry {
    int width = 0;  // 0 in the resource means 256
    int height = 0;
    int bitCount = 0;
    uint32_t iconId = 0;  // resource name of type rt::Icon
};
// The entries of icon group `groupId`; empty when absent or malformed.
std::vector<IconGroupEntry> IconGroupEntries(const ResourceBundle& bundle, uint32_t groupId);

// The image of icon group `groupId` closest in size to width x height (the
// first one when both are 0), with the most bits a pixel among equals.
std::optional<Image> LoadIconResource(const ResourceBundle& bundle, uint32_t groupId, int width = 0,
                                      int height = 0);
std::optional<Image> LoadBitmapResource(const ResourceBundle& bundle, uint32_t id);

}  // namespace mw::platform
