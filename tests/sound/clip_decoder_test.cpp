#include "sound/clip_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "resources/embedded_resources.h"

namespace vindelor {
namespace {

std::vector<std::uint8_t> clip(int id) {
    const auto bytes = findEmbeddedResource("VINDELOR", id);
    return {bytes->begin(), bytes->end()};
}

std::int16_t sampleAt(const std::vector<std::uint8_t>& image, std::size_t i) {
    return static_cast<std::int16_t>(image[44 + 2 * i] | image[45 + 2 * i] << 8);
}

TEST(ClipDecoderTest, AClipAtItsOwnRateComesThroughSampleForSamplePastItsListChunk) {
    for (const auto& [id, samples] : {std::pair{101, 275}, {102, 421}, {103, 815}}) {
        const std::vector<std::uint8_t> image = clip(id);
        const ClipSamples decoded = decodeClip(image, 8000);
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(samples)) << id;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            ASSERT_EQ(decoded[i], sampleAt(image, i)) << id << ", sample " << i;
        }
    }
}

TEST(ClipDecoderTest, ConvertedToTheStreamRateAFullScaleClipIsHeldInRangeNotWrapped) {
    // A sample wrapped around instead of held at full scale flips sign in the middle of a
    // plateau: as many sign changes as the clip's own, give or take its two ends.
    const auto signChanges = [](const auto& samples) {
        int count = 0;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            count += (samples[i - 1] < 0) != (samples[i] < 0);
        }
        return count;
    };
    const std::vector<std::uint8_t> image = clip(102);
    for (const std::uint32_t rate : {44100u, 48000u}) {
        const ClipSamples converted = decodeClip(image, rate);
        EXPECT_EQ(converted.size(), std::llround(421.0 * rate / 8000)) << rate;
        EXPECT_NEAR(signChanges(converted), signChanges(decodeClip(image, 8000)), 2) << rate;
        EXPECT_EQ(*std::ranges::max_element(converted), 32767);
    }
}

TEST(ClipDecoderTest, AnImageItCannotPlayGivesSilenceAndACutShortOneWhatItHas) {
    const std::vector<std::uint8_t> good = clip(101);
    std::vector<std::uint8_t> junk = good;
    std::memcpy(&junk[12], "junk", 4);  // no "fmt " chunk
    EXPECT_TRUE(decodeClip(junk, 48000).empty());
    EXPECT_TRUE(decodeClip(good, 0).empty()) << "no rate";
    // Once a crash (fuzz/corpus): a rate so high that one sample is less than one at 8 kHz.
    std::vector<std::uint8_t> fast = good;
    fast[24] = 0x00, fast[25] = 0x00, fast[26] = 0xFA, fast[27] = 0x00;  // 16 384 000 Hz
    EXPECT_LE(decodeClip(fast, 8000).size(), 1u);
    EXPECT_EQ(decodeClip({good.begin(), good.begin() + 44 + 200}, 8000).size(), 100u);
    // Once a hang (fuzz/corpus): a LIST chunk that claims more than the image holds.
    std::vector<std::uint8_t> list = good;
    list[44 + 550 + 7] = 0x7F;  // the LIST chunk's size, after the 550 bytes of data
    EXPECT_TRUE(decodeClip(list, 8000).empty());
}

}  // namespace
}  // namespace vindelor
