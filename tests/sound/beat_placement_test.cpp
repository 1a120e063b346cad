#include "sound/beat_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sound/request_ring.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Frames = BeatPlacement::Frames;

constexpr std::int64_t kRate = 48000;
constexpr std::int64_t kMs = 1'000'000;

// A server as the clock sees it. PulseAudio: the sink has mixed `latencyNs` ahead of what
// plays. PipeWire: the read index moves in whole quanta, taken at the start of each cycle.
struct FakeServer {
    double ppm = 0;  // how much faster the sink runs than the monotonic clock
    Frames quantum = 0;
    std::int64_t latencyNs = 0;

    double playing(std::int64_t ns) const { return ns * 1e-9 * kRate * (1 + ppm * 1e-6); }
    Frames read(std::int64_t ns) const {
        return quantum > 0 ? (static_cast<Frames>(playing(ns)) / quantum + 1) * quantum
                           : static_cast<Frames>(playing(ns) + latencyNs * 1e-9 * kRate);
    }
    void reply(StreamClock& clock, std::int64_t ns) const {
        clock.addReply(ns, read(ns), latencyNs, latencyNs);
    }
};

OutputRequest beat(std::chrono::nanoseconds due, std::int64_t handedNs, bool startsRun = false,
                   std::chrono::nanoseconds ahead = 0ns) {
    return {.kind = OutputRequest::Kind::Play, .startsRun = startsRun, .due = due, .ahead = ahead,
            .handedNs = handedNs};
}

TEST(StreamClockTest, FollowsASinkThatDriftsAndKnowsItsLatency) {
    FakeServer server{.ppm = 80, .latencyNs = 40 * kMs};
    StreamClock clock(kRate, false);
    for (std::int64_t s = 1; s <= 60; ++s) {
        server.reply(clock, s * 1000 * kMs);
        // Between replies, a second apart, the clock strays by the drift alone.
        const std::int64_t later = s * 1000 * kMs + 900 * kMs;
        EXPECT_NEAR(clock.playingAt(later), server.playing(later), 0.1 * kRate / 1000) << s;
    }
    EXPECT_EQ(clock.horizon(), 40 * kRate / 1000);
}

