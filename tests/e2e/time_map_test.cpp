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

// An anchor every 100 ms; sample 0 played at 5 s, the sink `ppm` fast.
std::vector<Anchor> anchors(int count, double ppm = 0) {
    std::vector<Anchor> result;
    for (int k = 0; k < count; ++k) {
        const std::int64_t frame = 4800LL * k;
        const double played = 5e9 + frame * 1e9 / kRate / (1 + ppm * 1e-6);
        result.push_back({frame, static_cast<std::int64_t>(played)});
    }
    return result;
}

TEST(TimeMapTest, PlacesASampleWhenItPlayedThroughAnchorsThatStrayEitherWay) {
    std::vector<Anchor> strayed = anchors(600);
    // A PulseAudio server's replies around a rewind: off by tens of milliseconds, both ways.
    for (const int k : {100, 101, 102, 300, 301}) {
        strayed[k].playedNs += (k % 2 == 0 ? 30 : -25) * kMs;
    }
    const TimeMap map(strayed, kRate);
    for (const double sample : {0.0, 480000.5, 1440000.0, 2870000.0}) {
        const auto at = map.monotonicNsAt(sample);
        ASSERT_TRUE(at);
        EXPECT_NEAR(*at, 5e9 + sample * 1e9 / kRate, 1000) << sample;
    }
    EXPECT_FALSE(map.monotonicNsAt(4e6)) << "far beyond the last anchor";
    EXPECT_NEAR(map.wideStrayNs(), 0, 1000);
}

TEST(TimeMapTest, FollowsASinkThatRunsFast) {
    const TimeMap map(anchors(1200, 100), kRate);  // two minutes
    EXPECT_NEAR(map.driftPpm(), 100, 1);
    const double sample = 5'000'000;
    EXPECT_NEAR(*map.monotonicNsAt(sample), 5e9 + sample * 1e9 / kRate / (1 + 100e-6), 20'000);
}

TEST(TimeMapTest, ReadsARecordersLogAndRefusesAMalformedOne) {
    std::istringstream good("# frame played_ns quantum\n0 1000000000 1024\n1024 1021333333 1024\n");
    EXPECT_NEAR(*TimeMap::fromLog(good, kRate).monotonicNsAt(512), 1e9 + 512 * 1e9 / kRate, 1);
    std::istringstream bad("0 1000000000\nnot a line\n");
    EXPECT_THROW(TimeMap::fromLog(bad, kRate), std::runtime_error);
}

}  // namespace
}  // namespace vindelor::rig
