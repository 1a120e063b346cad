#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "sound/pulse_click_output.h"
#include "timer/clock.h"

namespace vindelor::test {

// Plays beats into a real output from the test's thread, as the window's thread would: each
// beat handed over a lead before it is due, the clips taken in turn. Measures the longest any
// call of the output kept the thread, so that a stall shows.
class BeatDriver {
  public:
    // Hands the program's three clips to the output.
    explicit BeatDriver(PulseClickOutput& output);

    // A beat now; the first after construction or stop() starts a run.
    void beat();
    void stop();

    // Beats every `interval` and asks `done` between them, until it holds or `limit` has
    // passed; returns whether it held.
    bool beatUntil(const std::function<bool()>& done, Nanoseconds limit,
                   Nanoseconds interval = std::chrono::milliseconds(50));
    // Beats every `interval` for `span`.
    void beatFor(Nanoseconds span, Nanoseconds interval = std::chrono::milliseconds(50));

    // Connected and playing: the output's clock runs, so clicks sound.
    bool sounding();

    std::int64_t beats() const { return beats_; }
    Nanoseconds longestCall() const { return longestCall_; }

  private:
    template <typename Call>
    auto timed(Call call);

    PulseClickOutput& output_;
    MonotonicClock clock_;
    bool startsRun_ = true;
    std::int64_t beats_ = 0;
    Nanoseconds longestCall_{0};
};

}  // namespace vindelor::test
