#include "timer/tick_timer.h"

#include <QCoreApplication>
#include <QTest>
#include <vector>

namespace vindelor {
namespace {

using namespace std::chrono_literals;

// Records every tick the timer raises, with its due time, and lets a test act inside one.
struct TickLog : QObject {
    explicit TickLog(TickTimer& timer) : timer(timer) {
        connect(&timer, &TickTimer::tick, this, [this] {
            dues.push_back(this->timer.dueOfCurrentTick());
            numbers.push_back(this->timer.numberOfCurrentTick());
            if (onTick) {
                onTick();
            }
        });
    }
    TickTimer& timer;
    std::vector<Nanoseconds> dues;
    std::vector<std::int64_t> numbers;
    std::function<void()> onTick;
};

}  // namespace

class TickTimerTest : public QObject {
    Q_OBJECT

  private slots:
    void theFirstTickComesAtOnceAndTheRestStayOnTheGrid() {
        MonotonicClock clock;
        TickTimer timer(clock);
        TickLog log(timer);
        timer.setInterval(2.5);
        const Nanoseconds before = clock.now();
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(log.dues.size() >= 20, 10000);
        timer.setEnabled(false);

        QCOMPARE(log.numbers.front(), 0);
        QVERIFY(log.dues.front() >= before);
        for (std::size_t i = 1; i < log.dues.size(); ++i) {
            // A fractional interval, never rounded: every due time is a whole number of
            // 2.5 ms steps from the first, whatever the wake-ups did.
            const auto sinceFirst = (log.dues[i] - log.dues.front()).count();
            QCOMPARE(sinceFirst % 2'500'000, 0);
            QVERIFY(log.dues[i] > log.dues[i - 1]);
            QCOMPARE(log.numbers[i], log.numbers[i - 1] + 1);
        }
    }

    void aNewIntervalGovernsTheTicksAfterTheOneJustDelivered() {
        MonotonicClock clock;
        TickTimer timer(clock);
        TickLog log(timer);
        timer.setInterval(20.0);
        log.onTick = [&] {
            if (log.dues.size() == 3) {
                timer.setInterval(35.5);
            }
        };
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(log.dues.size() >= 6, 10000);
        timer.setEnabled(false);
        // A wake-up late by more than an interval skips to the grid, so only the grid is
        // checked: 20 ms steps up to the change, 35.5 ms steps from the tick it came in.
        for (std::size_t i = 1; i < log.dues.size(); ++i) {
            const bool before = i <= 2;
            const auto since = (log.dues[i] - log.dues[before ? 0 : 2]).count();
            QVERIFY(since > 0);
            QCOMPARE(since % (before ? 20'000'000 : 35'500'000), 0);
        }
    }

    void noTickComesAfterItIsDisabledEvenFromInsideATick() {
        MonotonicClock clock;
        TickTimer timer(clock);
        TickLog log(timer);
        timer.setInterval(1.0);
        log.onTick = [&] {
            if (log.dues.size() == 2) {
                timer.setEnabled(false);
            }
        };
        timer.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(log.dues.size(), std::size_t{2}, 10000);
        QTest::qWait(30);
        QCOMPARE(log.dues.size(), std::size_t{2});
        QVERIFY(!timer.isEnabled());
    }

    void enablingAgainStartsANewRunWithItsOwnFirstTick() {
        MonotonicClock clock;
        TickTimer timer(clock);
        TickLog log(timer);
        timer.setInterval(1.5);
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(log.dues.size() >= 3, 10000);
        timer.setEnabled(false);
        const std::size_t firstRun = log.dues.size();
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(log.dues.size() > firstRun, 10000);
        timer.setEnabled(false);
        QCOMPARE(log.numbers[firstRun], 0);
    }

    void ticksComeALeadAheadOfTheirDueTime() {
        MonotonicClock clock;
        TickTimer timer(clock);
        timer.setLead([] { return 1500ms; });
        std::vector<Nanoseconds> lateness;  // delivery time minus due time
        connect(&timer, &TickTimer::tick, this,
                [&] { lateness.push_back(clock.now() - timer.dueOfCurrentTick()); });
        timer.setInterval(2000.0);
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(lateness.size() >= 2, 10000);
        timer.setEnabled(false);
        // The second tick is due two seconds in and asked for half a second in: only a lead
        // ignored, or a stall of a second and a half, brings it at or after its due time.
        QVERIFY2(lateness[1] < 0ns, "a tick came without its lead");
    }
};

}  // namespace vindelor

QTEST_GUILESS_MAIN(vindelor::TickTimerTest)
#include "tick_timer_test.moc"
