#include "sound/click_track.h"

#include <gtest/gtest.h>

#include <cmath>

#include "timer/tick_schedule.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Write = ClickTrack::Write;

TEST(ClickTrackTest, BeatsLandOnTheFrameOfTheirDistanceFromTheAnchorRoundedOnce) {
    for (const int bpm : {50, 70, 200}) {
        for (const std::uint32_t rate : {44100u, 48000u}) {
            ClickTrack track{FrameRate(rate)};
            TickSchedule schedule;
            schedule.start(123456789ns, 60000.0 / bpm);
            track.anchor(BeatTime(schedule.nextDue()), 1000, 100);
            for (int beat = 0; beat <= 2000; ++beat) {
                ASSERT_EQ(track.frameOf(BeatTime(schedule.nextDue())), 1000 + std::llround(beat * 60.0 * rate / bpm))
                    << bpm << " BPM at " << rate << ", beat " << beat;
                schedule.advance();
            }
        }
    }
    ClickTrack track{FrameRate(192000)};  // thirty hours do not overflow
    track.anchor(BeatTime(0ns), 0, 10);
    EXPECT_EQ(track.frameOf(BeatTime(std::chrono::hours(30) + 1ms)), 30LL * 3600 * 192000 + 192);
}

TEST(ClickTrackTest, AClickCutsOffOneStillSoundingAndALateOneSoundsWholeAsSoonAsItCan) {
    ClickTrack track{FrameRate(48000)};
    track.anchor(BeatTime(0s), 0, 4890);  // a long accent
    EXPECT_EQ(track.place(100, 1650, 0), (Write{100, 1650, 4890 - 1750}));
    EXPECT_EQ(track.place(24000, 1650, 24500), (Write{24500, 1650, 0}));
}

}  // namespace
}  // namespace vindelor
