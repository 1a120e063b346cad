#include "sound/click_track.h"

#include <gtest/gtest.h>

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Write = ClickTrack::Write;

// A beat lands at the anchor plus its distance from the anchor's due time, rounded to the
// nearest frame (three beats at 70 BPM: 123428.57 frames); thirty hours at 192 kHz do not
// overflow.
TEST(ClickTrackTest, BeatsLandOnTheNearestFrameOfTheirDistanceFromTheAnchor) {
    ClickTrack track{FrameRate(48000)};
    track.anchor(BeatTime(123456789ns), 1000, 100);
    EXPECT_EQ(track.frameOf(BeatTime(123456789ns + 2571428571ns)), 1000 + 123'429);
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
