#include <QApplication>
#include <QFontInfo>

#include "tests/window/window_harness.h"

namespace vindelor {
namespace {

constexpr QRgb kTan = qRgb(239, 214, 173);
constexpr QRgb kNavy = qRgb(0, 0, 128);

// Points of `area` that do not show the background picture's top-left 76 × 117 block laid
// edge to edge from the window's corner.
int pointsOffTheTiles(const QImage& seen, const QRect& area) {
    static const QImage picture = vindelor::picture(kBackgroundPictureId).convertToFormat(QImage::Format_RGB32);
    int off = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            off += seen.pixel(x, y) != picture.pixel(x % 76, y % 117) ? 1 : 0;
        }
    }
    return off;
}

// The smallest rectangle around the navy points of `area`.
QRect navyIn(const QImage& seen, const QRect& area) {
    QRect navy;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            navy |= seen.pixel(x, y) == kNavy ? QRect(x, y, 1, 1) : QRect();
        }
    }
    return navy;
}

}  // namespace

// What the window shows once loaded: its controls, its texts and its background.
class Form1LookTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlHasItsPlaceAndFont_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("fontPixels");  // 0: shows no text
        QTest::addColumn<bool>("navyOnTan");
        QTest::newRow("the Start button") << "Command1" << QRect(64, 260, 61, 21) << 11 << false;
        QTest::newRow("the Avbryt button") << "Command2" << QRect(276, 260, 61, 21) << 11 << false;
        QTest::newRow("the meter list") << "List1" << QRect(280, 16, 41, 116) << 13 << true;
        QTest::newRow("the tempo box") << "Text1" << QRect(204, 128, 37, 23) << 13 << true;
        QTest::newRow("the slider") << "Slider1" << QRect(172, 208, 145, 34) << 0 << false;
        QTest::newRow("the spin button") << "SpinButton1" << QRect(212, 20, 25, 101) << 0 << false;
        QTest::newRow("the up-down arrows") << "UpDown1" << QRect(244, 128, 16, 25) << 0 << false;
    }

    void everyControlHasItsPlaceAndFont() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(int, fontPixels);
        QFETCH(bool, navyOnTan);
        WindowHarness h;
        QVERIFY(h.open());
        QWidget* control = h.window->findChild<QWidget*>(name);
        QCOMPARE(control->geometry(), place);
        QVERIFY(control->isVisible());
        if (fontPixels != 0) {
            QCOMPARE(QFontInfo(control->font()).pixelSize(), fontPixels);
            QVERIFY(QFontInfo(control->font()).bold());
            QCOMPARE(control->font().styleHint(), QFont::SansSerif);
        }
        if (navyOnTan) {
            const QImage seen = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const auto* first = reinterpret_cast<const QRgb*>(seen.constBits());
            const auto* last = first + seen.width() * seen.height();
            QVERIFY(std::count(first, last, kTan) > seen.width() * seen.height() / 2);
            QVERIFY(std::count(first, last, kNavy) > 10);
        }
    }

    // The captions are painted, not labels: they never take the focus.
    void theWindowOpensWithItsTextsLimitsAndTabOrder() {
        WindowHarness h;
        QVERIFY(h.open());
        QCOMPARE(h.window->windowTitle(), QStringLiteral("              Vindelor"));
        QCOMPARE(h.window->size(), QSize(344, 292));
        QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
        QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
        QCOMPARE(h.Command2->text(), QStringLiteral("&Avbryt"));
        QCOMPARE(h.Text1->maxLength(), 3);
        QCOMPARE(h.Slider1->minimum(), 50);
        QCOMPARE(h.Slider1->maximum(), 200);
        const QStringList rows = {"", "4 / 4", "", "3 / 4", "", "6 / 8"};
        QCOMPARE(h.List1->count(), rows.size());
        for (int row = 0; row < rows.size(); ++row) {
            QCOMPARE(h.List1->item(row)->text(), rows[row]);
            const QRect shown = h.List1->visualItemRect(h.List1->item(row));
            QVERIFY2(h.List1->viewport()->rect().contains(shown), "every row shows whole");
        }
        QCOMPARE(QApplication::focusWidget(), h.Command1);
        for (QWidget* next : QList<QWidget*>{h.List1, h.Text1, h.UpDown1, h.Command2, h.Slider1,
                                             h.SpinButton1, h.Command1}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    // Painted only where a repaint asks: a pressed button repaints the window behind it.
    void theMetronomeAndTheCaptionsStandOnTheTilesInAWholeOrPartialRepaint() {
        WindowHarness h;
        QVERIFY(h.open());
        const QImage seen = h.window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // Open ground: left of the metronome, and between the slider and the buttons.
        QCOMPARE(pointsOffTheTiles(seen, QRect(0, 0, 32, 292)), 0);
        QCOMPARE(pointsOffTheTiles(seen, QRect(0, 243, 344, 17)), 0);
        // The metronome at (32, 4), the tiles showing through where it is clear, and the
        // slider over its lower right corner.
        const QImage metronome = picture(kMetronomePictureId);
        int off = 0;
        for (int y = 0; y < metronome.height(); ++y) {
            for (int x = 0; x < metronome.width(); ++x) {
                const QRgb shown = metronome.pixel(x, y);
                if (h.window->childAt(32 + x, 4 + y) != nullptr) {
                    continue;
                }
                off += qAlpha(shown) == 255 ? seen.pixel(32 + x, 4 + y) != (shown | 0xff000000u)
                                            : qAlpha(shown) == 0 && pointsOffTheTiles(seen, QRect(32 + x, 4 + y, 1, 1));
            }
        }
        QCOMPARE(off, 0);
        // Areas away from the corner, the foot of the metronome, and each edge of the captions.
        QList<QRect> areas = {QRect(180, 160, 164, 132), QRect(20, 220, 120, 40)};
        // "BPM" and "Takt" in navy, centred in their places, with no box around them.
        for (const QRect caption : {QRect(208, 0, 37, 16), QRect(280, 0, 37, 16)}) {
            const QRect navy = navyIn(seen, caption);
            QVERIFY2(navy.width() > 10, "written in navy");
            QVERIFY2(std::abs(navy.center().x() - caption.center().x()) <= 2, "centred");
            QCOMPARE(pointsOffTheTiles(seen, QRect(caption.topLeft(), QSize(1, 1))), 0);
            QCOMPARE(pointsOffTheTiles(seen, QRect(caption.bottomRight(), QSize(1, 1))), 0);
            areas << QRect(navy.topLeft(), QSize(1, navy.height()))
                  << QRect(navy.topLeft(), QSize(navy.width(), 1))
                  << QRect(navy.topRight(), QSize(1, navy.height()))
                  << QRect(navy.bottomLeft(), QSize(navy.width(), 1));
        }
        // A repaint of an area alone draws there what the whole window shows.
        for (const QRect area : areas) {
            QImage drawn(area.size(), QImage::Format_RGB32);
            h.window->render(&drawn, {}, QRegion(area));
            QCOMPARE(drawn, seen.copy(area));
        }
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1LookTest)
#include "form1_look_test.moc"
