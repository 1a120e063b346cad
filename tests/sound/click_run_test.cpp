// The run's logic on a fake stream and a fake server: where each click goes, and what the
// window's thread sees of the beat time, through Start, Stop, a late server and a lost one.

#include "sound/click_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Kind = ClickRun::Reading::Kind;

constexpr std::int64_t kRate = 48000;
constexpr std::chrono::nanoseconds kMs = 1ms;
constexpr MonotonicTime kEpoch{};
constexpr std::int64_t kBeatFrames = 24000;  // 120 BPM
constexpr std::size_t kAccent = 1;

// A stream on a server that plays it from `startFrame` on at `playAt` (the uncork), at the
// stream's own rate. PulseAudio's read index runs the sink's latency ahead of what plays;
// PipeWire's moves in whole quanta.
class FakeStream final : public ClickStream {
  public:
    struct Write {
        Frames from;
        Frames to;
        std::size_t clipFrames;
    };

    FakeStream(Frames quantum, std::chrono::nanoseconds latency)
        : quantum_(quantum), latency_(latency) {}

    void play() override { ++plays; }
    void idle() override { ++idles; }
    std::uint64_t askTiming() override { return ++asked; }
    void write(Frames from, Frames to, std::span<const std::int16_t> clip) override {
        writes.push_back({from, to, clip.size()});
    }
    std::uint64_t startWith(std::span<const std::int16_t> clip) override {
        starts.push_back(clip.size());
        return ++asked;
    }
    std::optional<Frames> writeEnd() const override { return std::nullopt; }

    Frames playing(MonotonicTime at) const {
        return startFrame + std::llround(static_cast<double>((at - playAt).count()) * 1e-9 * kRate);
    }
    Frames read(MonotonicTime at) const {
        return quantum_ > 0 ? (playing(at) / quantum_ + 1) * quantum_
                            : playing(at) + latency_.count() * kRate / 1'000'000'000;
    }
    StreamTiming reply(std::uint64_t number, MonotonicTime at) const {
        return {.number = number, .at = at, .readFrame = read(at), .sinkLatency = latency_,
                .configuredLatency = latency_};
    }
    // The frames of beats 1 to `beats` of a run at 120 BPM anchored at `anchor`.
    static std::vector<Frames> grid(Frames anchor, std::int64_t beats) {
        std::vector<Frames> frames;
        for (std::int64_t k = 1; k <= beats; ++k) {
            frames.push_back(anchor + k * kBeatFrames);
        }
        return frames;
    }
    // The clicks written, where they start.
    std::vector<Frames> clicks() const {
        std::vector<Frames> at;
        for (const Write& w : writes) {
            if (w.clipFrames > 0) {
                at.push_back(w.from);
            }
        }
        return at;
    }

    MonotonicTime playAt;
    Frames startFrame = 0;
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;
    int scheduled = 0;  // replies of its own schedule so far
    int plays = 0;
    int idles = 0;
    std::vector<std::size_t> starts;
    std::vector<Write> writes;

  private:
    Frames quantum_;
    std::chrono::nanoseconds latency_;
};

struct Server {
    const char* name;
    bool pipeWire;
    Frames quantum;
    std::chrono::nanoseconds latency;
};
const Server kServers[] = {{"PulseAudio", false, 0, 100ms}, {"PipeWire", true, 1024, 0ms}};
void PrintTo(const Server& server, std::ostream* out) { *out << server.name; }

// The run with its clips, and a window that hands each beat over its lead before it is due
// by the time the run publishes, as the tick timer does.
class Rig : public ClickRun::Listener {
  public:
    explicit Rig(const Server& server) : server_(server) {}

    void beatWritten(const OutputRequest&) override {}
    void beatsForgotten() override {}

