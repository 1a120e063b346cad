// A thousand random user actions in a row, as fast as Qt takes them: clicks on every control,
// keys and pastes in the tempo box, meter changes, Start and Stop, and input that arrives
// while a tick is letting waiting input through. Nothing may end the program, and slider, box
// and timer never disagree but while the user is typing into the box.

#include <qpa/qwindowsysteminterface.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <random>

#include "engine/meter.h"
#include "tests/robustness/tempo_box_typist.h"
#include "tests/robustness/window_rig.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {
namespace {

// Press and release of the left button at `where` in `widget`, handed to Qt as the window
// system would, so that it waits in the queue until someone processes events.
void queueClick(QWidget* widget, QPoint where) {
    QWidget* top = widget->window();
    const QPointF local = widget->mapTo(top, where);
    const QPointF global = widget->mapToGlobal(where);
    using Interface = QWindowSystemInterface;
    Interface::handleMouseEvent<Interface::AsynchronousDelivery>(top->windowHandle(), local, global,
                                                                 Qt::LeftButton, Qt::LeftButton,
                                                                 QEvent::MouseButtonPress);
    Interface::handleMouseEvent<Interface::AsynchronousDelivery>(top->windowHandle(), local, global,
                                                                 Qt::NoButton, Qt::LeftButton,
                                                                 QEvent::MouseButtonRelease);
}

void queueKey(QWidget* window, Qt::Key key, const QString& text) {
    using Interface = QWindowSystemInterface;
    Interface::handleKeyEvent<Interface::AsynchronousDelivery>(
        window->windowHandle(), QEvent::KeyPress, key, Qt::NoModifier, text);
    Interface::handleKeyEvent<Interface::AsynchronousDelivery>(
        window->windowHandle(), QEvent::KeyRelease, key, Qt::NoModifier, text);
}

// A random user on one window: each act() does one thing a user can do, and tells whether it
// may have edited the tempo box without an Enter.
class RandomUser {
  public:
    RandomUser(test::WindowRig& rig, std::uint32_t seed)
        : rig_(rig), typist_(*rig.Text1), random_(seed) {}

    // Returns a name for the action, for a failure's message.
    const char* act(bool& typed) {
        typed = false;
        switch (pick(18)) {
            case 0:
                QTest::mouseClick(rig_.Command1, Qt::LeftButton);
                return "a click on Start/Stop";
            case 1: {
                const int row = pick(kMeterRowCount);
                const QRect place = rig_.List1->visualItemRect(rig_.List1->item(row));
                QTest::mouseClick(rig_.List1->viewport(), Qt::LeftButton, {}, place.center());
                return "a click on a row of the meter list";
            }
            case 2: {
                // Control and a click on the selected row leaves none selected.
                const int row = std::max(0, rig_.List1->currentRow());
                const QRect place = rig_.List1->visualItemRect(rig_.List1->item(row));
                QTest::mouseClick(rig_.List1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                                  place.center());
                return "a control-click on the meter list";
            }
            case 3:
                rig_.List1->setFocus();
                QTest::keyClick(rig_.List1, pick(2) ? Qt::Key_Down : Qt::Key_Up);
                return "an arrow key in the meter list";
            case 4:
                QTest::mouseClick(
                    pick(2) ? rig_.SpinButton1->upArrow() : rig_.SpinButton1->downArrow(),
                    Qt::LeftButton);
                return "a click on the spin button";
            case 5:
                QTest::mouseClick(pick(2) ? rig_.UpDown1->upArrow() : rig_.UpDown1->downArrow(),
                                  Qt::LeftButton);
                return "a click on the up-down arrows";
            case 6: {
                static constexpr Qt::Key keys[] = {Qt::Key_Left,     Qt::Key_Right, Qt::Key_PageUp,
                                                   Qt::Key_PageDown, Qt::Key_Home,  Qt::Key_End};
                rig_.Slider1->setFocus();
                QTest::keyClick(rig_.Slider1, keys[pick(6)]);
                return "a key on the slider";
            }
            case 7: {
                const QPoint on(pick(rig_.Slider1->width()), rig_.Slider1->height() / 2);
                QTest::mouseClick(rig_.Slider1, Qt::LeftButton, {}, on);
                return "a click on the slider";
            }
            case 8: {
                const QPointF at(rig_.Slider1->width() / 2.0, rig_.Slider1->height() / 2.0);
                QWheelEvent wheel(at, rig_.Slider1->mapToGlobal(at), {}, {0, pick(2) ? 120 : -120},
                                  Qt::NoButton, {}, Qt::NoScrollPhase, false);
                QApplication::sendEvent(rig_.Slider1, &wheel);
                return "a turn of the wheel over the slider";
            }
            case 9:
            case 10:
            case 11: {
                rig_.Text1->setFocus();
                std::uint8_t bytes[10];
                for (std::uint8_t& byte : bytes) {
                    byte = static_cast<std::uint8_t>(pick(256));
                }
                bool entered = false;
                typist_.act(bytes, entered);
                typed = !entered;
                return "a key or a paste in the tempo box";
            }
            case 12:
                rig_.Text1->setFocus();
                typist_.pressEnter();
                return "Enter in the tempo box";
            case 13:
            case 14:
                if (rig_.running()) {
                    emit rig_.window->tickTimer().tick();
                }
                return "a tick";
            case 15:
            case 16:
                return inputDuringATick(typed);
            default:
                QApplication::processEvents();
                return "a pass of the event loop";
        }
    }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    // Input the user gave while the window's thread was busy with a beat: the tick lets it
    // through from inside its own handler.
    const char* inputDuringATick(bool& typed) {
        if (!rig_.running()) {
            return "nothing: no tick comes while stopped";
        }
        QWidget* targets[] = {rig_.Command1,
                              rig_.List1->viewport(),
                              rig_.SpinButton1->upArrow(),
                              rig_.SpinButton1->downArrow(),
                              rig_.UpDown1->upArrow(),
                              rig_.UpDown1->downArrow(),
                              rig_.Slider1,
                              rig_.Text1};
        for (int i = pick(3) + 1; i > 0; --i) {
            if (pick(3) == 0) {
                // Keys go wherever the focus is; in the box, they edit it.
                static constexpr char digits[] = "0123456789";
                const char digit = digits[pick(10)];
                queueKey(rig_.window, static_cast<Qt::Key>(Qt::Key_0 + (digit - '0')),
                         QString(QChar(digit)));
                typed = typed || rig_.Text1->hasFocus();
            } else {
                QWidget* target = targets[pick(std::size(targets))];
                queueClick(target, QPoint(pick(target->width()), pick(target->height())));
            }
        }
        emit rig_.window->tickTimer().tick();
        // A click that focused the box may have let keys into it.
        typed = typed || rig_.Text1->hasFocus();
        return "input let through by a tick";
    }

