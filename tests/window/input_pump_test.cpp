#include <qpa/qwindowsysteminterface.h>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/qt_input_pump.h"

namespace vindelor {
namespace {

// Counts the events it is sent.
class Receiver : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++received;
            return true;
        }
        return QObject::event(event);
    }
    int received = 0;
};

// A key press and release as the window system hands them to Qt, not yet delivered.
void queueKey(QWindow* window, Qt::Key key, const QString& text) {
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, QEvent::KeyPress, key, Qt::NoModifier, text);
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, QEvent::KeyRelease, key, Qt::NoModifier, text);
}

}  // namespace

// Letting waiting input through from inside a tick.
class InputPumpTest : public QObject {
    Q_OBJECT

  private slots:
    void waitingKeysAndClicksAreSeenAndDeliveredInOnePass();
    void aTickWithoutWaitingInputLeavesPendingEventsAlone();
    void aTickWithWaitingInputDeliversItBeforeItReturns();
};

void InputPumpTest::waitingKeysAndClicksAreSeenAndDeliveredInOnePass() {
    WindowHarness harness;
    harness.open();
    QtInputPump pump;
    QVERIFY(!pump.isInputWaiting());

    harness.Text1->setFocus();
    queueKey(harness.window->windowHandle(), Qt::Key_Backspace, QStringLiteral("\b"));
    QVERIFY(pump.isInputWaiting());
    pump.processPendingEvents();
    QVERIFY(!pump.isInputWaiting());
    QCOMPARE(harness.Text1->text(), QStringLiteral("12"));

    const QPoint centre = harness.Command1->geometry().center();
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        harness.window->windowHandle(), centre, harness.window->mapToGlobal(centre), Qt::LeftButton,
        Qt::LeftButton, QEvent::MouseButtonPress);
    QVERIFY(pump.isInputWaiting());
    pump.processPendingEvents();
    QVERIFY(!pump.isInputWaiting());
    QVERIFY(harness.Command1->isDown());
}

void InputPumpTest::aTickWithoutWaitingInputLeavesPendingEventsAlone() {
    WindowHarness harness;
    harness.open();
    Receiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    harness.tick();
    QCOMPARE(receiver.received, 0);
    QCoreApplication::sendPostedEvents(&receiver);
    QCOMPARE(receiver.received, 1);
}

void InputPumpTest::aTickWithWaitingInputDeliversItBeforeItReturns() {
    WindowHarness harness;
    harness.open();
    Receiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    harness.Text1->setFocus();
    queueKey(harness.window->windowHandle(), Qt::Key_Backspace, QStringLiteral("\b"));
    harness.tick();
    QCOMPARE(harness.Text1->text(), QStringLiteral("12"));
    QCOMPARE(receiver.received, 1);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::InputPumpTest)
#include "input_pump_test.moc"
