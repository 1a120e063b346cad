// Images that once broke the clip decoder, found by fuzz/clip_decoder_fuzzer.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sound/clip_decoder.h"

namespace vindelor {
namespace {

// A 16-bit PCM RIFF/WAVE image of `frames` frames of a constant level.
std::vector<std::uint8_t> pcmImage(std::uint16_t channels, std::uint32_t rate, std::size_t frames) {
    const auto dataBytes = static_cast<std::uint32_t>(frames * channels * 2);
    std::vector<std::uint8_t> image(44 + dataBytes);
    const auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            image[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    std::memcpy(&image[0], "RIFF", 4);
    put(4, 36 + dataBytes, 4);
    std::memcpy(&image[8], "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);  // PCM
    put(22, channels, 2);
    put(24, rate, 4);
    put(28, rate * channels * 2, 4);
    put(32, channels * 2u, 2);
    put(34, 16, 2);
    std::memcpy(&image[36], "data", 4);
    put(40, dataBytes, 4);
    for (std::size_t at = 44; at < image.size(); at += 2) {
        put(at, 12000, 2);
    }
    return image;
}

TEST(ClipDecoderRegressionTest, AClipShorterThanOneSampleAtTheStreamRateIsSilentNotACrash) {
    // One or two samples at 44.1 kHz are less than one at 8 kHz.
    for (const std::size_t frames : {1u, 2u}) {
        EXPECT_TRUE(decodeClip(pcmImage(1, 44100, frames), 8000).empty()) << frames;
        EXPECT_TRUE(decodeClip(pcmImage(2, 96000, frames), 8000).empty()) << frames;
    }
    // Three are not.
    EXPECT_EQ(decodeClip(pcmImage(1, 44100, 3), 8000).size(), 1u);
}

TEST(ClipDecoderRegressionTest, SixStereoFramesAtAnOddHighRateDecodeAtEveryRate) {
    // The fuzzer's own find: 6 frames at 175,172 Hz are a third of a sample at 8 kHz.
    const std::vector<std::uint8_t> image = pcmImage(2, 175172, 6);
    EXPECT_TRUE(decodeClip(image, 8000).empty());
    EXPECT_EQ(decodeClip(image, 48000).size(), 2u);
}

}  // namespace
}  // namespace vindelor
