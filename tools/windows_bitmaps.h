#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/rgb.h"

namespace vindelor {

// A Windows bitmap file, 24 bits a pixel, uncompressed, rows stored bottom-up and padded to 4
// bytes, 3779 pixels a metre (96 dpi) both ways. `pixels` holds the rows from the top.
std::vector<std::uint8_t> encodeBmp24(int width, int height, std::span<const Rgb> pixels);

// A Windows icon file holding one 32 × 32 image of 16 colours: the 40-byte info header (height
// doubled for the colour and mask rows), the palette, the 4-bit colour rows bottom-up and an
// AND mask of zeros (every pixel opaque). `indices` holds the rows from the top.
std::vector<std::uint8_t> encodeIcon16(std::span<const std::uint8_t> indices,
                                       const std::array<Rgb, 16>& palette);

}  // namespace vindelor
