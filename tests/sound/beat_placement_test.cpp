#include "sound/beat_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sound/request_ring.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kRate = 48000;
constexpr FrameRate kFrameRate(kRate);
constexpr std::chrono::nanoseconds kMs = 1ms;
// The monotonic clock's epoch: the tests' times count from it.
constexpr MonotonicTime kEpoch{};

// Times of the two clocks do not mix: a time on one is no moment on the other.
template <typename A, typename B>
concept Subtractable = requires(A a, B b) { a - b; };
template <typename A, typename B>
concept Addable = requires(A a, B b) { a + b; };
static_assert(!Subtractable<MonotonicTime, BeatTime> && !Subtractable<BeatTime, MonotonicTime>);
static_assert(!Addable<MonotonicTime, Frames> && !Addable<BeatTime, Frames>);
static_assert(Subtractable<MonotonicTime, MonotonicTime> && Subtractable<BeatTime, BeatTime>);

// A server as the clock sees it. PulseAudio: the sink has mixed `latency` ahead of what
// plays. PipeWire: the read index moves in whole quanta, taken at the start of each cycle.
struct FakeServer {
    Frames quantum = 0;
    std::chrono::nanoseconds latency{0};

    double playing(MonotonicTime at) const {
        return static_cast<double>((at - kEpoch).count()) * 1e-9 * kRate;
    }
    Frames read(MonotonicTime at) const {
        return quantum > 0
                   ? (static_cast<Frames>(playing(at)) / quantum + 1) * quantum
                   : static_cast<Frames>(playing(at) + static_cast<double>(latency.count()) * 1e-9 * kRate);
    }
    void reply(StreamClock& clock, MonotonicTime at) const {
        clock.addReply(at, read(at), latency, latency);
    }
};

OutputRequest beat(std::chrono::nanoseconds due, MonotonicTime handed, bool startsRun = false,
                   std::chrono::nanoseconds ahead = 0ns) {
    return {.kind = OutputRequest::Kind::Play, .startsRun = startsRun, .due = BeatTime(due),
            .ahead = ahead, .handed = handed};
}

TEST(StreamClockTest, OnAQuantizedServerNothingBeyondTheHorizonIsEverTaken) {
    FakeServer server{.quantum = 1024};
    StreamClock clock(kFrameRate, true);
    clock.setUnknownQuantum(2048);
    MonotonicTime ns = kEpoch + 5s;
    server.reply(clock, ns);
    EXPECT_EQ(clock.horizon(), 2048) << "one step seen: the quantum is not known yet";
    // Replies at uneven distances, as the output asks for them, then a long run of replies
    // each 94 quanta apart: their steps alone would say the quantum is 94 times larger.
    std::vector<std::chrono::nanoseconds> gapsNs = {30ms, 40ms, 80ms, 150ms, 700ms};
    gapsNs.resize(gapsNs.size() + 2 * StreamClock::kReplies, kFrameRate.durationOf(94 * 1024));
    for (std::size_t i = 0; i < gapsNs.size(); ++i) {
        const std::chrono::nanoseconds gapNs = gapsNs[i];
        ns += gapNs;
        server.reply(clock, ns);
        if (i >= 2) {
            ASSERT_EQ(clock.horizon(), 1024) << "reply " << i;
        }
        for (MonotonicTime t = ns; t < ns + gapNs; t += 3ms) {
            ASSERT_GE(clock.playingAt(t) + clock.horizon(), server.read(t)) << (t - kEpoch).count();
        }
    }
    EXPECT_EQ(clock.horizon(), 1024);
    EXPECT_LE(clock.playingAt(ns) - static_cast<Frames>(server.playing(ns)), 1024);

    // A stream resampled to the graph's rate steps by no common quantum: the largest is assumed.
    StreamClock resampled(FrameRate(44100), true);
    resampled.setUnknownQuantum(2048);
    for (const Frames read : {0, 941, 1881, 4704}) {
        resampled.addReply(kEpoch + read * kMs, read, 0ms, 0ms);
    }
    EXPECT_EQ(resampled.horizon(), 2048);
}

