#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {
namespace {

// Empties the tempo box as a user would, with the keyboard.
void clearTempoBox(QLineEdit* box) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_End);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(box, Qt::Key_Backspace);
    }
}

// Brings the window to `tempo` through the slider's keys.
void setTempo(WindowHarness& harness, int tempo) {
    harness.Slider1->setFocus();
    QTest::keyClick(harness.Slider1, Qt::Key_Home);
    for (int at = 50; at < tempo; ++at) {
        QTest::keyClick(harness.Slider1, Qt::Key_Right);
    }
    QCOMPARE(harness.Slider1->value(), tempo);
}

}  // namespace

// The four ways to change the tempo. After each, the slider, the box and the timer agree.
class TempoControlTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void enterTakesATypedTempoWithinItsLimits_data();
    void enterTakesATypedTempoWithinItsLimits();
    void keysThatAreNoDigitsAreDropped_data();
    void keysThatAreNoDigitsAreDropped();
    void keysThatTypeNothingStillEditTheBox_data();
    void keysThatTypeNothingStillEditTheBox();
    void editingTheBoxWithoutEnterChangesNothing();
    void enterOnWhatIsNoNumberKeepsTheTempo_data();
    void enterOnWhatIsNoNumberKeepsTheTempo();
    void theSpinButtonStepsByFive_data();
    void theSpinButtonStepsByFive();
    void theUpDownStepsByOneAndStopsAtTheEnds_data();
    void theUpDownStepsByOneAndStopsAtTheEnds();
    void theSlidersOwnKeysChangeTheTempo_data();
    void theSlidersOwnKeysChangeTheTempo();
    void draggingTheSliderChangesTheTempo();
    void aChangeWhileRunningIsHeardFromTheNextTickWithoutANewBar();
    void enterWhileRunningRestartsTheBarWithTheAccent();

  private:
    void verifyAllAgreeOn(int tempo);

    std::unique_ptr<WindowHarness> harness_;
};

void TempoControlTest::init() {
    harness_ = std::make_unique<WindowHarness>();
    harness_->open();
}

void TempoControlTest::cleanup() {
    harness_.reset();
}

void TempoControlTest::verifyAllAgreeOn(int tempo) {
    QCOMPARE(harness_->Slider1->value(), tempo);
    QCOMPARE(harness_->Text1->text(), QString::number(tempo));
    QCOMPARE(harness_->window->tickTimer().interval(), 60000.0 / tempo);
}

void TempoControlTest::enterTakesATypedTempoWithinItsLimits_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("tempo");
    QTest::newRow("90 is taken as it is") << "90" << 90;
    QTest::newRow("70 gives an interval that is no whole number") << "70" << 70;
    QTest::newRow("250 is held at 200") << "250" << 200;
    QTest::newRow("30 is held at 50") << "30" << 50;
    QTest::newRow("050 is 50") << "050" << 50;
    QTest::newRow("999 is held at 200") << "999" << 200;
    QTest::newRow("0 is held at 50") << "0" << 50;
    QTest::newRow("200 is the top") << "200" << 200;
}

void TempoControlTest::enterTakesATypedTempoWithinItsLimits() {
    QFETCH(QString, typed);
    QFETCH(int, tempo);
    clearTempoBox(harness_->Text1);
    QTest::keyClicks(harness_->Text1, typed);
    QCOMPARE(harness_->Text1->text(), typed);
    QTest::keyClick(harness_->Text1, Qt::Key_Return);
    verifyAllAgreeOn(tempo);
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
    QTest::newRow("a plus sign and a comma are dropped") << "+8,0"
                                                         << "80";
}

void TempoControlTest::keysThatAreNoDigitsAreDropped() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    clearTempoBox(harness_->Text1);
    QTest::keyClicks(harness_->Text1, typed);
    QCOMPARE(harness_->Text1->text(), shown);
    QGuiApplication::clipboard()->setText(QStringLiteral("7"));
    QTest::keyClick(harness_->Text1, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(harness_->Text1, Qt::Key_Escape);
    QCOMPARE(harness_->Text1->text(), shown);
}

void TempoControlTest::keysThatTypeNothingStillEditTheBox_data() {
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Left then a digit inserts before the last digit") << Qt::Key_Left << "192";
    QTest::newRow("Home then a digit inserts in front") << Qt::Key_Home << "912";
}

void TempoControlTest::keysThatTypeNothingStillEditTheBox() {
    QFETCH(Qt::Key, key);
    QFETCH(QString, shown);
    harness_->Text1->setFocus();
    QTest::keyClick(harness_->Text1, Qt::Key_End);
    QTest::keyClick(harness_->Text1, Qt::Key_Backspace);
    QCOMPARE(harness_->Text1->text(), QStringLiteral("12"));
    QTest::keyClick(harness_->Text1, key);
    QTest::keyClick(harness_->Text1, Qt::Key_9);
    QCOMPARE(harness_->Text1->text(), shown);
    QTest::keyClick(harness_->Text1, Qt::Key_Home);
    QTest::keyClick(harness_->Text1, Qt::Key_Delete);
    QCOMPARE(harness_->Text1->text(), shown.mid(1));
}

void TempoControlTest::editingTheBoxWithoutEnterChangesNothing() {
    harness_->awaitFirstTickAfter([&] { QTest::mouseClick(harness_->Command1, Qt::LeftButton); });
    clearTempoBox(harness_->Text1);
    QTest::keyClicks(harness_->Text1, QStringLiteral("90"));
    QTest::keyClick(harness_->Text1, Qt::Key_Tab);  // leaving the box commits nothing
    harness_->tick();
    harness_->tick();
    QCOMPARE(harness_->Slider1->value(), 120);
    QCOMPARE(harness_->window->tickTimer().interval(), 500.0);
    QCOMPARE(harness_->Text1->text(), QStringLiteral("90"));
    QCOMPARE(harness_->output.heard(), QStringLiteral("Ann"));
}

