#include <QAbstractButton>
#include <QToolButton>
#include <functional>
#include <random>

#include "tests/window/window_harness.h"

using Action = std::function<void(vindelor::WindowHarness&)>;
Q_DECLARE_METATYPE(Action)

namespace vindelor {
namespace {

Action type(const QString& keys, bool enter = true) {
    return [=](WindowHarness& h) { h.type(keys, enter); };
}

// Empties the box, puts `text` in as a paste does, past the key filter, and presses Enter.
Action paste(const QString& text) {
    return [=](WindowHarness& h) {
        h.type({}, false);
        h.Text1->insert(text);
        QTest::keyClick(h.Text1, Qt::Key_Return);
    };
}

enum Arrow { SpinUp, SpinDown, UpDownUp, UpDownDown };
Action click(Arrow arrow) {
    return [=](WindowHarness& h) {
        ArrowPair* pair = arrow <= SpinDown ? static_cast<ArrowPair*>(h.SpinButton1) : h.UpDown1;
        const bool up = arrow == SpinUp || arrow == UpDownUp;
        QTest::mouseClick(up ? pair->upArrow() : pair->downArrow(), Qt::LeftButton);
    };
}

}  // namespace

// The four ways to change the tempo: the tempo box, the spin button, the up-down arrows and
// the slider itself. After each, and after any mix of them, the slider, the box and the timer
// agree.
class TempoControlTest : public QObject {
    Q_OBJECT

  private slots:
    void everyChangeLeavesSliderBoxAndTimerAgreeing_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<Action>("change");
        QTest::addColumn<int>("tempo");
        QTest::newRow("250 and Enter is held at 200") << 120 << type("250") << 200;
        QTest::newRow("30 and Enter is held at 50") << 120 << type("30") << 50;
        QTest::newRow("050 and Enter is 50") << 120 << type("050") << 50;
        QTest::newRow("70 and Enter gives an uneven interval") << 120 << type("70") << 70;
        QTest::newRow("a letter typed is dropped: 9a5 is 95") << 120 << type("9a5") << 95;
        QTest::newRow("Enter on an empty box keeps the tempo") << 120 << type("") << 120;
        QTest::newRow("Enter on pasted letters keeps the tempo") << 120 << paste("abc") << 120;
        QTest::newRow("spin up at 120 gives 125") << 120 << click(SpinUp) << 125;
        QTest::newRow("spin up at 198 is held at 200") << 198 << click(SpinUp) << 200;
        QTest::newRow("spin down at 120 gives 115") << 120 << click(SpinDown) << 115;
        QTest::newRow("spin down at 52 is held at 50") << 52 << click(SpinDown) << 50;
        QTest::newRow("up-down up at 77 gives 78") << 77 << click(UpDownUp) << 78;
        QTest::newRow("up-down up at 200 stays at 200") << 200 << click(UpDownUp) << 200;
        QTest::newRow("up-down down at 50 stays at 50") << 50 << click(UpDownDown) << 50;
        QTest::newRow("Page Down on the slider gives 110")
            << 120 << Action([](WindowHarness& h) { QTest::keyClick(h.Slider1, Qt::Key_PageDown); })
            << 110;
    }

    // The interval goes to the timer while it is stopped, too.
    void everyChangeLeavesSliderBoxAndTimerAgreeing() {
        QFETCH(int, from);
        QFETCH(Action, change);
        QFETCH(int, tempo);
        WindowHarness h;
        QVERIFY(h.open());
        h.type(QString::number(from));
        change(h);
        QCOMPARE(h.Slider1->value(), tempo);
        QCOMPARE(h.Text1->text(), QString::number(tempo));
        QCOMPARE(h.window->tickTimer().interval(), 60000.0 / tempo);
    }

    void aChangeWhileRunningIsHeardFromTheNextTick_data() {
        QTest::addColumn<Action>("change");
        QTest::addColumn<double>("interval");
        QTest::addColumn<QString>("heard");
        QTest::newRow("a spin keeps the bar going") << click(SpinUp) << 480.0 << "AnnnAn";
        QTest::newRow("Enter starts a new bar") << type("150") << 400.0 << "AnAnnn";
        QTest::newRow("typing 90 without Enter changes nothing")
            << type("90", false) << 500.0 << "AnnnAn";
        QTest::newRow("Enter on pasted junk changes nothing") << paste("x") << 500.0 << "AnnnAn";
    }

    void aChangeWhileRunningIsHeardFromTheNextTick() {
        QFETCH(Action, change);
        QFETCH(double, interval);
        QFETCH(QString, heard);
        WindowHarness h;
        QVERIFY(h.open());
        h.clickStart();
        h.tick();
        change(h);
        QVERIFY(h.running());
        QCOMPARE(h.window->tickTimer().interval(), interval);
        for (int beat = 0; beat < 4; ++beat) {
            h.tick();
        }
        QCOMPARE(h.heard(), heard);
    }

    // A thousand actions in quick succession: clicks anywhere on the controls, typing in the
    // tempo box, ticks, and clicks that wait until a tick lets them through from inside its
    // handler. Nothing may end the program, and the window agrees with itself but while the box
    // holds typing not yet entered.
    void randomUseKeepsTheWindowWholeAndAgreeing() {
        std::mt19937 random(2024);
        const auto pick = [&](int n) { return std::uniform_int_distribution(0, n - 1)(random); };
        WindowHarness h;
        QVERIFY(h.open());
        // Every control but Avbryt, which would end the run; the arrows of both arrow pairs.
        QList<QWidget*> controls = {h.Command1, h.List1->viewport(), h.Slider1, h.Text1};
        for (QWidget* arrow : h.window->findChildren<QToolButton*>()) {
            controls.append(arrow);
        }
        bool typing = false;
        for (int i = 0; i < 1000; ++i) {
            QWidget* control = controls[pick(controls.size())];
            const QPoint anywhere(pick(control->width()), pick(control->height()));
            const int action = pick(4);
            if (action == 0) {
                QTest::mouseClick(control, Qt::LeftButton,
                                  pick(2) ? Qt::ControlModifier : Qt::NoModifier, anywhere);
            } else if (action == 1) {
                typing = pick(2) == 0;
                h.type(QString::number(pick(260)) + QChar(u"a- "[pick(3)]), !typing);
            } else if (h.running()) {
                if (action == 2) {
                    queueClick(control, anywhere);
                }
                h.tick();
            }
            QVERIFY2(!h.window.isNull() && h.window->isVisible(), qPrintable(QString::number(i)));
            typing = typing && h.Text1->text() != QString::number(h.Slider1->value());
            const QString why = h.disagreement(/*withBox=*/!typing);
            QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("action %1: %2").arg(i).arg(why)));
        }
        QVERIFY(h.output.heard.size() > 20);
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::TempoControlTest)
#include "tempo_control_test.moc"
