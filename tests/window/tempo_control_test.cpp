#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/spin_button.h"
#include "window/up_down.h"

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

Action click(QAbstractButton* (ArrowPair::*arrow)() const, bool spin) {
    return [=](WindowHarness& h) {
        ArrowPair* pair = spin ? static_cast<ArrowPair*>(h.SpinButton1) : h.UpDown1;
        QTest::mouseClick((pair->*arrow)(), Qt::LeftButton);
    };
}

template <typename Control>
Action key(Control* WindowHarness::*control, Qt::Key pressed) {
    return [=](WindowHarness& h) {
        (h.*control)->setFocus();
        QTest::keyClick(h.*control, pressed);
    };
}

Action dragSliderToItsRightEnd() {
    return [](WindowHarness& h) {
        QStyleOptionSlider option;
        option.initFrom(h.Slider1);
        option.minimum = h.Slider1->minimum();
        option.maximum = h.Slider1->maximum();
        option.sliderPosition = h.Slider1->value();
        const QPoint grip =
            h.Slider1->style()
                ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, h.Slider1)
                .center();
        const QPoint end(h.Slider1->width() - 1, grip.y());
        QTest::mousePress(h.Slider1, Qt::LeftButton, {}, grip);
        QTest::mouseMove(h.Slider1, end);
        QTest::mouseRelease(h.Slider1, Qt::LeftButton, {}, end);
    };
}

}  // namespace

// The four ways to change the tempo. After each the slider, the box and the timer agree.
class TempoControlTest : public QObject {
    Q_OBJECT

  private slots:
    void everyChangeLeavesSliderBoxAndTimerAgreeing_data();
    void everyChangeLeavesSliderBoxAndTimerAgreeing();
    void keysThatAreNoDigitsAreDropped_data();
    void keysThatAreNoDigitsAreDropped();
    void aChangeWhileRunningIsHeardFromTheNextTick_data();
    void aChangeWhileRunningIsHeardFromTheNextTick();
    void theUpDownMovesTheSliderBeforeItsEvent_data();
    void theUpDownMovesTheSliderBeforeItsEvent();
};

void TempoControlTest::everyChangeLeavesSliderBoxAndTimerAgreeing_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<Action>("change");
    QTest::addColumn<int>("tempo");
    const auto up = &ArrowPair::upArrow;
    const auto down = &ArrowPair::downArrow;
    QTest::newRow("90 and Enter is taken as it is") << 120 << type("90") << 90;
    QTest::newRow("70 and Enter gives an uneven interval") << 120 << type("70") << 70;
    QTest::newRow("250 and Enter is held at 200") << 120 << type("250") << 200;
    QTest::newRow("30 and Enter is held at 50") << 120 << type("30") << 50;
    QTest::newRow("050 and Enter is 50") << 120 << type("050") << 50;
    QTest::newRow("999 and Enter is held at 200") << 120 << type("999") << 200;
    QTest::newRow("Enter on an empty box keeps the tempo") << 120 << type("") << 120;
    QTest::newRow("Enter on pasted letters keeps the tempo") << 120 << paste("abc") << 120;
    QTest::newRow("Enter on a pasted -90 keeps the tempo") << 120 << paste("-90") << 120;
    QTest::newRow("Enter on a pasted 9.5 keeps the tempo") << 120 << paste("9.5") << 120;
    QTest::newRow("spin up at 120 gives 125") << 120 << click(up, true) << 125;
    QTest::newRow("spin down at 120 gives 115") << 120 << click(down, true) << 115;
    QTest::newRow("spin up at 198 is held at 200") << 198 << click(up, true) << 200;
    QTest::newRow("spin up at 200 stays at 200") << 200 << click(up, true) << 200;
    QTest::newRow("spin down at 50 stays at 50") << 50 << click(down, true) << 50;
    QTest::newRow("Up on the spin button gives 125")
        << 120 << key(&WindowHarness::SpinButton1, Qt::Key_Up) << 125;
    QTest::newRow("up-down up at 120 gives 121") << 120 << click(up, false) << 121;
    QTest::newRow("up-down down at 120 gives 119") << 120 << click(down, false) << 119;
    QTest::newRow("up-down up at 200 stays at 200") << 200 << click(up, false) << 200;
    QTest::newRow("up-down down at 50 stays at 50") << 50 << click(down, false) << 50;
    QTest::newRow("Down on the up-down gives 119")
        << 120 << key(&WindowHarness::UpDown1, Qt::Key_Down) << 119;
    QTest::newRow("Right on the slider gives 121")
        << 120 << key(&WindowHarness::Slider1, Qt::Key_Right) << 121;
    QTest::newRow("Page Down on the slider gives 110")
        << 120 << key(&WindowHarness::Slider1, Qt::Key_PageDown) << 110;
    QTest::newRow("Home on the slider gives 50")
        << 120 << key(&WindowHarness::Slider1, Qt::Key_Home) << 50;
    QTest::newRow("End on the slider gives 200")
        << 120 << key(&WindowHarness::Slider1, Qt::Key_End) << 200;
    QTest::newRow("dragging the slider to its end gives 200")
        << 120 << dragSliderToItsRightEnd() << 200;
}

