#include <QAccessible>
#include <QFontInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {

// The window as it stands right after creation, before its load sequence runs.
class Form1LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlStandsInItsPlace_data();
    void everyControlStandsInItsPlace();
    void theWindowHasItsCaptionSizeAndPlace();
    void theControlsShowTheirTextsInTheirFonts_data();
    void theControlsShowTheirTextsInTheirFonts();
    void theTempoBoxAndTheListAreTanWithNavyText_data();
    void theTempoBoxAndTheListAreTanWithNavyText();
    void theControlsHaveTheirStartingValues();
    void theListHasSixRowsWithNothingSelected();
    void tabVisitsTheControlsInOrderFromStart();
    void everyReachableControlIsNamedForScreenReaders_data();
    void everyReachableControlIsNamedForScreenReaders();
    void aFourthCharacterTypedIntoTheTempoBoxIsRefused();
};

void Form1LayoutTest::everyControlStandsInItsPlace_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::newRow("Command1 stands at 64, 260, 61 x 21") << "Command1" << QRect(64, 260, 61, 21);
    QTest::newRow("Command2 stands at 276, 260, 61 x 21") << "Command2" << QRect(276, 260, 61, 21);
    QTest::newRow("List1 stands at 280, 16, 41 x 116") << "List1" << QRect(280, 16, 41, 116);
    QTest::newRow("Slider1 stands at 172, 208, 145 x 34") << "Slider1" << QRect(172, 208, 145, 34);
    QTest::newRow("SpinButton1 stands at 212, 20, 25 x 101")
        << "SpinButton1" << QRect(212, 20, 25, 101);
    QTest::newRow("UpDown1 stands at 244, 128, 16 x 25") << "UpDown1" << QRect(244, 128, 16, 25);
    QTest::newRow("Text1 stands at 204, 128, 37 x 23") << "Text1" << QRect(204, 128, 37, 23);
}

void Form1LayoutTest::everyControlStandsInItsPlace() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    WindowHarness harness;
    harness.window->show();
    auto* control = harness.window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), place);
    QVERIFY(control->isVisible());
    QVERIFY(control->isEnabled());
}

void Form1LayoutTest::theWindowHasItsCaptionSizeAndPlace() {
    WindowHarness harness;
    QCOMPARE(harness.window->windowTitle(), QStringLiteral("              Vindelor"));
    QCOMPARE(harness.window->size(), QSize(344, 292));
    QCOMPARE(harness.window->minimumSize(), QSize(344, 292));
    QCOMPARE(harness.window->maximumSize(), QSize(344, 292));
    const QRect screen = harness.window->screen()->availableGeometry();
    const QPoint offCentre = harness.window->geometry().center() - screen.center();
    QVERIFY2(offCentre.manhattanLength() <= 2, "the window opens centred on the screen");
    QVERIFY(!harness.window->windowIcon().isNull());
}

void Form1LayoutTest::theControlsShowTheirTextsInTheirFonts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("the tempo box is in 13-pixel bold") << "Text1" << 13;
    QTest::newRow("the list is in 13-pixel bold") << "List1" << 13;
    QTest::newRow("Start is in 11-pixel bold") << "Command1" << 11;
    QTest::newRow("Avbryt is in 11-pixel bold") << "Command2" << 11;
}

void Form1LayoutTest::theControlsShowTheirTextsInTheirFonts() {
    QFETCH(QString, name);
    QFETCH(int, pixelSize);
    WindowHarness harness;
    const QFont font = harness.window->findChild<QWidget*>(name)->font();
    const QFontInfo shown(font);
    QCOMPARE(shown.pixelSize(), pixelSize);
    QVERIFY(shown.bold());
    QVERIFY(!shown.italic());
    QVERIFY(!shown.fixedPitch());
    QCOMPARE(font.styleHint(), QFont::SansSerif);
    QVERIFY(!font.underline());
    QVERIFY(!font.strikeOut());
}

void Form1LayoutTest::theTempoBoxAndTheListAreTanWithNavyText_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("the tempo box") << "Text1";
    QTest::newRow("the meter list") << "List1";
}

void Form1LayoutTest::theTempoBoxAndTheListAreTanWithNavyText() {
    QFETCH(QString, name);
    WindowHarness harness;
    harness.open();
    auto* control = harness.window->findChild<QWidget*>(name);
    QCOMPARE(control->palette().color(QPalette::Base), QColor(239, 214, 173));
    QCOMPARE(control->palette().color(QPalette::Text), QColor(0, 0, 128));
    // What is seen: a tan ground with navy letters on it.
    const QImage seen = control->grab().toImage();
    int tan = 0;
    int navy = 0;
    for (int y = 0; y < seen.height(); ++y) {
        for (int x = 0; x < seen.width(); ++x) {
            const QRgb pixel = seen.pixel(x, y);
            tan += pixel == qRgb(239, 214, 173);
            navy += pixel == qRgb(0, 0, 128);
        }
    }
    QVERIFY2(tan > seen.width() * seen.height() / 3, "mostly tan");
    QVERIFY2(navy > 10, "with navy text");
}

