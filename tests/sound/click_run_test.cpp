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
constexpr MonotonicTime kStart = MonotonicTime{} + 5s;  // when Start is pressed
constexpr std::int64_t kBeatFrames = 24000;             // 120 BPM

// The frames of beats 1 to `beats` of a run at 120 BPM anchored at `anchor`.
std::vector<Frames> grid(Frames anchor, std::int64_t beats) {
    std::vector<Frames> frames;
    for (std::int64_t k = 1; k <= beats; ++k) {
        frames.push_back(anchor + k * kBeatFrames);
    }
    return frames;
}

// A stream on a server that plays it from `startFrame` on at `playAt` (the uncork), at the
// stream's own rate. PulseAudio's read index runs the sink's latency ahead of what plays;
// PipeWire's moves in whole quanta.
class FakeStream final : public ClickStream {
  public:
    FakeStream(Frames quantum, std::chrono::nanoseconds latency)
        : quantum_(quantum), latency_(latency) {}

    void play() override { ++plays; }
    void idle() override { ++idles; }
    std::uint64_t askTiming() override { return ++asked; }
    void write(Frames from, Frames to, std::span<const std::int16_t> clip) override {
        clip.empty() ? void(zeroed = {from, to}) : clicks.push_back(from);
    }
    std::uint64_t startWith(std::span<const std::int16_t> clip) override {
        starts.push_back(clip.size());
        return ++asked;
    }
    std::optional<Frames> writeEnd() const override { return std::nullopt; }

    Frames playing(MonotonicTime at) const {
        return startFrame + std::llround(static_cast<double>((at - playAt).count()) * 1e-9 * kRate);
    }
    // When `frame` plays, in milliseconds of the monotonic clock.
    double playsAtMs(Frames frame) const {
        return static_cast<double>(playAt.time_since_epoch().count()) / 1e6 +
               static_cast<double>(frame - startFrame) * 1000.0 / kRate;
    }
    Frames read(MonotonicTime at) const {
        return quantum_ > 0 ? (playing(at) / quantum_ + 1) * quantum_
                            : playing(at) + latency_.count() * kRate / 1'000'000'000;
    }
    StreamTiming reply(std::uint64_t number, MonotonicTime at) const {
        return {.number = number, .at = at, .readFrame = read(at), .sinkLatency = latency_,
                .configuredLatency = latency_};
    }

