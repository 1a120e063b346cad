#include "timer/tick_schedule.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/fakes.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

Nanoseconds deliver(TickSchedule& schedule, int count) {
    Nanoseconds due{};
    for (int i = 0; i < count; ++i) {
        due = schedule.nextDue();
        schedule.advance();
    }
    return due;
}

TEST(TickScheduleTest, FractionalIntervalsNeverAccumulateOverTenThousandTicks) {
    for (const int bpm : {50, 70, 133, 200}) {
        const double interval = 60000.0 / bpm;
        TickSchedule schedule;
        schedule.start(1s, interval);
        EXPECT_EQ(deliver(schedule, 1), 1s) << "the first tick is due at the start";
        for (int tick = 1; tick <= 10000; ++tick) {
            const double exact = 1e9 + tick * interval * 1e6;
            ASSERT_LE(std::abs(static_cast<double>(deliver(schedule, 1).count()) - exact), 1.0)
                << bpm << " BPM, tick " << tick;
        }
    }
}

TEST(TickScheduleTest, ANewIntervalGovernsTheTicksAfterTheLastDeliveredAndNeverThePast) {
    TickSchedule schedule;
    schedule.start(0s, 500.0);
    deliver(schedule, 3);  // 0, 500, 1000 ms
    schedule.setInterval(480.0, 1100ms);
    EXPECT_EQ(deliver(schedule, 2), 1960ms);
    schedule.setInterval(300.0, 2400ms);  // 1960 + 300 lies behind
    EXPECT_EQ(deliver(schedule, 2), 2700ms);
    for (const double broken : {0.0, -5.0, std::nan("")}) {
        schedule.setInterval(broken, 2700ms);
        EXPECT_EQ(schedule.intervalMs(), TickSchedule::kMinIntervalMs);
    }
}

TEST(TickScheduleTest, AStallSkipsToTheLatestTickOnTheGrid) {
    TickSchedule schedule;
    schedule.start(0s, 500.0);
    deliver(schedule, 1);
    EXPECT_EQ(schedule.skipOverdue(700ms), 0);   // tick 1 late, but the latest due
    EXPECT_EQ(schedule.skipOverdue(2300ms), 3);  // ticks 1 to 3 dropped, tick 4 kept
    EXPECT_EQ(schedule.nextDue(), 2000ms);
}

TEST(ContinuousClockTest, TakesTheRunsBeatTimeAsItIsNeverGoingBackAndCarriesOnWithoutIt) {
    FakeClock monotonic;
    monotonic.time = 2s;
    std::optional<Nanoseconds> stream;
    ContinuousClock clock(monotonic, [&] { return stream; });
    EXPECT_EQ(clock.now(), 2s);  // Start: the run's first beat is due now
    monotonic.advance(4ms);
    EXPECT_EQ(clock.now(), 2004ms);  // the window looks again before the output answers
    stream = 2s;                     // held at the first beat's due time
    EXPECT_EQ(clock.now(), 2004ms) << "holds where it stands";
    stream = 2003ms;  // the accent sounds: the run's own time
    EXPECT_EQ(clock.now(), 2004ms);
    stream = 2500ms;  // no offset kept from the look: a grid handed on stays the run's
    monotonic.advance(499ms);
    EXPECT_EQ(clock.now(), 2500ms);
    stream.reset();  // the output is lost: on by the monotonic clock from where it stood
    monotonic.advance(1s);
    EXPECT_EQ(clock.now(), 3500ms);
}

}  // namespace
}  // namespace vindelor
