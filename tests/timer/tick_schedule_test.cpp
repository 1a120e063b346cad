#include "timer/tick_schedule.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vindelor {
namespace {

using namespace std::chrono_literals;

// Delivers `count` ticks, each at its due time, and returns the due time of the last one.
Nanoseconds deliver(TickSchedule& schedule, int count) {
    Nanoseconds due{};
    for (int i = 0; i < count; ++i) {
        due = schedule.nextDue();
        schedule.advance();
    }
    return due;
}

TEST(TickScheduleTest, TheFirstTickIsDueAtTheStart) {
    TickSchedule schedule;
    schedule.start(5s, 500.0);
    EXPECT_EQ(schedule.nextDue(), 5s);
    schedule.advance();
    EXPECT_EQ(schedule.nextDue(), 5500ms);
}

TEST(TickScheduleTest, FractionalIntervalsNeverAccumulateOverTenThousandTicks) {
    for (const int bpm : {50, 70, 120, 133, 200}) {
        const double interval = 60000.0 / bpm;
        TickSchedule schedule;
        schedule.start(1s, interval);
        Nanoseconds previous = deliver(schedule, 1);
        for (int tick = 1; tick <= 10000; ++tick) {
            const Nanoseconds due = deliver(schedule, 1);
            const double exact = 1e9 + tick * interval * 1e6;
            ASSERT_LE(std::abs(static_cast<double>(due.count()) - exact), 1.0)
                << bpm << " BPM, tick " << tick;
            // Each step is the interval to within the nanosecond rounding, never more.
            ASSERT_LE(std::abs(static_cast<double>((due - previous).count()) - interval * 1e6),
                      1.0);
            previous = due;
        }
    }
}

TEST(TickScheduleTest, ANewIntervalGovernsTheTicksAfterTheLastDelivered) {
    TickSchedule schedule;
    schedule.start(0s, 500.0);
    const Nanoseconds last = deliver(schedule, 3);  // 0, 500, 1000 ms
    EXPECT_EQ(last, 1000ms);
    schedule.setInterval(480.0, 1100ms);
    EXPECT_EQ(schedule.nextDue(), 1480ms);
    schedule.advance();
    EXPECT_EQ(schedule.nextDue(), 1960ms);
}

TEST(TickScheduleTest, ANewIntervalBeforeTheFirstTickKeepsTheStart) {
    TickSchedule schedule;
    schedule.start(2s, 500.0);
    schedule.setInterval(300.0, 2s);
    EXPECT_EQ(schedule.nextDue(), 2s);
    schedule.advance();
    EXPECT_EQ(schedule.nextDue(), 2300ms);
}

TEST(TickScheduleTest, AShorterIntervalNeverMakesATickDueInThePast) {
    TickSchedule schedule;
    schedule.start(0s, 1200.0);
    deliver(schedule, 1);
    schedule.setInterval(300.0, 900ms);  // 0 + 300 lies behind
    EXPECT_EQ(schedule.nextDue(), 900ms);
    schedule.advance();
    EXPECT_EQ(schedule.nextDue(), 1200ms);
}

TEST(TickScheduleTest, BrokenIntervalsAreHeldAtTheMinimum) {
    for (const double broken : {0.0, -5.0, std::nan(""), HUGE_VAL * 0.0}) {
        TickSchedule schedule;
        schedule.start(0s, broken);
        EXPECT_EQ(schedule.intervalMs(), TickSchedule::kMinIntervalMs);
    }
}

TEST(TickScheduleTest, AStallSkipsToTheLatestTickOnTheGrid) {
    TickSchedule schedule;
    schedule.start(0s, 500.0);
    deliver(schedule, 1);
    EXPECT_EQ(schedule.skipOverdue(400ms), 0);   // tick 1 not due yet
    EXPECT_EQ(schedule.skipOverdue(700ms), 0);   // tick 1 late, but the latest due
    EXPECT_EQ(schedule.skipOverdue(2300ms), 3);  // ticks 1 to 3 dropped, tick 4 (2000) kept
    EXPECT_EQ(schedule.nextDue(), 2000ms);
    EXPECT_EQ(schedule.delivered(), 1);
}

}  // namespace
}  // namespace vindelor
