#include "timer/tick_timer.h"

#include <QTest>
#include <vector>

namespace vindelor {

using namespace std::chrono_literals;

// The timer on a real event loop and the monotonic clock: what it raises, and when.
class TickTimerTest : public QObject {
    Q_OBJECT

    MonotonicClock clock;
    TickTimer timer{clock};
    std::vector<Nanoseconds> dues;
    std::vector<Nanoseconds> lateness;  // delivery less due time

  private slots:
    void initTestCase() {
        connect(&timer, &TickTimer::tick, this, [this] {
            QCOMPARE(timer.numberOfCurrentTick(), static_cast<std::int64_t>(dues.size()));
            dues.push_back(timer.dueOfCurrentTick());
            lateness.push_back(clock.now() - timer.dueOfCurrentTick());
            if (dues.size() == 3) {
                timer.setInterval(35.5);  // governs the ticks after this one
            }
            if (dues.size() == 6) {
                timer.setEnabled(false);  // none after this one, even from inside a tick
            }
        });
    }
    void init() {
        dues.clear();
        lateness.clear();
    }

    void theFirstTickComesAtOnceAndTheRestStayOnTheGridUntilDisabled() {
        timer.setInterval(20.0);
        timer.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(dues.size(), std::size_t{6}, 10000);
        QTest::qWait(80);
        QCOMPARE(dues.size(), std::size_t{6});
        QVERIFY(lateness.front() < 15ms);
        // Due times on the grid, never rounded, whatever the wake-ups did: 20 ms steps up to
        // the change, 35.5 ms steps from the tick it came in.
        for (std::size_t i = 1; i < dues.size(); ++i) {
            const auto since = (dues[i] - dues[i <= 2 ? 0 : 2]).count();
            QVERIFY(since > 0);
            QCOMPARE(since % (i <= 2 ? 20'000'000 : 35'500'000), 0);
        }
    }

    void ticksComeALeadAheadOfTheirDueTime() {
        timer.setLead([] { return 1500ms; });
        timer.setInterval(2000.0);
        timer.setEnabled(true);  // a new run, numbered from 0 again
        QTRY_VERIFY_WITH_TIMEOUT(dues.size() >= 2, 10000);
        timer.setEnabled(false);
        // Due two seconds in and asked for half a second in: only a lead ignored, or a stall
        // of a second and a half, brings it at or after its due time.
        QVERIFY2(lateness[1] < 0ns, "a tick came without its lead");
    }
};

}  // namespace vindelor

QTEST_GUILESS_MAIN(vindelor::TickTimerTest)
#include "tick_timer_test.moc"