void TempoControlTest::enterOnWhatIsNoNumberKeepsTheTempo_data() {
    QTest::addColumn<QString>("pasted");
    QTest::newRow("an empty box") << "";
    QTest::newRow("pasted letters") << "abc";
    QTest::newRow("a pasted negative number") << "-90";
    QTest::newRow("a pasted decimal number") << "9.5";
    QTest::newRow("pasted blanks") << "   ";
}

void TempoControlTest::enterOnWhatIsNoNumberKeepsTheTempo() {
    QFETCH(QString, pasted);
    harness_->awaitFirstTickAfter([&] { QTest::mouseClick(harness_->Command1, Qt::LeftButton); });
    harness_->tick();
    clearTempoBox(harness_->Text1);
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(harness_->Text1, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(harness_->Text1->text(), pasted);
    QTest::keyClick(harness_->Text1, Qt::Key_Return);
    verifyAllAgreeOn(120);
    harness_->tick();
    QCOMPARE(harness_->output.heard(), QStringLiteral("Ann"));
}

void TempoControlTest::theSpinButtonStepsByFive_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("to");
    QTest::newRow("up at 120 gives 125") << 120 << true << 125;
    QTest::newRow("down at 120 gives 115") << 120 << false << 115;
    QTest::newRow("up at 198 is held at 200") << 198 << true << 200;
    QTest::newRow("up at 200 stays at 200") << 200 << true << 200;
    QTest::newRow("down at 52 is held at 50") << 52 << false << 50;
    QTest::newRow("down at 50 stays at 50") << 50 << false << 50;
}

void TempoControlTest::theSpinButtonStepsByFive() {
    QFETCH(int, from);
    QFETCH(bool, up);
    QFETCH(int, to);
    setTempo(*harness_, from);
    SpinButton* spin = harness_->SpinButton1;
    QTest::mouseClick(up ? spin->upArrow() : spin->downArrow(), Qt::LeftButton);
    verifyAllAgreeOn(to);
}

void TempoControlTest::theUpDownStepsByOneAndStopsAtTheEnds_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("to");
    QTest::newRow("up at 120 gives 121") << 120 << true << 121;
    QTest::newRow("down at 120 gives 119") << 120 << false << 119;
    QTest::newRow("up at 200 stays at 200") << 200 << true << 200;
    QTest::newRow("down at 50 stays at 50") << 50 << false << 50;
}

void TempoControlTest::theUpDownStepsByOneAndStopsAtTheEnds() {
    QFETCH(int, from);
    QFETCH(bool, up);
    QFETCH(int, to);
    setTempo(*harness_, from);
    UpDown* arrows = harness_->UpDown1;
    QTest::mouseClick(up ? arrows->upArrow() : arrows->downArrow(), Qt::LeftButton);
    verifyAllAgreeOn(to);
}

void TempoControlTest::theSlidersOwnKeysChangeTheTempo_data() {
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<int>("tempo");
    QTest::newRow("Right raises the tempo by 1") << Qt::Key_Right << 121;
    QTest::newRow("Left lowers it by 1") << Qt::Key_Left << 119;
    QTest::newRow("Page Up raises it by 10") << Qt::Key_PageUp << 130;
    QTest::newRow("Page Down lowers it by 10") << Qt::Key_PageDown << 110;
    QTest::newRow("Home goes to 50") << Qt::Key_Home << 50;
    QTest::newRow("End goes to 200") << Qt::Key_End << 200;
}

void TempoControlTest::theSlidersOwnKeysChangeTheTempo() {
    QFETCH(Qt::Key, key);
    QFETCH(int, tempo);
    harness_->Slider1->setFocus();
    QTest::keyClick(harness_->Slider1, key);
    verifyAllAgreeOn(tempo);
}

void TempoControlTest::draggingTheSliderChangesTheTempo() {
    QSlider* slider = harness_->Slider1;
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->value();
    option.sliderValue = slider->value();
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderHandle, slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, handle.center());
    QTest::mouseMove(slider, QPoint(slider->width() - 1, handle.center().y()));
    QTest::mouseRelease(slider, Qt::LeftButton, {},
                        QPoint(slider->width() - 1, handle.center().y()));
    verifyAllAgreeOn(200);
}

void TempoControlTest::aChangeWhileRunningIsHeardFromTheNextTickWithoutANewBar() {
    harness_->awaitFirstTickAfter([&] { QTest::mouseClick(harness_->Command1, Qt::LeftButton); });
    harness_->tick();
    QTest::mouseClick(harness_->SpinButton1->upArrow(), Qt::LeftButton);
    verifyAllAgreeOn(125);
    QVERIFY(harness_->window->tickTimer().isEnabled());
    harness_->tick();
    harness_->tick();
    harness_->tick();
    QCOMPARE(harness_->output.heard(), QStringLiteral("AnnnA"));
}

void TempoControlTest::enterWhileRunningRestartsTheBarWithTheAccent() {
    harness_->awaitFirstTickAfter([&] { QTest::mouseClick(harness_->Command1, Qt::LeftButton); });
    harness_->tick();
    clearTempoBox(harness_->Text1);
    QTest::keyClicks(harness_->Text1, QStringLiteral("150"));
    QTest::keyClick(harness_->Text1, Qt::Key_Enter, Qt::KeypadModifier);
    verifyAllAgreeOn(150);
    harness_->tick();
    harness_->tick();
    QCOMPARE(harness_->output.heard(), QStringLiteral("AnAn"));
}

}  // namespace vindelor

QTEST_MAIN(vindelor::TempoControlTest)
#include "tempo_control_test.moc"
