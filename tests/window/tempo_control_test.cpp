#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include "tests/window/window_harness.h"

using Action = std::function<void(vindelor::WindowHarness&)>;
Q_DECLARE_METATYPE(Action)

namespace vindelor {
namespace {

// Empties the tempo box with the keyboard, types `keys` and, with `enter`, presses Enter.
Action type(const QString& keys, bool enter = true) {
    return [=](WindowHarness& h) {
        h.Text1->setFocus();
        QTest::keyClick(h.Text1, Qt::Key_End);
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(h.Text1, Qt::Key_Backspace);
        }
        QTest::keyClicks(h.Text1, keys);
        if (enter) {
            QTest::keyClick(h.Text1, Qt::Key_Return);
        }
    };
}

// Puts `text` into the box as a paste does, past the key filter, and presses Enter.
Action paste(const QString& text) {
    return [=](WindowHarness& h) {
        type({}, false)(h);
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(h.Text1, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(h.Text1->text(), text);
        QTest::keyClick(h.Text1, Qt::Key_Return);
    };
}

Action click(bool spin, bool up) {
    return [=](WindowHarness& h) {
        ArrowPair* pair = spin ? static_cast<ArrowPair*>(h.SpinButton1) : h.UpDown1;
        QTest::mouseClick(up ? pair->upArrow() : pair->downArrow(), Qt::LeftButton);
    };
}

Action sliderKey(Qt::Key key) {
    return [=](WindowHarness& h) {
        h.Slider1->setFocus();
        QTest::keyClick(h.Slider1, key);
    };
}

}  // namespace

// The four ways to change the tempo. After each the slider, the box and the timer agree.
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
        QTest::newRow("999 and Enter is held at 200") << 120 << type("999") << 200;
        QTest::newRow("70 and Enter gives an uneven interval") << 120 << type("70") << 70;
        QTest::newRow("Enter on an empty box keeps the tempo") << 120 << type("") << 120;
        QTest::newRow("Enter on pasted letters keeps the tempo") << 120 << paste("abc") << 120;
        QTest::newRow("Enter on a pasted -90 keeps the tempo") << 120 << paste("-90") << 120;
        QTest::newRow("Enter on a pasted 9.5 keeps the tempo") << 120 << paste("9.5") << 120;
        QTest::newRow("spin up at 120 gives 125") << 120 << click(true, true) << 125;
        QTest::newRow("spin down at 120 gives 115") << 120 << click(true, false) << 115;
        QTest::newRow("spin up at 198 is held at 200") << 198 << click(true, true) << 200;
        QTest::newRow("spin up at 200 stays at 200") << 200 << click(true, true) << 200;
        QTest::newRow("spin down at 50 stays at 50") << 50 << click(true, false) << 50;
        QTest::newRow("up-down up at 77 gives 78") << 77 << click(false, true) << 78;
        QTest::newRow("up-down down at 120 gives 119") << 120 << click(false, false) << 119;
        QTest::newRow("up-down up at 200 stays at 200") << 200 << click(false, true) << 200;
        QTest::newRow("up-down down at 50 stays at 50") << 50 << click(false, false) << 50;
        QTest::newRow("Page Down on the slider gives 110")
            << 120 << sliderKey(Qt::Key_PageDown) << 110;
        QTest::newRow("End on the slider gives 200") << 120 << sliderKey(Qt::Key_End) << 200;
    }

    void everyChangeLeavesSliderBoxAndTimerAgreeing() {
        QFETCH(int, from);
        QFETCH(Action, change);
        QFETCH(int, tempo);
        WindowHarness h;
        h.open();
        type(QString::number(from))(h);
        change(h);
        QCOMPARE(h.Slider1->value(), tempo);
        QCOMPARE(h.Text1->text(), QString::number(tempo));
        QCOMPARE(h.window->tickTimer().interval(), 60000.0 / tempo);
    }

    void keysThatAreNoDigitsAreDropped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a letter") << "1a2"
                                  << "12";
        QTest::newRow("a blank") << "1 2"
                                 << "12";
        QTest::newRow("a minus sign") << "-75"
                                      << "75";
        QTest::newRow("a decimal point") << "7.5"
                                         << "75";
    }

    void keysThatAreNoDigitsAreDropped() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        WindowHarness h;
        h.open();
        type(typed, false)(h);
        QCOMPARE(h.Text1->text(), shown);
        QTest::keyClick(h.Text1, Qt::Key_Home);  // keys that type nothing still edit
        QTest::keyClick(h.Text1, Qt::Key_Delete);
        QCOMPARE(h.Text1->text(), shown.mid(1));
        QCOMPARE(h.Slider1->value(), 120);
    }

    void aChangeWhileRunningIsHeardFromTheNextTick_data() {
        QTest::addColumn<Action>("change");
        QTest::addColumn<double>("interval");
        QTest::addColumn<QString>("heard");
        QTest::newRow("a spin keeps the bar going") << click(true, true) << 480.0 << "AnnnAn";
        QTest::newRow("Enter starts a new bar with the accent") << type("150") << 400.0 << "AnAnnn";
        QTest::newRow("typing 90 without Enter changes nothing")
            << type("90", false) << 500.0 << "AnnnAn";
        QTest::newRow("Enter on pasted junk changes nothing") << paste("x") << 500.0 << "AnnnAn";
    }

    void aChangeWhileRunningIsHeardFromTheNextTick() {
        QFETCH(Action, change);
        QFETCH(double, interval);
        QFETCH(QString, heard);
        WindowHarness h;
        h.open();
        h.clickStart();
        h.tick();
        change(h);
        QVERIFY(h.window->tickTimer().isEnabled());
        QCOMPARE(h.window->tickTimer().interval(), interval);
        for (int beat = 0; beat < 4; ++beat) {
            h.tick();
        }
        QCOMPARE(h.output.heard, heard);
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::TempoControlTest)
#include "tempo_control_test.moc"
