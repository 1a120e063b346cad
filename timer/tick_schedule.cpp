#include "tick_schedule.h"

#include <cmath>

namespace vindelor {

double TickSchedule::held(double intervalMs) {
    return std::isfinite(intervalMs) && intervalMs > kMinIntervalMs ? intervalMs : kMinIntervalMs;
}

Nanoseconds TickSchedule::dueAfterAnchor(std::int64_t ticks) const {
    const double offsetNs = static_cast<double>(ticks) * intervalMs_ * 1e6;
    return anchor_ + Nanoseconds{std::llround(offsetNs)};
}

void TickSchedule::start(Nanoseconds now, double intervalMs) {
    intervalMs_ = held(intervalMs);
    anchor_ = now;
    nextAfterAnchor_ = 0;
    delivered_ = 0;
}

void TickSchedule::setInterval(double intervalMs, Nanoseconds now) {
    if (delivered_ > 0) {
        anchor_ = dueAfterAnchor(nextAfterAnchor_ - 1);
        nextAfterAnchor_ = 1;
    }
    intervalMs_ = held(intervalMs);
    if (nextDue() < now) {
        anchor_ = now;
        nextAfterAnchor_ = 0;
    }
}

Nanoseconds TickSchedule::nextDue() const {
    return dueAfterAnchor(nextAfterAnchor_);
}

void TickSchedule::advance() {
    ++nextAfterAnchor_;
    ++delivered_;
}

std::int64_t TickSchedule::skipOverdue(Nanoseconds now) {
    // The latest tick due at or before `now`; everything before it is dropped.
    const double elapsedMs = static_cast<double>((now - anchor_).count()) / 1e6;
    auto latest = static_cast<std::int64_t>(std::floor(elapsedMs / intervalMs_));
    while (latest > nextAfterAnchor_ && dueAfterAnchor(latest) > now) {
        --latest;  // floating-point rounding at the boundary
    }
    if (latest <= nextAfterAnchor_) {
        return 0;
    }
    const std::int64_t skipped = latest - nextAfterAnchor_;
    nextAfterAnchor_ = latest;
    return skipped;
}

}  // namespace vindelor
