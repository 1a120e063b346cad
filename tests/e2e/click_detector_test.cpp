#include "bench/rig/click_detector.h"

#include <gtest/gtest.h>

#include <cstddef>
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

TEST(DetectingClicks, FindsEachClickOfARegularTrackHalfASampleBeforeItsFirstSample) {
    // The track's clips start at full scale after silence: the half-scale crossing lies
    // halfway between the last silent sample and the first loud one.
    const auto clicks = detectClicks(trackOf(120, "Annn", 3.0));
    ASSERT_EQ(clicks.size(), 7u);
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        EXPECT_DOUBLE_EQ(clicks[k].onset, 9600.0 + 24000.0 * static_cast<double>(k) - 0.5);
    }
}

TEST(DetectingClicks, PlacesTheCrossingBetweenSamplesByTheirLevels) {
    std::vector<float> samples(4800, 0.0f);
    samples[1000] = 0.2f;
    samples[1001] = 0.6f;  // 0.5 is crossed three quarters of the way to this sample
    for (std::size_t i = 1002; i < 1002 + 1600; ++i) {
        samples[i] = (i / 29) % 2 == 0 ? 1.0f : -1.0f;
    }
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_NEAR(clicks[0].onset, 1000.75, 1e-6);
}

TEST(DetectingClicks, FindsAClickThatStartsDownwards) {
    std::vector<float> samples(4800, 0.0f);
    samples[2000] = -0.3f;
    samples[2001] = -0.7f;  // crossing -0.5 halfway
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_NEAR(clicks[0].onset, 2000.5, 1e-6);
}

TEST(DetectingClicks, TellsTheThreeClipsByPitchAndLength) {
    const auto clicks = detectClicks(trackOf(100, "TnnAnn", 3.0));
    ASSERT_EQ(clicks.size(), 6u);
    const ClickKind expected[] = {ClickKind::tripleAccent, ClickKind::normal, ClickKind::normal,
                                  ClickKind::accent,       ClickKind::normal, ClickKind::normal};
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        EXPECT_EQ(clicks[k].kind, expected[k]) << "click " << k;
    }
    EXPECT_NEAR(clicks[0].pitchHz, 902, 5);
    EXPECT_NEAR(clicks[1].pitchHz, 835, 5);
    EXPECT_NEAR(clicks[0].lengthMs, 101.9, 0.5);
    EXPECT_NEAR(clicks[3].lengthMs, 52.6, 0.5);
    EXPECT_NEAR(clicks[1].lengthMs, 34.4, 0.5);
}

TEST(DetectingClicks, CallsAnAccentCutShortUnknown) {
    auto samples = trackOf(120, "A", 0.0);
    // Cut the only accent after 20 ms, as a Stop that silences a click mid-way would.
    for (std::size_t i = 9600 + 960; i < samples.size(); ++i) {
        samples[i] = 0;
    }
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].kind, ClickKind::unknown);
}

TEST(DetectingClicks, FindsNothingInSilenceOrInQuietNoise) {
    EXPECT_TRUE(detectClicks(std::vector<float>(48000, 0.0f)).empty());
    std::vector<float> hum(48000);
    for (std::size_t i = 0; i < hum.size(); ++i) {
        hum[i] = (i % 50) < 25 ? 0.3f : -0.3f;
    }
    EXPECT_TRUE(detectClicks(hum).empty());
}

TEST(DetectingClicks, PlacesAClickAlreadySoundingWhenTheRecordingBeganAtItsStart) {
    std::vector<float> samples(4800, 0.0f);
    for (std::size_t i = 0; i < 500; ++i) {
        samples[i] = 0.9f;
    }
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].onset, 0.0);
}

}  // namespace
}  // namespace vindelor::rig
