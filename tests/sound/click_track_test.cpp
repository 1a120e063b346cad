#include "sound/click_track.h"

#include <gtest/gtest.h>

#include <cmath>

#include "timer/tick_schedule.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

TEST(ClickTrackTest, BeatsLandOnTheNominalFrameOfTheirDistanceFromTheFirst) {
    for (const int bpm : {50, 70, 120, 200}) {
        for (const std::uint32_t rate : {44100u, 48000u}) {
            ClickTrack track(rate);
            TickSchedule schedule;
            schedule.start(123456789ns, 60000.0 / bpm);
            track.anchor(schedule.nextDue(), 1000, 100);
            const double framesPerBeat = 60.0 * rate / bpm;
            ClickTrack::Frames previous = 1000;
            for (int beat = 0; beat <= 2000; ++beat) {
                const ClickTrack::Frames frame = track.frameOf(schedule.nextDue());
                schedule.advance();
                ASSERT_EQ(frame, 1000 + std::llround(beat * framesPerBeat))
                    << bpm << " BPM at " << rate << ", beat " << beat;
                if (beat > 0) {
                    // Every interval is the nominal one rounded to a whole frame, one either way.
                    ASSERT_LE(std::abs(static_cast<double>(frame - previous) - framesPerBeat), 1.0);
                }
                previous = frame;
            }
        }
    }
}

TEST(ClickTrackTest, DaysOfRunningDoNotOverflow) {
    ClickTrack track(192000);
    track.anchor(0ns, 0, 10);
    const auto thirtyHours = std::chrono::nanoseconds(std::chrono::hours(30));
    EXPECT_EQ(track.frameOf(thirtyHours), 30LL * 3600 * 192000);
    EXPECT_EQ(track.frameOf(thirtyHours + 1ms), 30LL * 3600 * 192000 + 192);
}

TEST(ClickTrackTest, ABeatDueBeforeTheAnchorSoundsAtTheAnchor) {
    ClickTrack track(48000);
    track.anchor(10s, 500, 10);
    EXPECT_EQ(track.frameOf(9s), 500);
}

TEST(ClickTrackTest, AClickAfterTheLastHasEndedNeedsNoSilence) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 2500);
    EXPECT_EQ(track.place(24000, 1650, 0), (ClickTrack::Write{24000, 1650, 0}));
}

TEST(ClickTrackTest, AClickCutsOffTheTailOfOneStillSounding) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 4890);  // a long accent
    // A short click 100 frames in: the accent's rest after the new click is zeroed.
    EXPECT_EQ(track.place(100, 1650, 0), (ClickTrack::Write{100, 1650, 4890 - 1750}));
    // The same click again on top of itself restarts it; nothing of the first is left over.
    EXPECT_EQ(track.place(200, 1650, 0), (ClickTrack::Write{200, 1650, 0}));
}

TEST(ClickTrackTest, ABeatHandedOverTooLateSoundsWholeAsSoonAsItCan) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 100);
    EXPECT_EQ(track.place(24000, 1650, 24500), (ClickTrack::Write{24500, 1650, 0}));
}

TEST(ClickTrackTest, StopWithdrawsOnlyClicksThatHaveNotStarted) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 2500);
    track.place(24000, 1650, 0);
    track.place(48000, 1650, 0);
    // At frame 30000 the second click has sounded; the third is still ahead.
    EXPECT_EQ(track.withdrawAfter(30000), (ClickTrack::Write{48000, 0, 1650}));
    EXPECT_EQ(track.withdrawAfter(30000), std::nullopt);
    // After the withdrawal a new click needs no silence for the withdrawn one.
    EXPECT_EQ(track.place(49000, 1650, 0), (ClickTrack::Write{49000, 1650, 0}));
}

TEST(ClickTrackTest, StopWithdrawsEveryClickPlacedAheadWhenTheLeadIsLong) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 2500);
    track.place(14400, 1650, 0);
    track.place(28800, 1650, 0);
    EXPECT_EQ(track.withdrawAfter(10000), (ClickTrack::Write{14400, 0, 28800 + 1650 - 14400}));
}

TEST(ClickTrackTest, ResetForgetsTheRun) {
    ClickTrack track(48000);
    track.anchor(0s, 0, 2500);
    track.reset();
    EXPECT_FALSE(track.anchored());
    EXPECT_EQ(track.withdrawAfter(0), std::nullopt);
    EXPECT_EQ(track.place(10, 100, 0), (ClickTrack::Write{10, 100, 0}));
}

}  // namespace
}  // namespace vindelor
