#include "bench/rig/interval_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string_view>
#include <vector>

namespace vindelor::rig {
namespace {

// Clicks of the given kinds, beat k at llround(k * samples per beat), each kind's onset
// shifted by its own constant.
std::vector<DetectedClick> clicksAt(int bpm, std::string_view kinds, int beats,
                                    double accentOffset = 0) {
    std::vector<DetectedClick> clicks;
    const double perBeat = 48000.0 * 60 / bpm;
    for (int k = 0; k < beats; ++k) {
        DetectedClick click;
        click.kind = static_cast<ClickKind>(kinds[static_cast<std::size_t>(k) % kinds.size()]);
        click.onset = 1000 + static_cast<double>(std::llround(k * perBeat)) +
                      (click.kind == ClickKind::normal ? 0 : accentOffset) - 0.5;
        clicks.push_back(click);
    }
    return clicks;
}

TEST(MeasuringIntervals, FindsNoDeviationInSampleExactBeats) {
    const auto stats = measureIntervals(clicksAt(120, "Annn", 40), 120);
    EXPECT_EQ(stats.intervals, 39);
    EXPECT_DOUBLE_EQ(stats.nominalMs, 500);
    EXPECT_DOUBLE_EQ(stats.meanMs, 500);
    EXPECT_DOUBLE_EQ(stats.worstDeviationSamples, 0);
}

TEST(MeasuringIntervals, ReportsOneBeatOneSampleLateAsOneSampleOfDeviation) {
    auto clicks = clicksAt(120, "nnnn", 20);
    clicks[7].onset += 1;
    const auto stats = measureIntervals(clicks, 120);
    EXPECT_DOUBLE_EQ(stats.worstDeviationSamples, 1);
    EXPECT_NEAR(stats.worstDeviationMs, 1000.0 / 48000, 1e-12);
}

TEST(MeasuringIntervals, TakesOutTheAccentsOwnOnsetOffset) {
    const auto stats = measureIntervals(clicksAt(200, "Annn", 40, 2.25), 200);
    EXPECT_NEAR(stats.onsetOffsetSamples.at(ClickKind::accent), 2.25, 1e-9);
    EXPECT_NEAR(stats.worstDeviationSamples, 0, 1e-9);
}

TEST(MeasuringIntervals, TakesOutTheTripleAccentsOffsetIn3By4) {
    const auto stats = measureIntervals(clicksAt(50, "Tnn", 30, -1.5), 50);
    EXPECT_NEAR(stats.onsetOffsetSamples.at(ClickKind::tripleAccent), -1.5, 1e-9);
    EXPECT_NEAR(stats.worstDeviationSamples, 0, 1e-9);
}

TEST(MeasuringIntervals, KeepsTheMeanOfAFractionalIntervalWithinAMicrosecond) {
    // 70 BPM is 41142.857 samples a beat: whole-sample beats alternate 41143 and 41142.
    const auto stats = measureIntervals(clicksAt(70, "Annn", 70), 70);
    EXPECT_NEAR(stats.meanMs, 60000.0 / 70, 0.001);
    EXPECT_LE(stats.worstDeviationSamples, 1.0 + 1e-9);
    EXPECT_GT(stats.worstDeviationSamples, 0.5);
}

TEST(MeasuringIntervals, SeesADriftingTempoInTheMean) {
    auto clicks = clicksAt(120, "nnnn", 21);
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        clicks[k].onset += static_cast<double>(k) * 0.1;  // 0.1 sample slow per beat
    }
    const auto stats = measureIntervals(clicks, 120);
    EXPECT_NEAR(stats.meanMs, 500 + 0.1 * 1000 / 48000, 1e-9);
}

TEST(MeasuringIntervals, HasNoIntervalsWithFewerThanTwoClicks) {
    EXPECT_EQ(measureIntervals(clicksAt(120, "A", 1), 120).intervals, 0);
    EXPECT_EQ(measureIntervals({}, 120).intervals, 0);
}

}  // namespace
}  // namespace vindelor::rig
