// A day of beats in a moment: the tick schedule, the beat engine, the click sound bank and the
// click track run together on a simulated clock, as the window's thread would drive them, and
// every beat is checked against where it belongs in time, in the stream and in the bar.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "engine/beat_engine.h"
#include "engine/meter.h"
#include "engine/tempo.h"
#include "resources/embedded_resources.h"
#include "sound/click_sound_bank.h"
#include "sound/click_track.h"
#include "sound/clip_decoder.h"
#include "tests/robustness/allocation_counter.h"
#include "timer/tick_schedule.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;
using Frames = ClickTrack::Frames;

constexpr std::uint32_t kRate = 48000;
constexpr Nanoseconds kLead = 50ms;  // handed over this long before due, as the output asks
constexpr Nanoseconds kDay = std::chrono::hours(24);

// Rounds num / den to the nearest whole number, halves up; both positive.
constexpr std::int64_t roundedQuotient(std::int64_t num, std::int64_t den) {
    return (2 * num + den) / (2 * den);
}

// Places clicks as the pulse output does, on a stream whose read position runs with the
// clock: the first click of a run where the stream is read now, the others through the click
// track. Remembers only the last play and a few counts, so that it takes no memory per beat.
class SimulatedStreamOutput final : public ClickOutput {
  public:
    explicit SimulatedStreamOutput(const Nanoseconds& clock) : clock_(clock) {}

    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        lengths_[index(clip)] = static_cast<Frames>(decodeClip(image, kRate).size());
    }

    void play(ClickClip clip, Nanoseconds due, Nanoseconds, bool startsRun) override {
        const Frames length = lengths_[index(clip)];
        if (startsRun) {
            track_.reset();
            track_.anchor(due, readFrame(), length);
            last = {clip, due, ClickTrack::Write{readFrame(), length, 0}};
            ++runs;
        } else {
            const Frames wanted = track_.frameOf(due);
            last = {clip, due, track_.place(wanted, length, readFrame())};
            late += last.write.frame != wanted ? 1 : 0;
        }
        ++plays;
    }

    void stop(Nanoseconds) override {}

    struct Play {
        ClickClip clip;
        Nanoseconds due;
        ClickTrack::Write write;
    };
    Play last{};
    std::int64_t plays = 0;
    std::int64_t runs = 0;
    std::int64_t late = 0;  // clicks that could not go where their beat belongs

  private:
    static std::size_t index(ClickClip clip) { return static_cast<std::size_t>(clip) - 101; }
    // The stream has been read since the clock's zero, a frame per sample period.
    Frames readFrame() const { return clock_.count() * kRate / 1'000'000'000; }

    const Nanoseconds& clock_;
    ClickTrack track_{kRate};
    std::array<Frames, 3> lengths_{};
};

class ScheduleTiming final : public BeatTiming {
  public:
    Nanoseconds dueOfCurrentBeat() const override { return due; }
    bool currentBeatStartsRun() const override { return number == 0; }
    Nanoseconds now() const override { return due; }
    Nanoseconds due{0};
    std::int64_t number = 0;
};

class NoInput final : public InputPump {
  public:
    bool isInputWaiting() override { return false; }
    void processPendingEvents() override {}
};

// The window's side of a run: the tick timer's wake-ups on a simulated clock, each late by a
// random few milliseconds, and the engine behind them.
struct Clicker {
    Clicker() {
        bank.loadClickSounds(findEmbeddedResource);
        jitter.seed(20240611);
    }

    void start(std::int32_t meterRow, double intervalMs) {
        engine.selectMeter(meterRow);
        engine.resetBar();
        schedule.start(clock, intervalMs);
    }

    // Sleeps until the next tick is a lead from due (the timer's whole milliseconds rounded up,
    // plus a late wake-up), then delivers it as the tick timer does.
    void tick() {
        const Nanoseconds wake =
            std::chrono::ceil<std::chrono::milliseconds>(schedule.nextDue() - kLead) +
            Nanoseconds(lateness(jitter));
        clock = std::max(clock, wake);
        skipped += schedule.skipOverdue(clock);
        timing.due = schedule.nextDue();
        timing.number = schedule.delivered();
        schedule.advance();
        engine.onTick();
    }

    Nanoseconds clock{std::chrono::hours(3)};
    ClickerWindow state;
    SimulatedStreamOutput output{clock};
    ScheduleTiming timing;
    NoInput input;
    ClickSoundBank bank{state, output, timing};
    BeatEngine engine{state, bank, input};
    TickSchedule schedule;
    std::mt19937_64 jitter;
    std::uniform_int_distribution<std::int64_t> lateness{0, 20'000'000};
    std::int64_t skipped = 0;
};

struct SoakCase {
    const char* name;
    std::int32_t meterRow;
    std::int32_t bpm;
};

void PrintTo(const SoakCase& c, std::ostream* out) {
    *out << c.name;
}

class SoakTest : public testing::TestWithParam<SoakCase> {};

