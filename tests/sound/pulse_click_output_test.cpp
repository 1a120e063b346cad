// The real sound output against a PulseAudio server of the test's own (private_pulse.sh),
// driven from this thread while the server's thread runs: under ThreadSanitizer this is the
// test of the two threads. The server dies and comes back under it.

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

struct Beats {
    explicit Beats(PulseClickOutput& output) : output(output) {
        for (const ClickClip clip : kAllClickClips) {
            output.prepare(clip, *findEmbeddedResource("VINDELOR", resourceIdOf(clip)));
        }
    }
    // Hands over a beat every 20 ms, each its lead ahead, until `done` or `within` passes;
    // whether `done` came. No call may take as long as a second: it would be waiting.
    bool beatUntil(const std::function<bool()>& done, Nanoseconds within) {
        const Nanoseconds until = clock.now() + within;
        while (clock.now() < until) {
            const Nanoseconds now = clock.now();
            output.play(kAllClickClips[count % 3], now + output.lead(), now, count == 0);
            EXPECT_LT(clock.now() - now, 1s) << "play waited";
            ++count;
            if (done()) {
                return true;
            }
            const Nanoseconds next = now + 20ms;
            while (clock.now() < next) {
            }
        }
        return false;
    }
    bool sounding() const { return output.playbackTime().has_value(); }

    PulseClickOutput& output;
    MonotonicClock clock;
    std::int64_t count = 0;
};

void server(const char* what) {
    const std::string command = "bash " VINDELOR_PRIVATE_PULSE " " + std::string(what) + " >>" +
                                std::getenv("PRIVATE_PULSE_DIR") + "/control.log 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << what;
}

TEST(PulseClickOutputTest, BeatsGoOnWithoutAServerAndClickAgainSoonAfterItReturns) {
    ASSERT_NE(std::getenv("PRIVATE_PULSE_DIR"), nullptr) << "run me through private_pulse.sh";
    server("stop");
    PulseClickOutput output;
    Beats beats(output);
    EXPECT_FALSE(beats.beatUntil([&] { return output.connected() || beats.sounding(); }, 1s));

    for (int round = 0; round < 2; ++round) {
        server("start");
        EXPECT_TRUE(beats.beatUntil([&] { return beats.sounding(); }, 2500ms)) << round;
        // Hammered: bursts far faster than beats fill the ring, starts and stops among them.
        for (int burst = 0; burst < 300; ++burst) {
            const Nanoseconds now = beats.clock.now();
            output.play(kAllClickClips[burst % 3], now + output.lead(), now, burst % 50 == 0);
            if (burst % 77 == 0) {
                output.stop(now);
            }
        }
        EXPECT_TRUE(beats.beatUntil([&] { return beats.sounding(); }, 2s)) << round;
        server("stop");
        beats.beatUntil([] { return false; }, 1s);
        EXPECT_FALSE(output.connected() || beats.sounding()) << round;
    }
    output.stop(beats.clock.now());
}

}  // namespace
}  // namespace vindelor
