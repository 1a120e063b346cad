#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/rgb.h"

namespace vindelor {

// A picture of palette indices, rows from the top, `width` indices a row.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
};

// The LZW code stream of GIF image data for `indices` (each below 2^minimumCodeSize), packed
// least significant bit first, before it is cut into sub-blocks. It opens with a clear code,
// widens the codes as the table grows, starts a new table with a clear code once 4095 entries
// are in use, and ends with the end-of-information code.
std::vector<std::uint8_t> lzwCompress(std::span<const std::uint8_t> indices, int minimumCodeSize);

// A still GIF89a: the logical screen as large as the image, a 256-entry global colour table,
// background index 0, one graphic control extension that makes `transparentIndex` transparent
// (no delay, no disposal method), and the image at (0, 0), not interlaced, without a local table.
std::vector<std::uint8_t> encodeGif(const IndexedImage& image, const std::array<Rgb, 256>& palette,
                                    std::uint8_t transparentIndex);

}  // namespace vindelor