// Beat k of the run is due exactly at start + round(k × 60 s / bpm) and sounds exactly at the
// anchor frame + round(k × 60 × rate / bpm): nothing is added up, so nothing can drift.
TEST_P(SoakTest, ADayOfBeatsKeepsThePatternTheGridAndItsMemory) {
    const SoakCase c = GetParam();
    const MeterPattern pattern = *meterPatternOfRow(c.meterRow);
    Clicker clicker;
    clicker.start(c.meterRow, 60000.0 / c.bpm);
    const Nanoseconds start = clicker.clock;
    const std::int64_t beats = kDay.count() / 1'000'000'000 * c.bpm / 60;

    clicker.tick();
    const Frames anchorFrame = clicker.output.last.write.frame;
    test::AllocationCount afterFirstHour{};
    for (std::int64_t k = 1; k < beats; ++k) {
        clicker.tick();
        const SimulatedStreamOutput::Play& play = clicker.output.last;
        const Nanoseconds due = start + Nanoseconds(roundedQuotient(k * 60'000'000'000, c.bpm));
        const Frames frame = anchorFrame + roundedQuotient(k * 60 * kRate, c.bpm);
        const ClickClip clip =
            k % pattern.barLength == 0 ? pattern.downbeat : ClickClip::NormalClick;
        ASSERT_EQ(play.due, due) << "beat " << k;
        ASSERT_EQ(play.write.frame, frame) << "beat " << k;
        ASSERT_EQ(play.clip, clip) << "beat " << k;
        // Every click has ended long before the next: none is cut off.
        ASSERT_EQ(play.write.silenceFrames, 0) << "beat " << k;
        if (k == beats / 24) {
            afterFirstHour = test::allocationCount();
        }
    }
    const test::AllocationCount atTheEnd = test::allocationCount();

    EXPECT_EQ(clicker.output.plays, beats);
    EXPECT_EQ(clicker.output.runs, 1);
    EXPECT_EQ(clicker.output.late, 0);
    EXPECT_EQ(clicker.skipped, 0);
    EXPECT_GE(clicker.clock - start, kDay - 2 * Nanoseconds(60s) / c.bpm);
    EXPECT_EQ(atTheEnd.live(), afterFirstHour.live()) << "memory taken by 23 hours of beats";
}

INSTANTIATE_TEST_SUITE_P(
    AtTheExtremesAndAFractionalInterval, SoakTest,
    testing::Values(SoakCase{"FourFourAt200", 1, 200}, SoakCase{"ThreeFourAt200", 3, 200},
                    SoakCase{"SixEightAt200", 5, 200}, SoakCase{"ThreeFourAt70", 3, 70},
                    SoakCase{"FourFourAt50", 1, 50}),
    [](const testing::TestParamInfo<SoakCase>& info) { return std::string(info.param.name); });

// A day of tempo changes, one every ten minutes, each taking effect on the tick after the
// last one delivered: the beats of each stretch lie on that stretch's own grid, no tick is
// lost or doubled, and the bar runs on through every change.
TEST(SoakWithTempoChangesTest, ADayOfChangesKeepsEachStretchOnItsGridAndTheBarUnbroken) {
    const MeterPattern pattern = *meterPatternOfRow(5);
    Clicker clicker;
    std::mt19937 choose(7);
    std::uniform_int_distribution<std::int32_t> tempos(kMinTempo, kMaxTempo);
    std::int32_t bpm = 120;
    clicker.start(5, 60000.0 / bpm);
    const Nanoseconds start = clicker.clock;

    Nanoseconds stretchStart = start;  // due time of the beat the stretch is anchored on
    std::int64_t inStretch = 0;        // beats since that one
    std::int64_t beat = 0;
    std::int64_t changes = 0;
    Frames previousFrame = -1;
    Nanoseconds nextChange = start + 10min;
    test::AllocationCount afterFirstHour{};
    while (clicker.clock - start < kDay) {
        clicker.tick();
        const SimulatedStreamOutput::Play& play = clicker.output.last;
        const Nanoseconds due =
            stretchStart + Nanoseconds(roundedQuotient(inStretch * 60'000'000'000, bpm));
        const ClickClip clip =
            beat % pattern.barLength == 0 ? pattern.downbeat : ClickClip::NormalClick;
        ASSERT_EQ(play.due, due) << "beat " << beat << " at " << bpm << " BPM";
        ASSERT_EQ(play.clip, clip) << "beat " << beat;
        ASSERT_GT(play.write.frame, previousFrame) << "beat " << beat;
        previousFrame = play.write.frame;
        ++beat;
        ++inStretch;
        if (clicker.clock >= nextChange) {
            bpm = tempos(choose);
            clicker.schedule.setInterval(60000.0 / bpm, clicker.clock);
            stretchStart = due;
            inStretch = 1;
            ++changes;
            nextChange += 10min;
        }
        if (afterFirstHour.allocations == 0 && clicker.clock - start >= 1h) {
            afterFirstHour = test::allocationCount();
        }
    }

    EXPECT_EQ(changes, 24 * 6);
    EXPECT_EQ(clicker.output.plays, beat);
    EXPECT_EQ(clicker.output.late, 0);
    EXPECT_EQ(clicker.output.runs, 1);
    EXPECT_EQ(clicker.skipped, 0);
    EXPECT_EQ(test::allocationCount().live(), afterFirstHour.live());
}

// The check above must be able to see memory being taken: a run that keeps something per
// beat is caught.
TEST(AllocationCounterTest, SeesMemoryKeptPerBeat) {
    std::vector<std::unique_ptr<int>> kept;
    const test::AllocationCount before = test::allocationCount();
    for (int i = 0; i < 100; ++i) {
        kept.push_back(std::make_unique<int>(i));
    }
    EXPECT_GE(test::allocationCount().live() - before.live(), 100);
    kept.clear();
    kept.shrink_to_fit();
    EXPECT_EQ(test::allocationCount().live(), before.live());
}

}  // namespace
}  // namespace vindelor