    FakeStream& connect(MonotonicTime now) {
        streams.emplace_back(std::make_unique<FakeStream>(server_.quantum, server_.latency));
        FakeStream& stream = *streams.back();
        stream.playAt = now;
        stream.startFrame = 1'000'000 * static_cast<Frames>(streams.size());
        run.attach(stream, FrameRate(kRate), server_.pipeWire);
        run.streamReady(now);
        return stream;
    }
    // Start pressed at `now`: the run's first beat, handed over at once.
    void start(MonotonicTime now) {
        beatOffset = firstDue.time_since_epoch() - now.time_since_epoch();
        run.play(beat(0, now, true), now);
    }
    // A stream, and Start on it at `now` answered a millisecond later: where the accent went.
    Frames startOnStream(MonotonicTime now) {
        FakeStream& stream = connect(now);
        start(now);
        answer(stream, now + 1ms);
        return stream.read(now + 1ms);
    }
    // Answers the stream's requests up to now, as the server would.
    void answer(FakeStream& stream, MonotonicTime now) {
        while (stream.answered < stream.asked) {
            run.timing(stream.reply(++stream.answered, now), now);
        }
    }
    // A reply the stream asked for on its own schedule.
    void clockReply(FakeStream& stream, MonotonicTime now) {
        stream.answered = ++stream.asked;
        run.timing(stream.reply(stream.asked, now), now);
    }
    OutputRequest beat(std::int64_t k, MonotonicTime handed, bool startsRun = false) {
        const BeatTime due = dueOf(k);
        return {.kind = OutputRequest::Kind::Play, .startsRun = startsRun,
                .clip = static_cast<std::uint8_t>(startsRun ? kAccent : 0), .due = due,
                .ahead = std::max(0ns, due - beatTime(handed)), .handed = handed};
    }
    // Beat `k`'s due time: 120 BPM, and from beat `tempoFrom` on at `interval`.
    BeatTime dueOf(std::int64_t k) const {
        const std::int64_t before = std::min(k, tempoFrom);
        return firstDue + before * 500ms + (k - before) * interval;
    }
    BeatTime beatTime(MonotonicTime now) const {
        const ClickRun::Reading reading = run.reading(now);
        return reading.kind == Kind::None ? BeatTime(now.time_since_epoch() + beatOffset)
                                          : reading.time;
    }
    // The stream's own replies: a few soon after it starts, then one every two seconds.
    static std::int64_t scheduledReplyMs(int i) {
        constexpr std::int64_t kEarly[] = {30, 70, 150, 300, 1000};
        return i < 5 ? kEarly[i] : 1000 + 2000 * (i - 4);
    }
    // Steps the monotonic clock from `now` in quarter milliseconds until beat `k` is to be
    // handed over, answering what the stream asked for meanwhile, with the replies of its
    // own schedule and those the run asks for; hands it over; the time it did.
    MonotonicTime handOver(FakeStream* stream, std::int64_t k, MonotonicTime now) {
        const BeatTime due = dueOf(k);
        while (beatTime(now) < due - run.lead()) {
            now += kMs / 4;
            if (stream == nullptr) {
                continue;
            }
            if (now >= stream->playAt + scheduledReplyMs(stream->scheduled) * kMs) {
                answer(*stream, now);
                clockReply(*stream, now);
                ++stream->scheduled;
            }
            if (!replyTimerNs_) {
                replyTimerNs_ = run.replyAt(now);
            } else if (now >= *replyTimerNs_) {
                replyTimerNs_.reset();
                run.replyDue(now);
                answer(*stream, now);
            }
        }
        run.play(beat(k, now), now);
        return now;
    }

    std::array<ClipSamples, 3> clips{ClipSamples(1650, 1), ClipSamples(2500, 2),
                                     ClipSamples(2600, 3)};
    ClickRun run{clips, *this};
    std::vector<std::unique_ptr<FakeStream>> streams;
    BeatTime firstDue{100s};
    std::int64_t tempoFrom = std::numeric_limits<std::int64_t>::max();
    std::chrono::nanoseconds interval = 500ms;
    std::chrono::nanoseconds beatOffset = 0ns;  // beat time less monotonic time, while None

  private:
    const Server& server_;
    std::optional<MonotonicTime> replyTimerNs_;
};

class ClickRunTest : public testing::TestWithParam<Server> {};
INSTANTIATE_TEST_SUITE_P(Servers, ClickRunTest, testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ClickRunTest, ARunAnchorsOnTheReplyToItsOwnStartAndItsBeatsFollowToTheFrame) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    FakeStream& stream = rig.connect(now);
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Idle);
    // A reply asked for before the start, still on its way, with a read index from before.
    const std::uint64_t before = stream.askTiming();
    rig.start(now);
    ASSERT_EQ(stream.starts, std::vector<std::size_t>{2500});
    EXPECT_EQ(rig.run.reading(now + 3 * kMs).kind, Kind::Held) << "until the accent sounds";
    EXPECT_EQ(rig.run.reading(now + 3 * kMs).time, rig.firstDue);

    now += 2 * kMs;
    rig.run.timing({.number = before, .readFrame = 7}, now);
    rig.run.timing(stream.reply(before + 1, now), now);
    stream.answered = before + 1;
    const Frames anchor = stream.read(now);
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Starting);
    for (std::int64_t k = 1; k <= 8; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Running);
    EXPECT_EQ(stream.clicks(), FakeStream::grid(anchor, 8));
    EXPECT_EQ(stream.starts.size(), 1U);
}

