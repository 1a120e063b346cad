#include <qpa/qwindowsysteminterface.h>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/window/window_harness.h"

namespace vindelor {
namespace {

// Counts the events of type User it is sent.
struct Receiver : QObject {
    bool event(QEvent* event) override {
        received += event->type() == QEvent::User ? 1 : 0;
        return QObject::event(event);
    }
    int received = 0;
};

// A Backspace as the window system hands it to Qt, not yet delivered.
void queueBackspace(QWindow* window) {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
            window, type, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    }
}

}  // namespace

// Letting waiting input through from inside a tick.
class InputPumpTest : public QObject {
    Q_OBJECT

  private slots:
    void waitingKeysAndClicksAreSeenAndDeliveredInOnePass() {
        WindowHarness h;
        h.open();
        QtInputPump pump;
        QVERIFY(!pump.isInputWaiting());
        h.Text1->setFocus();
        queueBackspace(h.window->windowHandle());
        QVERIFY(pump.isInputWaiting());
        pump.processPendingEvents();
        QVERIFY(!pump.isInputWaiting());
        QCOMPARE(h.Text1->text(), QStringLiteral("12"));

        const QPoint centre = h.Command1->geometry().center();
        QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
            h.window->windowHandle(), centre, h.window->mapToGlobal(centre), Qt::LeftButton,
            Qt::LeftButton, QEvent::MouseButtonPress);
        QVERIFY(pump.isInputWaiting());
        pump.processPendingEvents();
        QVERIFY(h.Command1->isDown());
    }

    void aTickLetsPendingEventsThroughOnlyWhenInputWaits_data() {
        QTest::addColumn<bool>("inputWaits");
        QTest::newRow("a key waits: the tick delivers it and what else is pending") << true;
        QTest::newRow("no input waits: the tick returns at once") << false;
    }

    void aTickLetsPendingEventsThroughOnlyWhenInputWaits() {
        QFETCH(bool, inputWaits);
        WindowHarness h;
        h.open();
        Receiver receiver;
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        h.Text1->setFocus();
        if (inputWaits) {
            queueBackspace(h.window->windowHandle());
        }
        h.tick();
        QCOMPARE(h.output.heard, QStringLiteral("A"));
        QCOMPARE(receiver.received, inputWaits ? 1 : 0);
        QCOMPARE(h.Text1->text(), inputWaits ? QStringLiteral("12") : QStringLiteral("120"));
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::InputPumpTest)
#include "input_pump_test.moc"
