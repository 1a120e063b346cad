#include <QAccessible>
#include <QApplication>
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
    void everyControlStandsInItsPlaceWithItsLook_data();
    void everyControlStandsInItsPlaceWithItsLook();
    void theWindowOpensWithItsStartingValues();
    void tabVisitsTheControlsInOrderFromStart();
    void everyReachableControlIsNamedForScreenReaders_data();
    void everyReachableControlIsNamedForScreenReaders();
};

void Form1LayoutTest::everyControlStandsInItsPlaceWithItsLook_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<int>("fontPixels");  // 0: shows no text
    QTest::addColumn<bool>("tanAndNavy");
    QTest::newRow("Command1 at 64, 260, 61 x 21 in 11-pixel bold")
        << "Command1" << QRect(64, 260, 61, 21) << 11 << false;
    QTest::newRow("Command2 at 276, 260, 61 x 21 in 11-pixel bold")
        << "Command2" << QRect(276, 260, 61, 21) << 11 << false;
    QTest::newRow("List1 at 280, 16, 41 x 116 in 13-pixel bold, tan and navy")
        << "List1" << QRect(280, 16, 41, 116) << 13 << true;
    QTest::newRow("Text1 at 204, 128, 37 x 23 in 13-pixel bold, tan and navy")
        << "Text1" << QRect(204, 128, 37, 23) << 13 << true;
    QTest::newRow("Slider1 at 172, 208, 145 x 34")
        << "Slider1" << QRect(172, 208, 145, 34) << 0 << false;
    QTest::newRow("SpinButton1 at 212, 20, 25 x 101")
        << "SpinButton1" << QRect(212, 20, 25, 101) << 0 << false;
    QTest::newRow("UpDown1 at 244, 128, 16 x 25")
        << "UpDown1" << QRect(244, 128, 16, 25) << 0 << false;
}

void Form1LayoutTest::everyControlStandsInItsPlaceWithItsLook() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(int, fontPixels);
    QFETCH(bool, tanAndNavy);
    WindowHarness h;
    h.window->show();
    QWidget* control = h.window->findChild<QWidget*>(name);
    QCOMPARE(control->geometry(), place);
    QVERIFY(control->isVisible() && control->isEnabled());
    if (fontPixels != 0) {
        const QFontInfo font(control->font());
        QCOMPARE(font.pixelSize(), fontPixels);
        QVERIFY(font.bold() && !font.italic() && !font.fixedPitch());
        QCOMPARE(control->font().styleHint(), QFont::SansSerif);
    }
    if (tanAndNavy) {
        const QImage seen = control->grab().toImage();
        int tan = 0;
        int navy = 0;
        for (int y = 0; y < seen.height(); ++y) {
            for (int x = 0; x < seen.width(); ++x) {
                tan += seen.pixel(x, y) == qRgb(239, 214, 173);
                navy += seen.pixel(x, y) == qRgb(0, 0, 128);
            }
        }
        QVERIFY2(tan > seen.width() * seen.height() / 3 && navy > 10, "navy text on tan");
    }
}

void Form1LayoutTest::theWindowOpensWithItsStartingValues() {
    WindowHarness h;
    QCOMPARE(h.window->windowTitle(), QStringLiteral("              Vindelor"));
    QCOMPARE(h.window->size(), QSize(344, 292));
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
    const QPoint offCentre =
        h.window->geometry().center() - h.window->screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 2, "centred on the screen");
    QVERIFY(!h.window->windowIcon().isNull());

    QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
    QCOMPARE(h.Command2->text(), QStringLiteral("&Avbryt"));
    QVERIFY(!h.Command1->autoDefault() && !h.Command2->autoDefault());
    QCOMPARE(h.Text1->text(), QStringLiteral("120"));
    QCOMPARE(h.Text1->maxLength(), 3);
    QCOMPARE(h.Text1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(h.Slider1->value(), 50);
    QCOMPARE(h.Slider1->minimum(), 50);
    QCOMPARE(h.Slider1->maximum(), 200);
    QVERIFY(h.Slider1->tickPosition() != QSlider::NoTicks);
    QVERIFY(!h.window->tickTimer().isEnabled());
    QCOMPARE(h.window->tickTimer().interval(), 0.0);

    h.window->show();
    const QStringList rows = {"", "4 / 4", "", "3 / 4", "", "6 / 8"};
    QCOMPARE(h.List1->count(), rows.size());
    for (int row = 0; row < rows.size(); ++row) {
        QListWidgetItem* item = h.List1->item(row);
        QCOMPARE(item->text(), rows[row]);
        QCOMPARE(item->data(Qt::UserRole), QVariant(0));
        QVERIFY2(h.List1->viewport()->rect().contains(h.List1->visualItemRect(item)),
                 "every row shows whole");
    }
    QVERIFY(h.List1->selectedItems().isEmpty());
    QCOMPARE(h.List1->selectionMode(), QAbstractItemView::SingleSelection);
}

void Form1LayoutTest::tabVisitsTheControlsInOrderFromStart() {
    WindowHarness h;
    h.open();
    QCOMPARE(QApplication::focusWidget(), h.Command1);
    for (QWidget* next : QList<QWidget*>{h.List1, h.Text1, h.UpDown1, h.Command2, h.Slider1,
                                         h.SpinButton1, h.Command1}) {
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
    WindowHarness h;
    h.window->show();
    const auto spokenName = [](QObject* control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    QCOMPARE(spokenName(h.window->findChild<QWidget*>(name)), spoken);
    if (auto* arrows = h.window->findChild<ArrowPair*>(name)) {
        QVERIFY(spokenName(arrows->upArrow()).startsWith(QStringLiteral("Öka BPM")));
        QVERIFY(spokenName(arrows->downArrow()).startsWith(QStringLiteral("Minska BPM")));
    }
}

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1LayoutTest)
#include "form1_layout_test.moc"
