#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {

// The spin button and the up-down, on their own.
class ArrowPairTest : public QObject {
    Q_OBJECT

  private slots:
    void theSpinButtonRaisesOneEventPerPress_data();
    void theSpinButtonRaisesOneEventPerPress();
    void theUpDownMovesItsSliderBeforeItRaisesItsEvent_data();
    void theUpDownMovesItsSliderBeforeItRaisesItsEvent();
    void aClickOnAnArrowLeavesTheFocusWhereItWas();
};

void ArrowPairTest::theSpinButtonRaisesOneEventPerPress_data() {
    QTest::addColumn<bool>("withKeys");
    QTest::newRow("clicked with the mouse") << false;
    QTest::newRow("pressed with Up and Down while it has the focus") << true;
}

void ArrowPairTest::theSpinButtonRaisesOneEventPerPress() {
    QFETCH(bool, withKeys);
    SpinButton spin;
    spin.resize(25, 101);
    spin.show();
    QSignalSpy ups(&spin, &SpinButton::up);
    QSignalSpy downs(&spin, &SpinButton::down);
    QVERIFY(spin.upArrow()->geometry().bottom() < spin.downArrow()->geometry().top());
    if (withKeys) {
        spin.setFocus();
        QTest::keyClick(&spin, Qt::Key_Up);
        QTest::keyClick(&spin, Qt::Key_Down);
        QTest::keyClick(&spin, Qt::Key_Down);
    } else {
        QTest::mouseClick(spin.upArrow(), Qt::LeftButton);
        QTest::mouseClick(spin.downArrow(), Qt::LeftButton);
        QTest::mouseClick(spin.downArrow(), Qt::LeftButton);
    }
    QCOMPARE(ups.count(), 1);
    QCOMPARE(downs.count(), 2);
}

void ArrowPairTest::theUpDownMovesItsSliderBeforeItRaisesItsEvent_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("to");
    QTest::newRow("up from 120 finds 121 on the slider") << 120 << true << 121;
    QTest::newRow("down from 120 finds 119 on the slider") << 120 << false << 119;
    QTest::newRow("up at 200 does not wrap") << 200 << true << 200;
    QTest::newRow("down at 50 does not wrap") << 50 << false << 50;
    QTest::newRow("it steps from where the slider stands, not from 50") << 77 << true << 78;
}

void ArrowPairTest::theUpDownMovesItsSliderBeforeItRaisesItsEvent() {
    QFETCH(int, from);
    QFETCH(bool, up);
    QFETCH(int, to);
    QSlider slider(Qt::Horizontal);
    slider.setRange(50, 200);
    slider.setValue(from);
    UpDown arrows(slider, 50, 200);
    arrows.resize(16, 25);
    arrows.show();
    int foundOnTheSlider = 0;
    int events = 0;
    const auto heard = [&] {
        foundOnTheSlider = slider.value();
        ++events;
    };
    connect(&arrows, up ? &UpDown::upClick : &UpDown::downClick, heard);
    QTest::mouseClick(up ? arrows.upArrow() : arrows.downArrow(), Qt::LeftButton);
    QCOMPARE(events, 1);
    QCOMPARE(foundOnTheSlider, to);
    QCOMPARE(slider.value(), to);
}

void ArrowPairTest::aClickOnAnArrowLeavesTheFocusWhereItWas() {
    QWidget window;
    auto* other = new QSlider(&window);
    auto* spin = new SpinButton(&window);
    spin->setGeometry(50, 0, 25, 101);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), other);
    QCOMPARE(spin->focusPolicy(), Qt::TabFocus);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::ArrowPairTest)
#include "arrow_pair_test.moc"
