#include "bench/rig/recording.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vindelor::rig {
namespace {

TEST(ClickDetectorTest, FindsEachClickOfARegularTrackToAFractionOfASampleAndTellsItsKind) {
    ClickTrackSettings settings{.bpm = 100, .pattern = "TnARnn", .seconds = 3.6};
    const auto clicks = detectClicks(makeClickTrack(settings));
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

TEST(ClickDetectorTest, PlacesACrossingByTheLevelsAroundItAndTellsACutClickFromAPartOfAReference) {
    std::vector<float> samples(9600, 0.0f);
    samples[1000] = 0.2f;
    samples[1001] = 0.6f;  // 0.5 is crossed three quarters of the way to this sample
    samples[6000] = -0.3f;
    samples[6001] = -0.7f;  // -0.5 halfway
    const auto clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_NEAR(clicks[0].onset, 1000.75, 1e-6);
    EXPECT_NEAR(clicks[1].onset, 6000.5, 1e-6);
    ClickTrackSettings settings{.pattern = "A", .seconds = 0};
    std::vector<float> cut = makeClickTrack(settings);
    std::fill(cut.begin() + 9600 + 960, cut.end(), 0.0f);  // a click silenced after 20 ms
    ASSERT_EQ(detectClicks(cut).size(), 1u);
    EXPECT_EQ(detectClicks(cut)[0].kind, ClickKind::unknown);
    settings.pattern = "R";
    cut = makeClickTrack(settings);
    std::fill(cut.begin() + 9600 + 240, cut.end(), 0.0f);  // the reference's first 5 ms
    ASSERT_EQ(detectClicks(cut).size(), 1u);
    EXPECT_EQ(detectClicks(cut)[0].kind, ClickKind::referencePart);
}

TEST(ClickDetectorTest, MendsClicksCutByTimeTheRecorderMissedAndNoOthers) {
    const ClickTrackSettings settings{.bpm = 100, .pattern = "AnnR", .seconds = 4.2};
    std::vector<float> samples = makeClickTrack(settings);
    const auto onset = [](int k) { return 9600.0 + 28800.0 * k - 0.5; };
    // Beat 1 (normal) loses its end, beat 4 (accent) its start, beat 3 (the reference) its
    // end; beat 6 is cut as at Stop, with no missed time there.
    const std::vector<MissedSpan> missed = {{9600 + 28800 + 1215, 9600 + 28800 + 2239},
                                            {9600 + 4 * 28800 - 300, 9600 + 4 * 28800 + 724},
                                            {9600 + 3 * 28800 + 500, 9600 + 3 * 28800 + 1524}};
    for (const MissedSpan& span : missed) {
        std::fill(samples.begin() + static_cast<long>(span.from),
                  samples.begin() + static_cast<long>(span.to), 0.0f);
    }
    std::fill(samples.begin() + 9600 + 6 * 28800 + 800, samples.begin() + 9600 + 7 * 28800, 0.0f);
    std::vector<DetectedClick> clicks = detectClicks(samples);
    ASSERT_EQ(clicks.size(), 8u);
    EXPECT_EQ(mendCutClicks(clicks, missed), 3);
    const std::string kinds = "AnnRAn?R";
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        EXPECT_EQ(static_cast<char>(clicks[k].kind), kinds[k]) << "click " << k;
        EXPECT_DOUBLE_EQ(clicks[k].onset, onset(static_cast<int>(k))) << "click " << k;
    }
}

}  // namespace
}  // namespace vindelor::rig
