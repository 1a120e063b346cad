// The real sound output against a PulseAudio of the test's own (private_pulse.sh), driven from
// this thread while the sound thread runs (under ThreadSanitizer, the test of the two
// threads): no server at first, then a server that dies and comes back, twice, and one that
// refuses the stream for a while.

#include "sound/pulse_click_output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "resources/embedded_resources.h"
#include "timer/clock.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

void server(const std::string& what) {
    ASSERT_EQ(std::system(("bash " VINDELOR_PRIVATE_PULSE " " + what + " >>" +
                           std::getenv("PRIVATE_PULSE_DIR") + "/control.log 2>&1")
                              .c_str()),
              0)
        << what;
}

TEST(PulseClickOutputTest, BeatsGoOnWithoutAServerAndClickAgainSoonAfterItReturns) {
    ASSERT_NE(std::getenv("PRIVATE_PULSE_DIR"), nullptr) << "run me through private_pulse.sh";
    server("stop");
    PulseClickOutput output;
    for (const ClickClip clip : kAllClickClips) {
        output.prepare(clip, *findEmbeddedResource("VINDELOR", resourceIdOf(clip)));
    }
    const MonotonicClock clock;
    std::int64_t beats = 0;
    // Hands over a beat every 20 ms, its lead ahead, for `span` or until `done`; no call may
    // take as long as a second: it would be waiting for the server.
    const auto beatFor = [&](Nanoseconds span, const std::function<bool()>& done) {
        for (const Nanoseconds until = clock.now() + span; clock.now() < until;) {
            const Nanoseconds now = clock.now();
            output.play(kAllClickClips[beats % 3], now + output.lead(), now, beats == 0);
            ++beats;
            EXPECT_LT(clock.now() - now, 1s) << "play waited";
            if (done()) {
                return true;
            }
            while (clock.now() < now + 20ms) {
            }
        }
        return false;
    };
    // The stream's clock runs: while the run's first beat waits, the time it gives holds still.
    const auto sounding = [&] {
        const auto before = output.playbackTime();
        for (const Nanoseconds until = clock.now() + 3ms; clock.now() < until;) {
        }
        const auto after = output.playbackTime();
        return before && after && *after > *before;
    };
    EXPECT_FALSE(beatFor(1s, [&] { return output.connected() || sounding(); }));
    for (int round = 0; round < 2; ++round) {
        server("start");
        EXPECT_TRUE(beatFor(2500ms, sounding)) << round;
        // Bursts far faster than beats fill the ring, with starts and stops among them.
        for (int burst = 0; burst < 300; ++burst) {
            const Nanoseconds now = clock.now();
            output.play(kAllClickClips[burst % 3], now + output.lead(), now, burst % 50 == 0);
            if (burst % 77 == 0) {
                output.stop(now);
            }
        }
        EXPECT_TRUE(beatFor(2s, sounding)) << round;
        server("stop");
        beatFor(1s, [] { return false; });
        EXPECT_FALSE(output.connected() || sounding()) << round;
    }
    // A server that answers but has no sink to play on refuses the stream: it is asked again
    // until it takes it.
    server("start");
    server("nosink");
    EXPECT_FALSE(beatFor(1500ms, [&] { return output.connected() || sounding(); }));
    server("sink");
    EXPECT_TRUE(beatFor(2500ms, sounding)) << "the stream is made again";
}

}  // namespace
}  // namespace vindelor
