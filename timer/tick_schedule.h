#pragma once

#include <cstdint>

#include "clock.h"

namespace vindelor {

// The due times of one run of ticks. Drift-free: tick n after the anchor is due at
// anchor + n × interval, rounded once to the nanosecond, never by adding intervals up.
// A new interval re-anchors on the tick delivered last and governs the ticks after it.
class TickSchedule {
  public:
    // Intervals are held to at least this, so that a zero or broken interval cannot spin.
    static constexpr double kMinIntervalMs = 1.0;

    // A new run whose first tick is due at `now`.
    void start(Nanoseconds now, double intervalMs);
    // Takes effect from the tick after the one delivered last; a tick it would make due
    // before `now` is due at `now`.
    void setInterval(double intervalMs, Nanoseconds now);

    double intervalMs() const { return intervalMs_; }
    Nanoseconds nextDue() const;
    // The tick `nextDue` stood for has been delivered.
    void advance();
    // Drops ticks that are already an interval or more overdue at `now`, so that a stalled
    // thread resumes on the beat grid instead of firing a burst. Returns how many it dropped.
    std::int64_t skipOverdue(Nanoseconds now);
    std::int64_t delivered() const { return delivered_; }

  private:
    static double held(double intervalMs);
    Nanoseconds dueAfterAnchor(std::int64_t ticks) const;

    Nanoseconds anchor_{0};
    std::int64_t nextAfterAnchor_ = 0;
    std::int64_t delivered_ = 0;
    double intervalMs_ = kMinIntervalMs;
};

}  // namespace vindelor
