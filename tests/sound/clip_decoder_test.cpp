#include "sound/clip_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "tools/byte_writer.h"

namespace vindelor {
namespace {

// A RIFF/WAVE image: 16-bit PCM, with a LIST chunk after the data as our clips carry.
std::vector<std::uint8_t> waveImage(const std::vector<std::int16_t>& samples, int channels,
                                    int rate) {
    const std::string info = "made for a test";
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    const auto infoSize = static_cast<std::uint32_t>(info.size() + 1);
    ByteWriter image;
    image.text("RIFF");
    image.u32(4 + 24 + 8 + dataSize + 8 + 12 + infoSize);
    image.text("WAVE");
    image.text("fmt ");
    image.u32(16);
    image.u16(1);
    image.u16(static_cast<std::uint16_t>(channels));
    image.u32(static_cast<std::uint32_t>(rate));
    image.u32(static_cast<std::uint32_t>(rate * channels * 2));
    image.u16(static_cast<std::uint16_t>(channels * 2));
    image.u16(16);
    image.text("data");
    image.u32(dataSize);
    for (const std::int16_t sample : samples) {
        image.u16(static_cast<std::uint16_t>(sample));
    }
    image.text("LIST");
    image.u32(12 + infoSize);
    image.text("INFO");
    image.text("ISFT");
    image.u32(infoSize);
    image.text(info);
    image.u8(0);
    return image.bytes();
}

std::vector<std::int16_t> tone(int count, double frequency, int rate, double amplitude) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    }
    return samples;
}

double rms(const ClipSamples& samples) {
    double sum = 0;
    for (const auto s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(DecodeClipTest, AClipAtTheStreamRateComesThroughSampleForSample) {
    const auto samples = tone(421, 900, 8000, 20000);
    EXPECT_EQ(decodeClip(waveImage(samples, 1, 8000), 8000), samples);
}

TEST(DecodeClipTest, ConvertsToTheStreamRateKeepingLengthAndLevel) {
    const auto samples = tone(800, 440, 8000, 16000);
    for (const std::uint32_t rate : {44100u, 48000u}) {
        const ClipSamples converted = decodeClip(waveImage(samples, 1, 8000), rate);
        EXPECT_EQ(converted.size(), static_cast<std::size_t>(std::llround(800.0 * rate / 8000)));
        EXPECT_NEAR(rms(converted), 16000 / std::sqrt(2.0), 300) << rate;
    }
}

TEST(DecodeClipTest, FullScaleSquareWavesAreHeldInRangeNotWrappedAround) {
    std::vector<std::int16_t> square(400);
    for (std::size_t i = 0; i < square.size(); ++i) {
        square[i] = (i / 5) % 2 ? 32767 : -32768;
    }
    const ClipSamples converted = decodeClip(waveImage(square, 1, 8000), 48000);
    ASSERT_EQ(converted.size(), 2400u);
    // The converter overshoots at every edge; a sample wrapped around instead of held at
    // full scale would flip sign in the middle of a plateau.
    int signChanges = 0;
    for (std::size_t i = 1; i < converted.size(); ++i) {
        signChanges += (converted[i - 1] < 0) != (converted[i] < 0);
    }
    EXPECT_EQ(signChanges, 79);
    EXPECT_EQ(*std::max_element(converted.begin(), converted.end()), 32767);
    EXPECT_EQ(*std::min_element(converted.begin(), converted.end()), -32768);
}

TEST(DecodeClipTest, StereoIsMixedToMono) {
    std::vector<std::int16_t> stereo;
    for (int i = 0; i < 100; ++i) {
        stereo.push_back(10000);
        stereo.push_back(-2000);
    }
    const ClipSamples mono = decodeClip(waveImage(stereo, 2, 8000), 8000);
    ASSERT_EQ(mono.size(), 100u);
    EXPECT_EQ(mono[50], 4000);
}

TEST(DecodeClipTest, AnImageItCannotPlayGivesSilenceNotACrash) {
    const auto good = waveImage(tone(300, 835, 8000, 30000), 1, 8000);
    std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {'R', 'I', 'F', 'F'},
        std::vector<std::uint8_t>(good.begin(), good.begin() + 30),
        std::vector<std::uint8_t>(1000, 0xFF),
    };
    auto noFormat = good;
    std::memcpy(&noFormat[12], "junk", 4);
    bad.push_back(noFormat);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_TRUE(decodeClip(bad[i], 48000).empty()) << "image " << i;
    }
    EXPECT_TRUE(decodeClip(good, 0).empty());
}

TEST(DecodeClipTest, ACutShortImageSoundsWhatItHas) {
    const auto image = waveImage(tone(300, 835, 8000, 30000), 1, 8000);
    const std::vector<std::uint8_t> cut(image.begin(), image.begin() + 44 + 200);
    EXPECT_EQ(decodeClip(cut, 8000).size(), 100u);
}

TEST(DecodeClipTest, SomethingFarLongerThanAClickIsRefused) {
    const auto longSound = tone(static_cast<int>(8000 * (kMaxClipSeconds + 1)), 440, 8000, 1000);
    EXPECT_TRUE(decodeClip(waveImage(longSound, 1, 8000), 48000).empty());
}

}  // namespace
}  // namespace vindelor
