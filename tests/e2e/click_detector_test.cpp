#include "bench/rig/click_detector.h"

#include <gtest/gtest.h>

#include <vector>

#include "bench/rig/click_track.h"

namespace vindelor::rig {
namespace {

std::vector<float> trackOf(int bpm, const char* pattern, double seconds) {
    ClickTrackSettings settings;
    settings.bpm = bpm;
    settings.pattern = pattern;
    settings.seconds = seconds;
    return makeClickTrack(settings);
}

TEST(ClickDetectorTest, FindsEachClickOfARegularTrackToAFractionOfASampleAndTellsItsKind) {
    const auto clicks = detectClicks(trackOf(100, "TnARnn", 3.6));
    const ClickKind expected[] = {ClickKind::tripleAccent, ClickKind::normal, ClickKind::accent,
                                  ClickKind::reference, ClickKind::normal, ClickKind::normal};
    ASSERT_EQ(clicks.size(), 7u);
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        // Clips start at full scale after silence: the half-scale crossing lies halfway
        // between the last silent sample and the first loud one.
        EXPECT_DOUBLE_EQ(clicks[k].onset, 9600.0 + 28800.0 * static_cast<double>(k) - 0.5);
        EXPECT_EQ(clicks[k].kind, expected[k % 6]) << "click " << k;
    }
}

TEST(ClickDetectorTest, PlacesACrossingBetweenSamplesByTheirLevelsEitherWay) {
    std::vector<float> samples(9600, 0.0f);
    samples[1000] = 0.2f;
    samples[1001] = 0.6f;  // 0.5 is crossed three quarters of the way to this sample
    samples[6000] = -0.3f;
    samples[6001] = -0.7f;  // -0.5 halfway
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_NEAR(clicks[0].onset, 1000.75, 1e-6);
    EXPECT_NEAR(clicks[1].onset, 6000.5, 1e-6);
}

TEST(ClickDetectorTest, CallsAClickCutShortUnknownAndFindsNothingInQuietNoise) {
    auto samples = trackOf(120, "A", 0.0);
    for (std::size_t i = 9600 + 960; i < samples.size(); ++i) {
        samples[i] = 0;  // cut after 20 ms, as a Stop that silences a click mid-way would
    }
    ASSERT_EQ(detectClicks(samples).size(), 1u);
    EXPECT_EQ(detectClicks(samples)[0].kind, ClickKind::unknown);
    std::vector<float> hum(48000);
    for (std::size_t i = 0; i < hum.size(); ++i) {
        hum[i] = (i % 50) < 25 ? 0.3f : -0.3f;
    }
    EXPECT_TRUE(detectClicks(hum).empty());
}

}  // namespace
}  // namespace vindelor::rig
