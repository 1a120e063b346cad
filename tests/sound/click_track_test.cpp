#include "sound/click_track.h"

#include <gtest/gtest.h>

#include "timer/tick_schedule.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Write = ClickTrack::Write;

// 70 BPM at 48 kHz: 41142.857 frames a beat, 2000 beats on to the frame (rounded beat by
// beat, 286 frames late); thirty hours at 192 kHz do not overflow.
TEST(ClickTrackTest, BeatsLandOnTheFrameOfTheirDistanceFromTheAnchorRoundedOnce) {
    ClickTrack track{FrameRate(48000)};
    TickSchedule schedule;
    schedule.start(123456789ns, 60000.0 / 70);
    track.anchor(BeatTime(schedule.nextDue()), 1000, 100);
    for (int beat = 0; beat < 2000; ++beat) {
        schedule.advance();
    }
    EXPECT_EQ(track.frameOf(BeatTime(schedule.nextDue())), 1000 + 82'285'714);
    ClickTrack longRun{FrameRate(192000)};
    longRun.anchor(BeatTime(0ns), 0, 10);
    EXPECT_EQ(longRun.frameOf(BeatTime(std::chrono::hours(30) + 1ms)), 30LL * 3600 * 192000 + 192);
}

TEST(ClickTrackTest, AClickCutsOffOneStillSoundingAndALateOneSoundsWholeAsSoonAsItCan) {
    ClickTrack track{FrameRate(48000)};
    track.anchor(BeatTime(0s), 0, 4890);  // a long accent
    EXPECT_EQ(track.place(100, 1650, 0), (Write{100, 1650, 4890 - 1750}));
    EXPECT_EQ(track.place(24000, 1650, 24500), (Write{24500, 1650, 0}));
}

}  // namespace
}  // namespace vindelor
