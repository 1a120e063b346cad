// Any bytes as a clip image: decodeClip neither crashes nor reads outside the image, gives
// the same samples every time, and never more than the longest clip it accepts. An image it
// cannot play gives no samples at all, which the output sounds as silence.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "sound/clip_decoder.h"

namespace {

void require(bool holds, const char* what, std::uint32_t rate) {
    if (!holds) {
        std::fprintf(stderr, "clip decoder at %u Hz: %s\n", rate, what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    // The rates of common sinks, and the clips' own.
    for (const std::uint32_t rate : {48000u, 44100u, 8000u}) {
        const vindelor::ClipSamples samples = vindelor::decodeClip(image, rate);
        require(samples.size() <=
                    static_cast<std::size_t>(std::ceil(vindelor::kMaxClipSeconds * rate)) + 1,
                "more samples than the longest clip it accepts", rate);
        if (rate == 48000u) {
            require(vindelor::decodeClip(image, rate) == samples, "a second decoding differs",
                    rate);
        }
    }
    return 0;
}
