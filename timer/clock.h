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
// reading, and the fallback clock otherwise. Each switch re-bases the source so that time goes
// on from where it stood: the tick schedule never sees a jump.
class ContinuousClock final : public Clock {
public:
    using Reading = std::function<std::optional<Nanoseconds>()>;

    ContinuousClock(const Clock& fallback, Reading preferred)
        : fallback_(fallback), preferred_(std::move(preferred)) {}

    Nanoseconds now() const override {
        const std::optional<Nanoseconds> reading = preferred_ ? preferred_() : std::nullopt;
        const bool usePreferred = reading.has_value();
        const Nanoseconds raw = usePreferred ? *reading : fallback_.now();
        if (!started_ || usePreferred != onPreferred_) {
            offset_ = started_ ? last_ - raw : Nanoseconds{0};
            onPreferred_ = usePreferred;
            started_ = true;
        }
        last_ = std::max(last_, raw + offset_);
        return last_;
    }

    bool followsPreferred() const { return started_ && onPreferred_; }

private:
    const Clock& fallback_;
    Reading preferred_;
    mutable Nanoseconds offset_{0};
    mutable Nanoseconds last_{0};
    mutable bool started_ = false;
    mutable bool onPreferred_ = false;
};

}  // namespace vindelor