    test::WindowRig& rig_;
    test::TempoBoxTypist typist_;
    std::mt19937 random_;
};

}  // namespace

class RapidUseTest : public QObject {
    Q_OBJECT

  private slots:
    void aThousandRandomActionsLeaveTheWindowWholeAndInAgreement_data();
    void aThousandRandomActionsLeaveTheWindowWholeAndInAgreement();
};

void RapidUseTest::aThousandRandomActionsLeaveTheWindowWholeAndInAgreement_data() {
    QTest::addColumn<std::uint32_t>("seed");
    QTest::newRow("a user with seed 1") << 1u;
    QTest::newRow("a user with seed 2") << 2u;
    QTest::newRow("a user with seed 2024") << 2024u;
}

void RapidUseTest::aThousandRandomActionsLeaveTheWindowWholeAndInAgreement() {
    QFETCH(std::uint32_t, seed);
    test::WindowRig rig;
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window));
    RandomUser user(rig, seed);

    // The box may disagree with the slider only while the user's typing is not yet entered.
    bool boxEdited = false;
    for (int i = 0; i < 1000; ++i) {
        bool typed = false;
        const char* action = user.act(typed);
        const QByteArray where =
            QByteArray("after action ") + QByteArray::number(i) + ", " + action;
        QVERIFY2(!rig.window.isNull() && rig.window->isVisible(), where);
        QCOMPARE(rig.running(), rig.Command1->text() == QStringLiteral("&Stop"));
        boxEdited = boxEdited || typed;
        if (!boxEdited) {
            const auto disagreement = rig.disagreement();
            QVERIFY2(!disagreement, where + ": " + disagreement.value_or("").c_str());
        } else {
            // Typing moves neither the slider out of its range nor the interval off it.
            const auto disagreement = rig.disagreement(/*includingBox=*/false);
            QVERIFY2(!disagreement, where + ": " + disagreement.value_or("").c_str());
            boxEdited = rig.Text1->text() != QString::number(rig.Slider1->value());
        }
    }

    rig.Text1->setFocus();
    test::TempoBoxTypist(*rig.Text1).pressEnter();
    const auto disagreement = rig.disagreement();
    QVERIFY2(!disagreement, disagreement.value_or("").c_str());
    QVERIFY2(rig.output.plays > 0, "no beat was ever sounded");
}

}  // namespace vindelor

QTEST_MAIN(vindelor::RapidUseTest)
#include "rapid_use_test.moc"
