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

    void anExposureOfAnyPointOfTheCaptionsOrTheMetronomeRedrawsIt() {
        WindowHarness h;
        h.open();
        const QImage whole = h.window->grab().toImage();
        // The outermost navy points of the captions, wherever their letters reach, and points
        // of the metronome: each exposed alone must come back as the whole window shows it.
        QList<QPoint> points{QPoint(32, 4), QPoint(100, 120), QPoint(175, 242)};
        QPoint left(344, 0), right(-1, 0), top(0, 292), bottom(0, -1);
        for (int y = 0; y < 40; ++y) {
            for (int x = 180; x < 344; ++x) {
                if (whole.pixel(x, y) == qRgb(0, 0, 128)) {
                    left = x < left.x() ? QPoint(x, y) : left;
                    right = x > right.x() ? QPoint(x, y) : right;
                    top = y < top.y() ? QPoint(x, y) : top;
                    bottom = y > bottom.y() ? QPoint(x, y) : bottom;
                }
            }
        }
        QVERIFY2(right.x() >= 0, "the captions are there");
        points << left << right << top << bottom;
        for (const QPoint point : points) {
            QImage seen(344, 292, QImage::Format_RGB32);
            seen.fill(kUntouched);
            h.window->render(&seen, point, QRegion(QRect(point, QSize(1, 1))));
            QCOMPARE(seen.pixel(point), whole.pixel(point));
        }
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::TiledBackgroundTest)
#include "tiled_background_test.moc"
