#pragma once

#include <chrono>
#include <cstdint>

namespace vindelor {

// The units the output counts in, as types of their own so that they cannot be mixed by
// mistake: frames of the stream, and times on its two clocks.
//
// The monotonic clock (CLOCK_MONOTONIC: steady_clock's and libpulse's rtclock) dates every
// event: a timing reply, a timer, a beat's hand-off. The beat clock is the one the beats are
// due on; while a run plays it follows the stream, so its times say nothing on the monotonic
// clock. Adding or subtracting a time of one clock to or from one of the other does not
// compile; durations, and the lead between the two, are plain std::chrono::nanoseconds.

// A count of frames (one sample per channel) of the stream.
using Frames = std::int64_t;

using MonotonicTime = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;

struct BeatClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<BeatClock, duration>;
    static constexpr bool is_steady = true;
};
using BeatTime = BeatClock::time_point;


// Now, on the monotonic clock: for the adapters to libpulse. The run's logic is told the time.
inline MonotonicTime monotonicNow() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
}

// The stream's rate: the one converter between frames and durations. Whole seconds and the
// rest apart, so that no product overflows however long a run goes on.
class FrameRate {
  public:
    constexpr explicit FrameRate(std::uint32_t perSecond) : perSecond_(perSecond) {}

    constexpr std::uint32_t perSecond() const { return perSecond_; }

    // The frames in `span`, rounded to the nearest.
    constexpr Frames framesIn(std::chrono::nanoseconds span) const {
        const std::int64_t ns = span.count();
        const std::int64_t whole = ns / kNsPerSecond;
        const std::int64_t rest = ns % kNsPerSecond;
        const std::int64_t half = rest >= 0 ? kNsPerSecond / 2 : -kNsPerSecond / 2;
        return whole * perSecond_ + (rest * perSecond_ + half) / kNsPerSecond;
    }
    // How long `frames` last, to the nanosecond below.
    constexpr std::chrono::nanoseconds durationOf(Frames frames) const {
        const std::int64_t rate = perSecond_;
        return std::chrono::nanoseconds(frames / rate * kNsPerSecond +
                                        frames % rate * kNsPerSecond / rate);
    }

  private:
    static constexpr std::int64_t kNsPerSecond = 1'000'000'000;
    std::uint32_t perSecond_;
};

}  // namespace vindelor
