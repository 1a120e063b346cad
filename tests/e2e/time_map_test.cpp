#include "bench/rig/time_map.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <vector>

namespace vindelor::rig {
namespace {

// Sample 0 played at 5 s; an anchor every 100 ms, the sink `ppm` fast; PulseAudio's replies
// around a rewind off by tens of milliseconds, both ways.
TEST(TimeMapTest, PlacesASampleWhenItPlayedThroughStrayAnchorsAndADriftingSink) {
    for (const double ppm : {0.0, 100.0}) {
        std::vector<Anchor> anchors;
        for (std::int64_t k = 0; k < 1200; ++k) {
            const double played = 5e9 + 4800.0 * k * 1e9 / 48000 / (1 + ppm * 1e-6);
            const double stray = k % 200 == 100 ? 30e6 : k % 200 == 101 ? -25e6 : 0;
            anchors.push_back({4800 * k, static_cast<std::int64_t>(played + stray)});
        }
        const TimeMap map(anchors, 48000);
        for (const double sample : {0.0, 480000.5, 5'000'000.0}) {
            const double played = 5e9 + sample * 1e9 / 48000 / (1 + ppm * 1e-6);
            // Anchors ten seconds either way share a clock: 100 ppm off moves it by a millisecond.
            EXPECT_NEAR(*map.monotonicNsAt(sample), played, ppm * 10'000 + 1000) << ppm << ", " << sample;
        }
        EXPECT_FALSE(map.monotonicNsAt(7e6)) << "far beyond the last anchor";
    }
    std::istringstream bad("0 1000000000\nnot a line\n");
    EXPECT_THROW(TimeMap::fromLog(bad, 48000), std::runtime_error);
}

}  // namespace
}  // namespace vindelor::rig
