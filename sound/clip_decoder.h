#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vindelor {

// One clip ready to be written into the stream: mono, signed 16-bit, at the stream's rate.
using ClipSamples = std::vector<std::int16_t>;

// Longest clip accepted, in seconds: a click is a fraction of one. Anything longer is not a
// click of ours and stays silent.
inline constexpr double kMaxClipSeconds = 2.0;

// Decodes a RIFF/WAVE image held in memory (any format libsndfile reads; chunks other than
// "fmt " and "data" are passed over), mixes it to mono and converts it to `rate` samples per
// second. An image that cannot be decoded gives no samples: that clip stays silent.
ClipSamples decodeClip(std::span<const std::uint8_t> image, std::uint32_t rate);

}  // namespace vindelor