void Form1LayoutTest::theControlsHaveTheirStartingValues() {
    WindowHarness harness;
    QCOMPARE(harness.Command1->text(), QStringLiteral("&Start"));
    QCOMPARE(harness.Command2->text(), QStringLiteral("&Avbryt"));
    QCOMPARE(harness.Text1->text(), QStringLiteral("120"));
    QCOMPARE(harness.Slider1->orientation(), Qt::Horizontal);
    QCOMPARE(harness.Slider1->minimum(), 50);
    QCOMPARE(harness.Slider1->maximum(), 200);
    QCOMPARE(harness.Slider1->value(), 50);
    QVERIFY(harness.Slider1->tickPosition() != QSlider::NoTicks);
    QCOMPARE(harness.Text1->maxLength(), 3);
    QCOMPARE(harness.Text1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QVERIFY(!harness.window->tickTimer().isEnabled());
    QCOMPARE(harness.window->tickTimer().interval(), 0.0);
    QVERIFY(!harness.Command1->isDefault() && !harness.Command1->autoDefault());
    QVERIFY(!harness.Command2->isDefault() && !harness.Command2->autoDefault());
}

void Form1LayoutTest::theListHasSixRowsWithNothingSelected() {
    WindowHarness harness;
    harness.window->show();
    const QStringList rows = {"", "4 / 4", "", "3 / 4", "", "6 / 8"};
    QCOMPARE(harness.List1->count(), rows.size());
    for (int row = 0; row < rows.size(); ++row) {
        QCOMPARE(harness.List1->item(row)->text(), rows[row]);
        QCOMPARE(harness.List1->item(row)->data(Qt::UserRole), QVariant(0));
        // Every row is seen whole without scrolling.
        const QRect shown = harness.List1->visualItemRect(harness.List1->item(row));
        QVERIFY2(harness.List1->viewport()->rect().contains(shown),
                 qPrintable(QStringLiteral("row %1 fits").arg(row)));
    }
    QVERIFY(harness.List1->selectedItems().isEmpty());
    QCOMPARE(harness.List1->selectionMode(), QAbstractItemView::SingleSelection);
}

void Form1LayoutTest::tabVisitsTheControlsInOrderFromStart() {
    WindowHarness harness;
    harness.open();
    QCOMPARE(QApplication::focusWidget(), harness.Command1);
    const QList<QWidget*> order = {harness.List1,    harness.Text1,   harness.UpDown1,
                                   harness.Command2, harness.Slider1, harness.SpinButton1,
                                   harness.Command1};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void Form1LayoutTest::everyReachableControlIsNamedForScreenReaders_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("spoken");
    QTest::newRow("the slider is BPM") << "Slider1"
                                       << "BPM";
    QTest::newRow("the tempo box is BPM") << "Text1"
                                          << "BPM";
    QTest::newRow("the list is Takt") << "List1"
                                      << "Takt";
    QTest::newRow("the spin button is BPM in steps of 5") << "SpinButton1"
                                                          << "BPM i steg om 5";
    QTest::newRow("the up-down is BPM in steps of 1") << "UpDown1"
                                                      << "BPM i steg om 1";
    QTest::newRow("Start is read without its ampersand") << "Command1"
                                                         << "Start";
    QTest::newRow("Avbryt is read without its ampersand") << "Command2"
                                                          << "Avbryt";
}

void Form1LayoutTest::everyReachableControlIsNamedForScreenReaders() {
    QFETCH(QString, name);
    QFETCH(QString, spoken);
    WindowHarness harness;
    harness.window->show();
    QAccessibleInterface* control =
        QAccessible::queryAccessibleInterface(harness.window->findChild<QWidget*>(name));
    QVERIFY(control);
    QCOMPARE(control->text(QAccessible::Name), spoken);

    for (auto* arrows : std::initializer_list<ArrowPair*>{harness.SpinButton1, harness.UpDown1}) {
        for (QAbstractButton* arrow : {arrows->upArrow(), arrows->downArrow()}) {
            QVERIFY(QAccessible::queryAccessibleInterface(arrow)
                        ->text(QAccessible::Name)
                        .contains(QStringLiteral("BPM")));
        }
    }
}

void Form1LayoutTest::aFourthCharacterTypedIntoTheTempoBoxIsRefused() {
    WindowHarness harness;
    harness.open();
    harness.Text1->setFocus();
    harness.Text1->clear();
    QTest::keyClicks(harness.Text1, QStringLiteral("1234"));
    QCOMPARE(harness.Text1->text(), QStringLiteral("123"));
}

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1LayoutTest)
#include "form1_layout_test.moc"