TEST_P(ClickRunTest, AFailedStartReplyLeavesTheRunToTheClockNotToTheNextReply) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    FakeStream& stream = rig.connect(now);
    rig.start(now);
    rig.run.timing({.number = stream.asked, .answered = false}, now + kMs);
    stream.answered = stream.asked;
    EXPECT_EQ(rig.run.reading(now + kMs).kind, Kind::None) << "the beats go on by the clock";
    for (std::int64_t k = 1; k <= 4; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    // Every click sounds where its due time falls on the stream's clock, not one reply's read
    // index on. (PipeWire's clock runs a quantum ahead of what plays, by the read index.)
    const std::vector<Frames> clicks = stream.clicks();
    ASSERT_FALSE(clicks.empty());
    for (std::size_t i = 1; i < clicks.size(); ++i) {
        EXPECT_EQ(clicks[i] - clicks[i - 1], kBeatFrames) << i;
    }
    const Frames dueFrame =
        stream.playing(kEpoch + 5s + 4 * 500ms) + (GetParam().pipeWire ? 1024 : 0);
    EXPECT_NEAR(clicks.back(), dueFrame, kRate / 1000) << "within 1 ms of its due time";
}

// Start with no server: the beat time holds at the first beat's due time, so that no beat
// falls due; the run begins where the server comes, and the beats follow from there.
TEST_P(ClickRunTest, AStartBeforeTheServerBeginsWhereItComesWithNoGap) {
    for (const std::int64_t delayMs : {500, 3000, 10'000}) {
        Rig rig(GetParam());
        MonotonicTime now = kEpoch + 5s;
        rig.start(now);
        EXPECT_EQ(rig.run.phase(), ClickRun::Phase::NoServer);
        EXPECT_EQ(rig.beatTime(now + delayMs * kMs), rig.firstDue) << delayMs;
        now += delayMs * kMs;
        FakeStream& stream = rig.connect(now);
        ASSERT_EQ(stream.starts, std::vector<std::size_t>{2500}) << delayMs;
        now += 2 * kMs;
        rig.answer(stream, now);
        const Frames anchor = stream.read(now);
        for (std::int64_t k = 1; k <= 6; ++k) {
            now = rig.handOver(&stream, k, now);
        }
        EXPECT_EQ(stream.clicks(), FakeStream::grid(anchor, 6)) << delayMs;
        EXPECT_EQ(stream.starts.size(), 1U) << "no second accent";
    }
}

TEST_P(ClickRunTest, StopTakesBackTheClickWrittenAheadAndCorksAfterTheLastOne) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    now = rig.handOver(&stream, 1, now + kMs);
    ASSERT_EQ(stream.clicks().size(), 1U);
    const Frames ahead = stream.clicks().back();
    ASSERT_GT(ahead, stream.playing(now));
    rig.run.stop({.kind = OutputRequest::Kind::Stop, .due = rig.beatTime(now), .handed = now},
                 now);
    ASSERT_EQ(stream.writes.back().clipFrames, 0U);
    EXPECT_EQ(stream.writes.back().from, ahead) << "zeros over the click not yet sounded";
    EXPECT_GE(stream.writes.back().to, ahead + 1650);
    ASSERT_EQ(rig.run.corkAt(), now + ClickRun::kCorkDelay);
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Stopping);

    // Start again before the cork: the stream is not corked, the run starts anew.
    rig.run.play(rig.beat(2, now + 50 * kMs, true), now + 50 * kMs);
    EXPECT_FALSE(rig.run.corkAt());
    EXPECT_EQ(stream.starts.size(), 2U);
    rig.run.stop({.kind = OutputRequest::Kind::Stop, .handed = now + 60 * kMs}, now + 60 * kMs);
    rig.run.corkDue(now + 260 * kMs);
    EXPECT_EQ(stream.idles, 1);
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Idle);
    EXPECT_EQ(rig.run.reading(now + 300 * kMs).kind, Kind::None);
}