    MonotonicTime playAt;
    Frames startFrame = 0;
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;
    int scheduled = 0;  // replies of its own schedule so far
    int plays = 0;
    int idles = 0;
    std::vector<std::size_t> starts;
    std::vector<Frames> clicks;                       // where each click written starts
    std::optional<std::pair<Frames, Frames>> zeroed;  // the latest write of zeros alone

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
    OutputRequest beat(std::int64_t k, MonotonicTime handed, bool startsRun = false) {
        const BeatTime due = dueOf(k);
        return {.kind = OutputRequest::Kind::Play, .startsRun = startsRun,
                .clip = static_cast<std::uint8_t>(startsRun ? 1 : 0), .due = due,
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
    // Steps the monotonic clock from `now` in quarter milliseconds until beat `k` is to be
    // handed over, answering what the stream asked for meanwhile, with the replies of its
    // own schedule (a few soon after it starts, then one every two seconds) and those the run
    // asks for; hands it over; the time it did.
    MonotonicTime handOver(FakeStream* stream, std::int64_t k, MonotonicTime now) {
        constexpr std::int64_t kEarlyMs[] = {30, 70, 150, 300, 1000};
        while (beatTime(now) < dueOf(k) - run.lead()) {
            now += kMs / 4;
            if (stream == nullptr) {
                continue;
            }
            const int i = stream->scheduled;
            if (now >= stream->playAt + (i < 5 ? kEarlyMs[i] : 1000 + 2000 * (i - 4)) * kMs) {
                ++stream->scheduled;
                ++stream->asked;
                answer(*stream, now);
            }
            if (!replyTimer_) {
                replyTimer_ = run.replyAt(now);
            } else if (now >= *replyTimer_) {
                replyTimer_.reset();
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
    std::optional<MonotonicTime> replyTimer_;
};

class ClickRunTest : public testing::TestWithParam<Server> {};
INSTANTIATE_TEST_SUITE_P(Servers, ClickRunTest, testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

// The run anchors where the reply to its own start says the accent went, and its beats follow
// to the frame. Started before the server comes, the beat time holds at the first beat's due
// time, so that no beat falls due: the run begins where the server comes, with no gap.
TEST_P(ClickRunTest, ARunAnchorsOnTheReplyToItsOwnStartWheneverTheServerComes) {
    for (const std::int64_t delayMs : {0, 500, 10'000}) {  // 0: the server was there first
        Rig rig(GetParam());
        MonotonicTime now = kStart;
        FakeStream* stream = delayMs == 0 ? &rig.connect(now) : nullptr;
        // A reply asked for before the start, still on its way, with a read index from before.
        const std::uint64_t stale = stream != nullptr ? stream->askTiming() : 0;
        rig.start(now);
        now += delayMs * kMs;
        EXPECT_EQ(rig.beatTime(now + 3 * kMs), rig.firstDue) << "until the accent sounds";
        stream = stream != nullptr ? stream : &rig.connect(now);
        ASSERT_EQ(stream->starts, std::vector<std::size_t>{2500}) << delayMs;
        now += 2 * kMs;
        if (stale != 0) {
            rig.run.timing({.number = stale, .readFrame = 7}, now);
            stream->answered = stale;
        }
        rig.answer(*stream, now);
        const Frames anchor = stream->read(now);
        for (std::int64_t k = 1; k <= 6; ++k) {
            now = rig.handOver(stream, k, now);
        }
        EXPECT_EQ(stream->clicks, grid(anchor, 6)) << delayMs;
        EXPECT_EQ(stream->starts.size(), 1U) << "no second accent";
    }
}

TEST_P(ClickRunTest, AFailedStartReplyLeavesTheRunToTheClockNotToTheNextReply) {
    Rig rig(GetParam());
    MonotonicTime now = kStart;
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
    ASSERT_FALSE(stream.clicks.empty());
    for (std::size_t i = 1; i < stream.clicks.size(); ++i) {
        EXPECT_EQ(stream.clicks[i] - stream.clicks[i - 1], kBeatFrames) << i;
    }
    const Frames dueFrame = stream.playing(kStart + 2s) + (GetParam().pipeWire ? 1024 : 0);
    EXPECT_NEAR(stream.clicks.back(), dueFrame, kRate / 1000) << "within 1 ms of its due time";
}

// The grid's clicks may sound some way after their due times (on PipeWire, by up to two
// quanta): Stop takes back what has not begun to sound by the stream, whatever the beat time.
TEST_P(ClickRunTest, StopTakesBackTheClickNotYetSoundingAndCorksAfterTheLastOne) {
    Rig rig(GetParam());
    MonotonicTime now = kStart;
    rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    now = rig.handOver(&stream, 1, now + kMs);
    ASSERT_EQ(stream.clicks.size(), 1U);
    const Frames ahead = stream.clicks.back();
    ASSERT_GT(ahead, stream.playing(now));
    // By the beat time, 10 ms after beat 1 was due; by the stream, before its click sounds.
    rig.run.stop({.kind = OutputRequest::Kind::Stop, .due = rig.dueOf(1) + 10ms, .handed = now},
                 now);
    ASSERT_TRUE(stream.zeroed);
    EXPECT_EQ(stream.zeroed->first, ahead) << "zeros over the click not yet sounded";
    EXPECT_GE(stream.zeroed->second, ahead + 1650);
    ASSERT_EQ(rig.run.corkAt(), now + ClickRun::kCorkDelay);

    // Start again before the cork: the stream is not corked, the run starts anew.
    rig.run.play(rig.beat(2, now + 50 * kMs, true), now + 50 * kMs);
    EXPECT_FALSE(rig.run.corkAt());
    EXPECT_EQ(stream.starts.size(), 2U);
    rig.run.stop({.kind = OutputRequest::Kind::Stop, .handed = now + 60 * kMs}, now + 60 * kMs);
    rig.run.corkDue(now + 260 * kMs);
    EXPECT_EQ(stream.idles, 1);
    EXPECT_EQ(rig.run.reading(now + 300 * kMs).kind, Kind::None);
}

// The server is lost while the run plays and comes back: the run goes on over the new stream
// on the grid it had, skipping a beat rather than moving the grid.
TEST_P(ClickRunTest, ARunKeepsItsGridOverALostServer) {
    Rig rig(GetParam());
    MonotonicTime now = kStart;
    const FakeStream& first = rig.connect(now);
    rig.start(now);
    rig.answer(*rig.streams.back(), now + kMs);
    const double accentMs = first.playsAtMs(first.read(now + kMs));
    for (std::int64_t k = 1; k <= 4; ++k) {
        now = rig.handOver(rig.streams.back().get(), k, now);
    }
    // The window's clock carries on by the monotonic clock, from the beat time it had.
    rig.beatOffset = rig.beatTime(now).time_since_epoch() - now.time_since_epoch();
    rig.run.detach();
    for (std::int64_t k = 5; k <= 8; ++k) {
        now = rig.handOver(nullptr, k, now);
    }
    FakeStream& stream = rig.connect(now + 37 * kMs);
    now += 37 * kMs;
    EXPECT_EQ(stream.plays, 1);
    EXPECT_TRUE(stream.starts.empty()) << "no new accent";
    for (std::int64_t k = 9; k <= 16; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    ASSERT_GE(stream.clicks.size(), 6U);
    for (const Frames click : stream.clicks) {
        const double sinceAccentMs = stream.playsAtMs(click) - accentMs;
        EXPECT_NEAR(std::fmod(sinceAccentMs + 250, 500.0), 250, 1.0) << sinceAccentMs;
    }
}

// The stream moves to another sink: its clock is learned again, the beat time held meanwhile.
// Then the tempo goes to 200 BPM after beat 3 was handed over, inside its lead: that beat
// keeps its place, and every beat after it goes by its own due time, to the frame, after a
// silent stretch (a blank row of the meter list) too, without a new accent.
TEST_P(ClickRunTest, TheRunKeepsToItsBeatsThroughAMovedStreamATempoChangeAndASilence) {
    Rig rig(GetParam());
    MonotonicTime now = kStart;
    const Frames anchor = rig.startOnStream(now);
    FakeStream& stream = *rig.streams.back();
    now = rig.handOver(&stream, 1, now);
    rig.run.streamMoved();
    EXPECT_EQ(rig.run.reading(now).kind, Kind::Held);
    stream.askTiming();  // as the stream does when it is moved
    rig.answer(stream, now + kMs);
    for (std::int64_t k = 2; k <= 3; ++k) {
        now = rig.handOver(&stream, k, now);
    }
    ASSERT_GT(stream.clicks.back(), stream.playing(now)) << "beat 3 is not yet sounding";
    rig.tempoFrom = 3;
    rig.interval = 300ms;
    for (const std::int64_t k : {4, 5, 16, 17}) {  // 3.3 s of silence
        now = rig.handOver(&stream, k, now);
    }
    std::vector<Frames> expected = grid(anchor, 3);
    for (const Frames k : {1, 2, 13, 14}) {
        expected.push_back(anchor + 3 * kBeatFrames + k * 14400);
    }
    EXPECT_EQ(stream.clicks, expected);
    EXPECT_EQ(stream.starts.size(), 1U);
}

}  // namespace
}  // namespace vindelor
