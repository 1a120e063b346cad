#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace vindelor {

using Nanoseconds = std::chrono::nanoseconds;

// A source of time for the tick timer. Never goes backwards. Window's thread only.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual Nanoseconds now() const = 0;
};

class MonotonicClock final : public Clock {
  public:
    Nanoseconds now() const override {
        return std::chrono::duration_cast<Nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

// Follows a preferred time source whenever it has a reading, and the fallback clock otherwise.
// The preferred source is the sound output's beat time, which counts in the due times this
// clock gave it: joining it, the clock takes its reading as it is, holding where it stands
// until the reading passes (a run's first reading is its first beat's due time, which the
// clock has already left behind). Kept apart by the time the window took to look, the two
// would hand a grid on over a lost server that far off. When the preferred source goes, the
// clock carries on from its last reading by the fallback.
class ContinuousClock final : public Clock {
  public:
    using Reading = std::function<std::optional<Nanoseconds>()>;

    ContinuousClock(const Clock& fallback, Reading preferred)
        : fallback_(fallback), preferred_(std::move(preferred)) {}

    Nanoseconds now() const override {
        const Nanoseconds fallbackNow = fallback_.now();
        const std::optional<Nanoseconds> reading = preferred_ ? preferred_() : std::nullopt;
        if (!reading && onPreferred_) {
            // The preferred source is gone: carry on from its last reading by the fallback.
            offset_ = last_ - fallbackAtLast_;
        }
        onPreferred_ = reading.has_value();
        fallbackAtLast_ = fallbackNow;
        last_ = std::max(last_, reading ? *reading : fallbackNow + offset_);
        return last_;
    }

  private:
    const Clock& fallback_;
    Reading preferred_;
    mutable Nanoseconds offset_{0};
    mutable Nanoseconds last_{0};
    mutable Nanoseconds fallbackAtLast_{0};
    mutable bool onPreferred_ = false;
};

}  // namespace vindelor
