#include "tick_timer.h"

#include <algorithm>

namespace vindelor {

namespace {
// The wake-up runs on the monotonic clock, the ticks often on the stream's, which may stand a
// little behind it. A tick taken that much early still carries its exact due time, and it
// saves a second wake-up per beat.
constexpr Nanoseconds kEarlyWakeTolerance = std::chrono::milliseconds(2);
}  // namespace

TickTimer::TickTimer(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, &TickTimer::onTimeout);
}

void TickTimer::setInterval(double intervalMs) {
    intervalMs_ = intervalMs;
    if (enabled_) {
        schedule_.setInterval(intervalMs, clock_.now());
        armFor(schedule_.nextDue() - lead());
    }
}

void TickTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled) {
        wake_.stop();
        return;
    }
    schedule_.start(clock_.now(), intervalMs_);
    // The first tick comes as a posted event rather than a zero timer: posted events go before
    // the repaints that the handler enabling the timer has just asked for, so the first beat
    // does not wait for a paint.
    QMetaObject::invokeMethod(this, &TickTimer::onTimeout, Qt::QueuedConnection);
}

Nanoseconds TickTimer::lead() const {
    return lead_ ? std::max(lead_(), Nanoseconds{0}) : Nanoseconds{0};
}

void TickTimer::armFor(Nanoseconds fireAt) {
    // Qt's timers count whole milliseconds: round up, so that a wake-up is never early.
    const Nanoseconds wait = std::max(fireAt - clock_.now(), Nanoseconds{0});
    wake_.start(std::chrono::ceil<std::chrono::milliseconds>(wait));
}

void TickTimer::onTimeout() {
    if (!enabled_) {
        return;
    }
    const Nanoseconds now = clock_.now();
    schedule_.skipOverdue(now);
    const Nanoseconds due = schedule_.nextDue();
    if (due - lead() > now + kEarlyWakeTolerance) {
        armFor(due - lead());  // the clock ran slower than the wake-up: not yet
        return;
    }
    currentDue_ = due;
    currentNumber_ = schedule_.delivered();
    schedule_.advance();
    // Armed before the handler runs, so that its own length never delays the next tick;
    // a handler that stops or restarts the timer re-arms or stops it itself.
    armFor(schedule_.nextDue() - lead());
    emit tick();
    // And again after it, on the clock as the handler left it: a sound output that holds its
    // time still until a run's first click sounds holds the next tick back from here on.
    if (enabled_) {
        armFor(schedule_.nextDue() - lead());
    }
}

}  // namespace vindelor
