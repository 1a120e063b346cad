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

namespace vindelor {

// The window as it stands right after creation, before its load sequence runs.
class Form1LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlStandsInItsPlaceWithItsLookAndName_data() {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("fontPixels");  // 0: shows no text
        QTest::addColumn<bool>("tanAndNavy");
        QTest::addColumn<QString>("spoken");  // by a screen reader, without the ampersand
        QTest::newRow("Command1") << QRect(64, 260, 61, 21) << 11 << false << "Start";
        QTest::newRow("Command2") << QRect(276, 260, 61, 21) << 11 << false << "Avbryt";
        QTest::newRow("List1") << QRect(280, 16, 41, 116) << 13 << true << "Takt";
        QTest::newRow("Text1") << QRect(204, 128, 37, 23) << 13 << true << "BPM";
        QTest::newRow("Slider1") << QRect(172, 208, 145, 34) << 0 << false << "BPM";
        QTest::newRow("SpinButton1") << QRect(212, 20, 25, 101) << 0 << false << "BPM i steg om 5";
        QTest::newRow("UpDown1") << QRect(244, 128, 16, 25) << 0 << false << "BPM i steg om 1";
    }

    void everyControlStandsInItsPlaceWithItsLookAndName() {
        QFETCH(QRect, place);
        QFETCH(int, fontPixels);
        QFETCH(bool, tanAndNavy);
        QFETCH(QString, spoken);
        WindowHarness h;
        h.window->show();
        QWidget* control = h.window->findChild<QWidget*>(QTest::currentDataTag());
        QCOMPARE(control->geometry(), place);
        QVERIFY(control->isVisible() && control->isEnabled());
        if (fontPixels != 0) {
            const QFontInfo font(control->font());
            QCOMPARE(font.pixelSize(), fontPixels);
            QVERIFY(font.bold() && !font.italic() && !font.fixedPitch());
            QCOMPARE(control->font().styleHint(), QFont::SansSerif);
        }
        if (tanAndNavy) {
            const QImage seen = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const auto* first = reinterpret_cast<const QRgb*>(seen.constBits());
            const auto* last = first + seen.width() * seen.height();
            const auto tan = std::count(first, last, qRgb(239, 214, 173));
            const auto navy = std::count(first, last, qRgb(0, 0, 128));
            QVERIFY2(tan > seen.width() * seen.height() / 3 && navy > 10, "navy text on tan");
        }
        const auto spokenName = [](QObject* object) {
            return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
        };
        QCOMPARE(spokenName(control), spoken);
        if (auto* arrows = qobject_cast<ArrowPair*>(control)) {
            QVERIFY(spokenName(arrows->upArrow()).startsWith(QStringLiteral("Öka BPM")));
            QVERIFY(spokenName(arrows->downArrow()).startsWith(QStringLiteral("Minska BPM")));
        }
    }

    void theWindowOpensWithItsStartingValues() {
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

        h.window->show();
        const QStringList rows = {"", "4 / 4", "", "3 / 4", "", "6 / 8"};
        QCOMPARE(h.List1->count(), rows.size());
        for (int row = 0; row < rows.size(); ++row) {
            QListWidgetItem* item = h.List1->item(row);
            QCOMPARE(item->text(), rows[row]);
            QVERIFY2(h.List1->viewport()->rect().contains(h.List1->visualItemRect(item)),
                     "every row shows whole");
        }
        QVERIFY(h.List1->selectedItems().isEmpty());
        QCOMPARE(h.List1->selectionMode(), QAbstractItemView::SingleSelection);
    }

    void tabVisitsTheControlsInOrderFromStart() {
        WindowHarness h;
        h.open();
        QCOMPARE(QApplication::focusWidget(), h.Command1);
        for (QWidget* next : QList<QWidget*>{h.List1, h.Text1, h.UpDown1, h.Command2, h.Slider1,
                                             h.SpinButton1, h.Command1}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1LayoutTest)
#include "form1_layout_test.moc"