TEST(StreamClockTest, OnAQuantizedServerNothingBeyondTheHorizonIsEverTaken) {
    FakeServer server{.quantum = 1024};
    StreamClock clock(kRate, true);
    clock.setUnknownQuantum(2048);
    std::int64_t ns = 5000 * kMs;
    server.reply(clock, ns);
    EXPECT_EQ(clock.horizon(), 2048) << "one step seen: the quantum is not known yet";
    // Replies at uneven distances, as the output asks for them, then a long run of replies
    // each 94 quanta apart: their steps alone would say the quantum is 94 times larger.
    std::vector<std::int64_t> gapsNs = {30 * kMs, 40 * kMs, 80 * kMs, 150 * kMs, 700 * kMs};
    gapsNs.resize(gapsNs.size() + 2 * StreamClock::kReplies,
                  std::int64_t{94} * 1024 * 1'000'000'000 / kRate);
    for (std::size_t i = 0; i < gapsNs.size(); ++i) {
        const std::int64_t gapNs = gapsNs[i];
        ns += gapNs;
        server.reply(clock, ns);
        if (i >= 2) {
            ASSERT_EQ(clock.horizon(), 1024) << "reply " << i;
        }
        for (std::int64_t t = ns; t < ns + gapNs; t += 3 * kMs) {
            ASSERT_GE(clock.playingAt(t) + clock.horizon(), server.read(t)) << t;
        }
    }
    EXPECT_EQ(clock.horizon(), 1024);
    EXPECT_LE(clock.playingAt(ns) - static_cast<Frames>(server.playing(ns)), 1024);

    // A stream resampled to the graph's rate steps by no common quantum: the largest is assumed.
    StreamClock resampled(44100, true);
    resampled.setUnknownQuantum(2048);
    for (const Frames read : {0, 941, 1881, 4704}) {
        resampled.addReply(read * kMs, read, 0, 0);
    }
    EXPECT_EQ(resampled.horizon(), 2048);
}

// A run anchored where a corked PipeWire stream will be read, then beats handed over by the
// lead the placement asks for: every one lands beyond what the server has taken when it is
// written, however late in the lead the write comes.
TEST(BeatPlacementTest, ABeatHandedOverByTheLeadIsWrittenBeforeTheServerTakesIt) {
    for (const std::int64_t phaseMs : {0, 7, 13, 20}) {
        FakeServer server{.quantum = 1024};
        BeatPlacement placement(kRate, true, 2048);
        const std::int64_t start = 10'000 * kMs + phaseMs * kMs;
        placement.anchorAt(beat(0ms, start, true), server.read(start), 2500);
        std::int64_t ns = start;
        for (const int gapMs : {30, 40, 80, 150}) {
            ns += gapMs * kMs;
            server.reply(placement.clock(), ns);
        }
        for (int k = 1; k <= 20; ++k) {
            const std::chrono::nanoseconds due = k * 500ms;
            const std::int64_t handed = start + (due - placement.lead()).count();
            const std::int64_t written = handed + RequestRing::kLookWindow.count();
            const auto write = placement.place(beat(due, handed), 2500, written, false);
            ASSERT_EQ(write.frame, server.read(start) + k * 24000) << "beat " << k;
            ASSERT_GT(write.frame, server.read(written)) << "phase " << phaseMs << ", beat " << k;
        }
    }
}

// The read index tells only which quantum was taken; replies at chosen moments pin down
// where in its cycle the graph is, each halving what is left.
TEST(StreamClockTest, RepliesAtChosenMomentsPinAQuantizedClockDownToTheSample) {
    FakeServer server{.quantum = 1024};
    StreamClock clock(kRate, true);
    clock.setUnknownQuantum(2048);
    std::int64_t ns = 7000 * kMs + 3 * kMs;
    for (const std::int64_t after : {0, 30, 40, 80}) {
        ns += after * kMs;
        server.reply(clock, ns);
    }
    const StreamClock::Frames coarse = clock.spread();
    EXPECT_LE(coarse, 1024);
    int replies = 0;
    while (clock.spread() > 24 && replies < 12) {
        const auto at = clock.usefulReplyAt(ns + kMs);
        ASSERT_TRUE(at);
        ns = *at + 50'000;  // the server answers a little after it was asked to
        server.reply(clock, ns);
        ++replies;
    }
    EXPECT_LE(replies, 7) << "from " << coarse << " frames";
    // The edge is where the read index steps: a quantum ahead of what plays, to the sample.
    EXPECT_NEAR(clock.playingAt(ns), server.playing(ns) + 1024, 25);
}

// A fresh PulseAudio sink gives up the seconds it had mixed ahead in steps: until it reads
// the stream, and while its replies disagree, the clock is not to be trusted to the sample.
TEST(StreamClockTest, ASinkSettlingToItsLatencyIsNotTrustedUntilItsRepliesAgree) {
    StreamClock clock(kRate, false);
    std::int64_t ns = 9000 * kMs;
    clock.addReply(ns, 0, 1800 * kMs, 100 * kMs);
    clock.addReply(ns + 20 * kMs, 0, 1780 * kMs, 100 * kMs);
    EXPECT_GT(clock.spread(), kRate / 1000) << "the stream is not read yet";
    EXPECT_EQ(clock.usefulReplyAt(ns + 20 * kMs), ns + 40 * kMs);
    ns += 1900 * kMs;  // it reads: 1000 frames played, and 48 more each millisecond
    clock.addReply(ns, 2920, 40 * kMs, 100 * kMs);
    clock.addReply(ns + 20 * kMs, 3880, 200 * kMs, 100 * kMs);  // a latency not yet so
    EXPECT_GT(clock.spread(), kRate / 10);
    clock.addReply(ns + 40 * kMs, 4840, 40 * kMs, 100 * kMs);
    EXPECT_GT(clock.spread(), kRate / 10);
    clock.addReply(ns + 60 * kMs, 5800, 40 * kMs, 100 * kMs);
    EXPECT_LE(clock.spread(), 1);
}

TEST(BeatPlacementTest, TheFirstBeatAfterTheServerCameBackKeepsItsPlaceAndTheBeatsAfterIt) {
    FakeServer server{.latencyNs = 40 * kMs};
    BeatPlacement placement(kRate, false);
    // Handed over 120 ms before its due time, while the new stream was opening.
    const std::int64_t handed = 7000 * kMs;
    const OutputRequest first = beat(80s, handed, false, 120ms);
    EXPECT_EQ(placement.lead(), BeatPlacement::kUnknownLead);
    server.reply(placement.clock(), handed + 30 * kMs);
    EXPECT_EQ(placement.lead(), 40ms + BeatPlacement::kLeadMargin) << "the sink's latency";
    const auto frame = placement.anchor(first, 2500, handed + 31 * kMs, true, false);
    ASSERT_TRUE(frame);
    EXPECT_NEAR(*frame, server.playing(handed + 120 * kMs), 1);
    const ClickTrack::Write next =
        placement.place(beat(80s + 500ms, handed + 500 * kMs), 1650, handed + 500 * kMs, true);
    EXPECT_EQ(next.frame - *frame, 24000);
    const std::int64_t late = handed + 1100 * kMs;  // within what the sink has mixed: rewound
    EXPECT_EQ(placement.place(beat(81s, late), 1650, late, true).frame, *frame + 48000);

    // One the stream came too late for is skipped, so that the grid stays where it was; once
    // it may move, it sounds as soon as it can, whole; a later one is dropped.
    EXPECT_FALSE(placement.anchor(first, 2500, handed + 180 * kMs, true, false));
    EXPECT_EQ(placement.anchor(first, 2500, handed + 180 * kMs, false, true),
              placement.untakenAt(handed + 180 * kMs));
    EXPECT_FALSE(placement.anchor(first, 2500, handed + 300 * kMs, true, true));
}

// A run's grid may sound some way after its due times (on PipeWire, by up to two quanta):
// Stop withdraws by what plays, not by the grid.
TEST(BeatPlacementTest, StopWithdrawsTheClicksThatWouldStartAfterWhatPlaysAtStop) {
    FakeServer server{.quantum = 1024};
    BeatPlacement placement(kRate, true, 2048);
    const std::int64_t start = 10'000 * kMs;
    const Frames first = static_cast<Frames>(server.playing(start)) + 40 * kRate / 1000;
    placement.anchorAt(beat(0ms, start, true), first, 2500);
    server.reply(placement.clock(), start + 30 * kMs);
    placement.place(beat(500ms, start + 440 * kMs), 1650, start + 440 * kMs, false);
    // Stop 10 ms after the beat's due time, 30 ms before its click sounds.
    const OutputRequest stop{
        .kind = OutputRequest::Kind::Stop, .due = 510ms, .handedNs = start + 510 * kMs};
    const auto withdrawn = placement.withdrawAfter(stop);
    ASSERT_TRUE(withdrawn);
    EXPECT_EQ(withdrawn->frame, first + 24000);
}

TEST(RequestRingTest, OnlyAnUnforeseenRequestWakesTheServersThread) {
    RequestRing ring;
    const OutputRequest second = beat(500ms, 1000 * kMs);
    EXPECT_TRUE(ring.needsWake(beat(0ms, 500 * kMs, true), 500 * kMs)) << "a run's first beat";
    ring.foreseeNextBeat(0ms, 500 * kMs, 500 * kMs);
    const auto look = ring.foreseeNextBeat(500ms, 1000 * kMs, 1000 * kMs);
    ASSERT_EQ(look, 1500 * kMs + RequestRing::kLookDelay.count());
    EXPECT_FALSE(ring.needsWake(second, *look - 5 * kMs)) << "handed over just before the look";
    EXPECT_TRUE(ring.needsWake(second, *look - 50 * kMs)) << "a new tempo, beats closer";
    EXPECT_TRUE(ring.needsWake({.kind = OutputRequest::Kind::Stop}, *look - 5 * kMs));
    EXPECT_TRUE(ring.withdrawLook());
    EXPECT_TRUE(ring.needsWake(second, *look - 5 * kMs)) << "the look has been";

    for (std::uint64_t i = 0; i < RequestRing::kCapacity; ++i) {
        ASSERT_TRUE(ring.push(beat(0ms, 0)));
    }
    EXPECT_FALSE(ring.push(beat(0ms, 0)));
    EXPECT_TRUE(ring.pop());
    EXPECT_TRUE(ring.push(beat(0ms, 0)));
}

}  // namespace
}  // namespace vindelor