// The server is lost while the run plays and comes back: the run goes on over the new stream
// on the grid it had, skipping a beat rather than moving the grid.
TEST_P(ClickRunTest, ARunKeepsItsGridOverALostServer) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    FakeStream* stream = &rig.connect(now);
    rig.start(now);
    rig.answer(*stream, now + kMs);
    // When the first click plays.
    const double accentNs =
        static_cast<double>((stream->playAt - kEpoch).count()) +
        static_cast<double>(stream->read(now + kMs) - stream->startFrame) * 1e9 / kRate;
    for (std::int64_t k = 1; k <= 4; ++k) {
        now = rig.handOver(stream, k, now);
    }
    // The window's clock carries on by the monotonic clock, from the beat time it had.
    rig.beatOffset = rig.beatTime(now).time_since_epoch() - now.time_since_epoch();
    rig.run.detach();
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::NoServer);
    for (std::int64_t k = 5; k <= 8; ++k) {
        now = rig.handOver(nullptr, k, now);
    }
    now += 37 * kMs;
    stream = &rig.connect(now);
    EXPECT_EQ(stream->plays, 1);
    EXPECT_TRUE(stream->starts.empty()) << "no new accent";
    for (std::int64_t k = 9; k <= 16; ++k) {
        now = rig.handOver(stream, k, now);
    }
    const std::vector<Frames> clicks = stream->clicks();
    ASSERT_GE(clicks.size(), 6U);
    for (const Frames click : clicks) {
        // When it plays, on the new stream, against the old grid.
        const double atMs =
            (static_cast<double>((stream->playAt - kEpoch).count()) +
             static_cast<double>(click - stream->startFrame) * 1e9 / kRate - accentNs) / 1e6;
        EXPECT_NEAR(std::fmod(atMs + 250, 500.0), 250, 1.0) << atMs;
    }
}

// The tempo changes to 200 BPM after beat 3 was handed over, inside its lead: that beat keeps
// its place, and every beat after it goes by its own due time, to the frame.
TEST_P(ClickRunTest, ATempoChangeInsideTheLeadMovesOnlyTheBeatsAfterIt) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    const Frames anchor = rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    for (std::int64_t k = 1; k <= 3; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    ASSERT_GT(stream.clicks().back(), stream.playing(now)) << "beat 3 is not yet sounding";
    rig.tempoFrom = 3;
    rig.interval = 300ms;
    for (std::int64_t k = 4; k <= 9; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    std::vector<Frames> expected = FakeStream::grid(anchor, 3);
    for (Frames k = 1; k <= 6; ++k) {
        expected.push_back(anchor + 3 * kBeatFrames + k * 14400);
    }
    EXPECT_EQ(stream.clicks(), expected);
}

// A blank row of the meter list hands no beats over; a meter chosen after it resumes the
// clicks on the run's grid, without a new accent or start.
TEST_P(ClickRunTest, BeatsAfterASilentStretchGoOnTheRunsGrid) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    const Frames anchor = rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    now = rig.handOver(&stream, 1, now);
    for (const std::int64_t k : {8, 9}) {  // 3.5 s of silence
        now = rig.handOver(&stream, k, now);
    }
    EXPECT_EQ(stream.clicks(), (std::vector<Frames>{anchor + kBeatFrames, anchor + 8 * kBeatFrames,
                                                    anchor + 9 * kBeatFrames}));
    EXPECT_EQ(stream.starts.size(), 1U);
}

TEST_P(ClickRunTest, AStreamMovedToAnotherSinkKeepsTheRunOnItsGrid) {
    Rig rig(GetParam());
    MonotonicTime now = kEpoch + 5s;
    const Frames anchor = rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    now = rig.handOver(&stream, 1, now);
    rig.run.streamMoved();
    EXPECT_EQ(rig.run.phase(), ClickRun::Phase::Starting) << "its clock is learned again";
    for (std::int64_t k = 2; k <= 4; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    EXPECT_EQ(stream.clicks().back() - anchor, 4 * kBeatFrames);
}

}  // namespace
}  // namespace vindelor
