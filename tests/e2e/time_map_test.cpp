#include "bench/rig/time_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vindelor::rig {
namespace {

constexpr double kRate = 48000;
constexpr std::int64_t kMs = 1'000'000;

// A read every millisecond of 48 frames; sample 0 played at 5 s; the monitor hands out each
// sample 1 ms before it plays (latency -1 ms), and the recorder wakes 0.2 ms after that.
std::vector<TimingRead> steadyReads(int count, double ppmFast = 0) {
    std::vector<TimingRead> reads;
    for (int k = 1; k <= count; ++k) {
        const auto frames = static_cast<std::uint64_t>(48 * k);
        const double playedNs =
            5e9 + static_cast<double>(frames) * 1e9 / kRate / (1 + ppmFast * 1e-6);
        reads.push_back({static_cast<std::int64_t>(playedNs) - kMs + kMs / 5, frames, -kMs});
    }
    return reads;
}

TEST(MappingSamplesToTheMonotonicClock, PlacesASampleWhenItPlayed) {
    const TimeMap map(steadyReads(2000), kRate);
    const auto at = map.monotonicNsAt(24000.5);
    ASSERT_TRUE(at);
    // Every read is equally late, by 0.2 ms; the map cannot know better than the earliest.
    EXPECT_NEAR(*at, 5e9 + 500e6 + 1e9 / kRate / 2 + 0.2e6, 1000);
}

TEST(MappingSamplesToTheMonotonicClock, IsNotMovedByAReadThatWokeLate) {
    auto reads = steadyReads(2000);
    const TimeMap steady(reads, kRate);
    reads[500].monotonicNs += 5 * kMs;
    const TimeMap withLateRead(reads, kRate);
    EXPECT_NEAR(*withLateRead.monotonicNsAt(24000), *steady.monotonicNsAt(24000), 1);
}

TEST(MappingSamplesToTheMonotonicClock, OutvotesAStaleLatencyReport) {
    auto reads = steadyReads(2000);
    const TimeMap steady(reads, kRate);
    for (int k = 490; k < 520; ++k) {
        reads[static_cast<std::size_t>(k)].latencyNs = 16 * kMs;
    }
    const TimeMap withStaleReports(reads, kRate);
    EXPECT_NEAR(*withStaleReports.monotonicNsAt(24000), *steady.monotonicNsAt(24000), 1);
}

TEST(MappingSamplesToTheMonotonicClock, KnowsNothingOutsideTheLog) {
    const TimeMap map(steadyReads(100), kRate);
    EXPECT_FALSE(map.monotonicNsAt(-1));
    EXPECT_FALSE(map.monotonicNsAt(4801));
    EXPECT_FALSE(TimeMap({}, kRate).monotonicNsAt(0));
}

TEST(MappingSamplesToTheMonotonicClock, MeasuresASinkClockRunningFast) {
    const TimeMap map(steadyReads(10000, 100), kRate);
    EXPECT_NEAR(map.driftPpm(), 100, 1);
    EXPECT_NEAR(map.medianLatencyNs(), -1e6, 1);
}

TEST(ReadingTheRecordersLog, SkipsCommentsAndReadsEachLine) {
    std::istringstream log(
        "# monotonic_ns frames_end latency_ns\n1000000 48 -1000000\n"
        "2000000 96 -1000000\n# frames 96\n");
    const TimeMap map = TimeMap::fromLog(log, kRate);
    EXPECT_NEAR(*map.monotonicNsAt(96), 3e6, 1);
}

TEST(ReadingTheRecordersLog, RefusesAMalformedLine) {
    std::istringstream log("1000000 48 -1000000\n2000000 ninety-six\n");
    EXPECT_THROW(TimeMap::fromLog(log, kRate), std::runtime_error);
}

}  // namespace
}  // namespace vindelor::rig
