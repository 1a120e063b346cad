#include <QLabel>
#include <QTest>

#include "tests/window/window_harness.h"

namespace vindelor {
namespace {

constexpr QRgb kUntouched = qRgb(255, 0, 255);
constexpr QRect kCaptions[] = {QRect(208, 0, 37, 16), QRect(280, 0, 37, 16)};

// Points of `area` on the window's open ground (not under a control, the metronome or a
// caption) that do not show the picture's top-left 76 x 117 block repeated from (0, 0): tiles
// at x = 0, 76, 152, 228, 304 and y = 0, 117, 234.
int pointsOffTheTiles(const QImage& seen, const QRect& area, const Form1& window) {
    const QImage picture = testBackground();
    int off = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            bool open = !QRect(32, 4, 144, 239).contains(x, y) && !kCaptions[0].contains(x, y) &&
                        !kCaptions[1].contains(x, y);
            for (const QWidget* control :
                 window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                open = open && !control->geometry().contains(x, y);
            }
            off += open && seen.pixel(x, y) != picture.pixel(x % 76, y % 117) ? 1 : 0;
        }
    }
    return off;
}

}  // namespace

class TiledBackgroundTest : public QObject {
    Q_OBJECT

  private slots:
    void theWindowShowsTheTilesWithTheMetronomeAndCaptionsOverThem() {
        WindowHarness h;
        h.open();
        const QImage seen = h.window->grab().toImage();
        QCOMPARE(seen.size(), QSize(344, 292));
        QCOMPARE(pointsOffTheTiles(seen, seen.rect(), *h.window), 0);
        // The metronome at (32, 4): opaque on its left half, the tiles through its right half.
        QCOMPARE(seen.pixel(32, 4), kMetronomeRed);
        QCOMPARE(seen.pixel(32 + 71, 4 + 238), kMetronomeRed);
        const QImage picture = testBackground();
        for (int y = 4; y < 4 + 239; ++y) {
            for (int x = 32 + 72; x < 32 + 140; ++x) {  // left of Slider1
                QCOMPARE(seen.pixel(x, y), picture.pixel(x % 76, y % 117));
            }
        }
        // "BPM" and "Takt" in navy, centred over their controls, straight on the tiles.
        for (const QRect caption : kCaptions) {
            int left = caption.right();
            int right = caption.left();
            for (int y = caption.top(); y <= caption.bottom(); ++y) {
                for (int x = caption.left(); x <= caption.right(); ++x) {
                    if (seen.pixel(x, y) == qRgb(0, 0, 128)) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
                }
            }
            QVERIFY2(left < right, "written in navy");
            QVERIFY2(std::abs((left + right + 1) / 2 - caption.center().x()) <= 2, "centred");
        }
        QVERIFY2(h.window->findChildren<QLabel*>().isEmpty(), "no windows of their own");
    }

    void aPartialExposureAwayFromTheCornerGetsTheSameTiles() {
        WindowHarness h;
        h.open();
        QImage seen(344, 292, QImage::Format_RGB32);
        seen.fill(kUntouched);
        const QRect exposed(180, 150, 164, 142);
        h.window->render(&seen, exposed.topLeft(), QRegion(exposed));
        QCOMPARE(pointsOffTheTiles(seen, exposed, *h.window), 0);
        QCOMPARE(seen.pixel(5, 5), kUntouched);
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::TiledBackgroundTest)
#include "tiled_background_test.moc"
