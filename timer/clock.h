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

// Follows a preferred time source (the sound output's own sample clock) whenever it has a
// reading, and the fallback clock otherwise. Each switch re-bases the new source on where the
// time stands at that moment: the tick schedule never sees a jump. Starts at the fallback's time.
class ContinuousClock final : public Clock {
  public:
    using Reading = std::function<std::optional<Nanoseconds>()>;

    ContinuousClock(const Clock& fallback, Reading preferred)
        : fallback_(fallback), preferred_(std::move(preferred)) {}

    Nanoseconds now() const override {
        const Nanoseconds fallbackNow = fallback_.now();
        const std::optional<Nanoseconds> reading = preferred_ ? preferred_() : std::nullopt;
        if (!started_) {
            offset_ = reading ? fallbackNow - *reading : Nanoseconds{0};
        } else if (reading && !onPreferred_) {
            // Joins the preferred source where the fallback stands now.
            offset_ = fallbackNow + offset_ - *reading;
        } else if (!reading && onPreferred_) {
            // The preferred source is gone: carry on from its last reading by the fallback.
            offset_ = last_ - fallbackAtLast_;
        }
        started_ = true;
        onPreferred_ = reading.has_value();
        fallbackAtLast_ = fallbackNow;
        last_ = std::max(last_, (reading ? *reading : fallbackNow) + offset_);
        return last_;
    }

    bool followsPreferred() const { return started_ && onPreferred_; }

  private:
    const Clock& fallback_;
    Reading preferred_;
    mutable Nanoseconds offset_{0};
    mutable Nanoseconds last_{0};
    mutable Nanoseconds fallbackAtLast_{0};
    mutable bool started_ = false;
    mutable bool onPreferred_ = false;
};

}  // namespace vindelor
