#pragma once

#include "sound/click_output.h"
#include "timer/tick_timer.h"

namespace vindelor {

// Tells the click sound bank about the beat being sounded: the tick the timer is delivering.
class TimerBeatTiming final : public BeatTiming {
  public:
    explicit TimerBeatTiming(const TickTimer& timer) : timer_(timer) {}

    std::chrono::nanoseconds dueOfCurrentBeat() const override { return timer_.dueOfCurrentTick(); }
    bool currentBeatStartsRun() const override { return timer_.numberOfCurrentTick() == 0; }
    std::chrono::nanoseconds now() const override { return timer_.now(); }

  private:
    const TickTimer& timer_;
};

}  // namespace vindelor