void TempoControlTest::everyChangeLeavesSliderBoxAndTimerAgreeing() {
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

void TempoControlTest::keysThatAreNoDigitsAreDropped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a letter is dropped") << "1a2"
                                         << "12";
    QTest::newRow("a blank is dropped") << "1 2"
                                        << "12";
    QTest::newRow("a minus sign is dropped") << "-75"
                                             << "75";
    QTest::newRow("a decimal point is dropped") << "7.5"
                                                << "75";
    QTest::newRow("a fourth digit is refused") << "1234"
                                               << "123";
}

void TempoControlTest::keysThatAreNoDigitsAreDropped() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    WindowHarness h;
    h.open();
    type(typed, false)(h);
    QCOMPARE(h.Text1->text(), shown);
    QGuiApplication::clipboard()->setText(QStringLiteral("7"));
    QTest::keyClick(h.Text1, Qt::Key_V, Qt::ControlModifier);  // types a control code
    QCOMPARE(h.Text1->text(), shown);
    QTest::keyClick(h.Text1, Qt::Key_Home);  // keys that type nothing still edit
    QTest::keyClick(h.Text1, Qt::Key_Delete);
    QCOMPARE(h.Text1->text(), shown.mid(1));
    QCOMPARE(h.Slider1->value(), 120);
}

void TempoControlTest::aChangeWhileRunningIsHeardFromTheNextTick_data() {
    QTest::addColumn<Action>("change");
    QTest::addColumn<double>("interval");
    QTest::addColumn<QString>("heard");
    QTest::newRow("a spin keeps the bar going")
        << click(&ArrowPair::upArrow, true) << 480.0 << "AnnnAn";
    QTest::newRow("Enter starts a new bar with the accent") << type("150") << 400.0 << "AnAnnn";
    QTest::newRow("typing without Enter changes nothing") << type("90", false) << 500.0 << "AnnnAn";
    QTest::newRow("Enter on pasted junk changes nothing") << paste("x") << 500.0 << "AnnnAn";
}

void TempoControlTest::aChangeWhileRunningIsHeardFromTheNextTick() {
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

void TempoControlTest::theUpDownMovesTheSliderBeforeItsEvent_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("found");
    QTest::newRow("up at 77 finds 78: it steps from the slider, not from 50") << 77 << true << 78;
    QTest::newRow("down at 120 finds 119") << 120 << false << 119;
    QTest::newRow("up at 200 finds 200: no wrap") << 200 << true << 200;
}

void TempoControlTest::theUpDownMovesTheSliderBeforeItsEvent() {
    QFETCH(int, from);
    QFETCH(bool, up);
    QFETCH(int, found);
    QSlider slider;
    slider.setRange(50, 200);
    slider.setValue(from);
    UpDown arrows(slider, 50, 200);
    arrows.resize(16, 25);
    QList<int> seen;
    connect(&arrows, up ? &UpDown::upClick : &UpDown::downClick,
            [&] { seen.append(slider.value()); });
    QTest::mouseClick(up ? arrows.upArrow() : arrows.downArrow(), Qt::LeftButton);
    QCOMPARE(seen, QList<int>{found});
}

}  // namespace vindelor

QTEST_MAIN(vindelor::TempoControlTest)
#include "tempo_control_test.moc"
