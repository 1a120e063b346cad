#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "clock.h"
#include "tick_schedule.h"

namespace vindelor {

// The periodic timer that drives the beats, on the thread that owns it (the window's).
// While enabled it raises one tick per interval, drift-free on its clock; the first tick of a
// run comes at once. Each tick may be delivered a lead time before it is due, so that whoever
// acts on it can place its effect at the due time exactly; dueOfCurrentTick() tells that time.
class TickTimer : public QObject {
    Q_OBJECT

  public:
    explicit TickTimer(const Clock& clock, QObject* parent = nullptr);

    // Milliseconds between ticks, fractions honoured. While enabled, governs the ticks after
    // the one delivered last.
    void setInterval(double intervalMs);
    double interval() const { return intervalMs_; }

    // True starts a new run with a tick at once; false stops it: no tick comes after.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }

    // How long before its due time a tick is delivered; read afresh for every tick.
    void setLead(std::function<Nanoseconds()> lead) { lead_ = std::move(lead); }

    // While a tick is being handled: its due time on the timer's clock, and its number in the
    // run (0 for the first).
    Nanoseconds dueOfCurrentTick() const { return currentDue_; }
    std::int64_t numberOfCurrentTick() const { return currentNumber_; }
    // The time now on the timer's clock.
    Nanoseconds now() const { return clock_.now(); }

  signals:
    void tick();

  private:
    void onTimeout();
    void armFor(Nanoseconds fireAt);
    Nanoseconds lead() const;

    const Clock& clock_;
    QTimer wake_;
    TickSchedule schedule_;
    std::function<Nanoseconds()> lead_;
    double intervalMs_ = 0.0;
    bool enabled_ = false;
    Nanoseconds currentDue_{0};
    std::int64_t currentNumber_ = -1;
};

}  // namespace vindelor
