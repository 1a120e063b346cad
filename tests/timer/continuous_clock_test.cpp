#include <gtest/gtest.h>

#include "timer/clock.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

class FakeClock final : public Clock {
  public:
    Nanoseconds now() const override { return time; }
    Nanoseconds time{0};
};

TEST(ContinuousClockTest, FollowsTheFallbackWhileThePreferredSourceIsSilent) {
    FakeClock monotonic;
    monotonic.time = 100s;
    ContinuousClock clock(monotonic, [] { return std::optional<Nanoseconds>{}; });
    EXPECT_EQ(clock.now(), 100s);
    monotonic.time = 101s;
    EXPECT_EQ(clock.now(), 101s);
    EXPECT_FALSE(clock.followsPreferred());
}

TEST(ContinuousClockTest, SwitchesSourcesWithoutAJumpAndAdvancesAtThePreferredRate) {
    FakeClock monotonic;
    std::optional<Nanoseconds> stream;
    ContinuousClock clock(monotonic, [&] { return stream; });

    EXPECT_EQ(clock.now(), 0s);
    monotonic.time = 2s;
    EXPECT_EQ(clock.now(), 2s);

    stream = 7s;  // the output starts, with a clock of its own
    EXPECT_EQ(clock.now(), 2s);
    EXPECT_TRUE(clock.followsPreferred());
    stream = 7s + 500ms;
    monotonic.time = 2s + 499ms;  // the stream runs a little fast: the clock follows it
    EXPECT_EQ(clock.now(), 2500ms);

    stream.reset();  // the output is lost: back to the monotonic clock, from where it stood
    EXPECT_EQ(clock.now(), 2500ms);
    monotonic.time = 3s + 499ms;
    EXPECT_EQ(clock.now(), 3500ms);
}

TEST(ContinuousClockTest, JoinsThePreferredSourceWhereTheFallbackStandsAtThatMoment) {
    FakeClock monotonic;
    std::optional<Nanoseconds> stream;
    ContinuousClock clock(monotonic, [&] { return stream; });
    EXPECT_EQ(clock.now(), 0s);
    monotonic.time = 5s;  // nobody asked for a while
    stream = 40s;
    EXPECT_EQ(clock.now(), 5s);
    stream = 41s;
    monotonic.time = 9s;  // the preferred source rules now
    EXPECT_EQ(clock.now(), 6s);
    stream.reset();
    monotonic.time = 10s;  // a second after the last reading
    EXPECT_EQ(clock.now(), 7s);
}

TEST(ContinuousClockTest, NeverGoesBackwards) {
    FakeClock monotonic;
    std::optional<Nanoseconds> stream = 10s;
    ContinuousClock clock(monotonic, [&] { return stream; });
    EXPECT_EQ(clock.now(), 0s);
    stream = 9s;  // a correction of the stream's estimate
    EXPECT_EQ(clock.now(), 0s);
    stream = 10s + 1ms;
    EXPECT_EQ(clock.now(), 1ms);
}

}  // namespace
}  // namespace vindelor
