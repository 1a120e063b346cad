#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/rgb.h"

namespace vindelor {

// At most `count` colours standing for `pixels`, by median cut: the box of colours that spans
// the widest range, weighted by how many pixels it holds, is split at its median along that
// range until there are `count` boxes; each box gives the mean of its pixels. Deterministic.
std::vector<Rgb> medianCutPalette(std::span<const Rgb> pixels, std::size_t count);

// The index of the palette colour nearest to `colour` (the first of equals).
std::uint8_t nearestPaletteIndex(std::span<const Rgb> palette, Rgb colour);

}  // namespace vindelor