// A run anchored where a corked PipeWire stream will be read, then beats handed over by the
// lead the placement asks for: every one lands beyond what the server has taken when it is
// written, however late in the lead the write comes.
TEST(BeatPlacementTest, ABeatHandedOverByTheLeadIsWrittenBeforeTheServerTakesIt) {
    for (const std::int64_t phaseMs : {0, 7, 13, 20}) {
        FakeServer server{.quantum = 1024};
        BeatPlacement placement(kFrameRate, true, 2048);
        const MonotonicTime start = kEpoch + 10s + phaseMs * kMs;
        placement.anchorAt(beat(0ms, start, true), server.read(start), 2500);
        MonotonicTime ns = start;
        for (const int gapMs : {30, 40, 80, 150}) {
            ns += gapMs * kMs;
            server.reply(placement.clock(), ns);
        }
        for (int k = 1; k <= 20; ++k) {
            const std::chrono::nanoseconds due = k * 500ms;
            const MonotonicTime handed = start + (due - placement.lead());
            const MonotonicTime written = handed + RequestRing::kLookWindow;
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
    StreamClock clock(kFrameRate, true);
    clock.setUnknownQuantum(2048);
    MonotonicTime ns = kEpoch + 7003ms;
    for (const std::int64_t after : {0, 30, 40, 80}) {
        ns += after * kMs;
        server.reply(clock, ns);
    }
    const Frames coarse = clock.spread();
    EXPECT_LE(coarse, 1024);
    int replies = 0;
    while (clock.spread() > 24 && replies < 12) {
        const auto at = clock.usefulReplyAt(ns + kMs);
        ASSERT_TRUE(at);
        ns = *at + 50us;  // the server answers a little after it was asked to
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
    StreamClock clock(kFrameRate, false);
    MonotonicTime ns = kEpoch + 9s;
    clock.addReply(ns, 0, 1800ms, 100ms);
    clock.addReply(ns + 20 * kMs, 0, 1780ms, 100ms);
    EXPECT_GT(clock.spread(), kRate / 1000) << "the stream is not read yet";
    EXPECT_EQ(clock.usefulReplyAt(ns + 20ms), ns + 40ms);
    ns += 1900ms;  // it reads: 1000 frames played, and 48 more each millisecond
    clock.addReply(ns, 2920, 40ms, 100ms);
    clock.addReply(ns + 20 * kMs, 3880, 200ms, 100ms);  // a latency not yet so
    EXPECT_GT(clock.spread(), kRate / 10);
    clock.addReply(ns + 40 * kMs, 4840, 40ms, 100ms);
    EXPECT_GT(clock.spread(), kRate / 10);
    clock.addReply(ns + 60 * kMs, 5800, 40ms, 100ms);
    EXPECT_LE(clock.spread(), 1);
}

TEST(BeatPlacementTest, TheFirstBeatAfterTheServerCameBackKeepsItsPlaceAndTheBeatsAfterIt) {
    FakeServer server{.latency = 40ms};
    BeatPlacement placement(kFrameRate, false);
    // Handed over 120 ms before its due time, while the new stream was opening.
    const MonotonicTime handed = kEpoch + 7s;
    const OutputRequest first = beat(80s, handed, false, 120ms);
    EXPECT_EQ(placement.lead(), BeatPlacement::kUnknownLead);
    server.reply(placement.clock(), handed + 30ms);
    EXPECT_EQ(placement.lead(), 40ms + BeatPlacement::kLeadMargin) << "the sink's latency";
    const auto frame = placement.anchor(first, 2500, handed + 31ms, true, false);
    ASSERT_TRUE(frame);
    EXPECT_NEAR(*frame, server.playing(handed + 120ms), 1);
    const ClickTrack::Write next =
        placement.place(beat(80s + 500ms, handed + 500ms), 1650, handed + 500ms, true);
    EXPECT_EQ(next.frame - *frame, 24000);
    const MonotonicTime late = handed + 1100ms;  // within what the sink has mixed: rewound
    EXPECT_EQ(placement.place(beat(81s, late), 1650, late, true).frame, *frame + 48000);

    // One the stream came too late for is skipped, so that the grid stays where it was; once
    // it may move, it sounds as soon as it can, whole; a later one is dropped.
    EXPECT_FALSE(placement.anchor(first, 2500, handed + 180ms, true, false));
    EXPECT_EQ(placement.anchor(first, 2500, handed + 180ms, false, true),
              placement.untakenAt(handed + 180ms));
    EXPECT_FALSE(placement.anchor(first, 2500, handed + 300ms, true, true));
}

TEST(RequestRingTest, OnlyAnUnforeseenRequestWakesTheServersThread) {
    RequestRing ring;
    const OutputRequest second = beat(500ms, kEpoch + 1s);
    EXPECT_TRUE(ring.needsWake(beat(0ms, kEpoch + 500ms, true), kEpoch + 500ms))
        << "a run's first beat";
    ring.foreseeNextBeat(BeatTime(0ms), kEpoch + 500ms, kEpoch + 500ms);
    const auto look = ring.foreseeNextBeat(BeatTime(500ms), kEpoch + 1s, kEpoch + 1s);
    ASSERT_EQ(look, kEpoch + 1500ms + RequestRing::kLookDelay);
    EXPECT_FALSE(ring.needsWake(second, *look - 5ms)) << "handed over just before the look";
    EXPECT_TRUE(ring.needsWake(second, *look - 50ms)) << "a new tempo, beats closer";
    EXPECT_TRUE(ring.needsWake({.kind = OutputRequest::Kind::Stop}, *look - 5ms));
    EXPECT_TRUE(ring.withdrawLook());
    EXPECT_TRUE(ring.needsWake(second, *look - 5ms)) << "the look has been";

    for (std::uint64_t i = 0; i < RequestRing::kCapacity; ++i) {
        ASSERT_TRUE(ring.push(beat(0ms, kEpoch)));
    }
    EXPECT_FALSE(ring.push(beat(0ms, kEpoch)));
    EXPECT_TRUE(ring.pop());
    EXPECT_TRUE(ring.push(beat(0ms, kEpoch)));
}

}  // namespace
}  // namespace vindelor
