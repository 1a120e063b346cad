#include <QLabel>
#include <QPainter>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/tiled_background.h"

namespace vindelor {
namespace {

constexpr QRgb kUntouched = qRgb(255, 0, 255);

// Where the window's own surface shows: not under a control, the metronome or a caption.
bool isOpenGround(const Form1& window, QPoint point) {
    for (const QRect covered :
         {QRect(32, 4, 144, 239), QRect(208, 0, 37, 16), QRect(280, 0, 37, 16)}) {
        if (covered.contains(point)) {
            return false;
        }
    }
    for (const QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->geometry().contains(point)) {
            return false;
        }
    }
    return true;
}

// Points of `area` that do not show the background's corner block repeated from the origin.
int pointsOffTheTiles(const QImage& seen, const QRect& area, const Form1* window = nullptr) {
    const QImage picture = testBackground();
    int off = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!window || isOpenGround(*window, {x, y})) {
                off += seen.pixel(x, y) != picture.pixel(x % 76, y % 117);
            }
        }
    }
    return off;
}

}  // namespace

// The background: the picture's top-left 76 x 117 block, edge to edge from (0, 0).
class TiledBackgroundTest : public QObject {
    Q_OBJECT

  private slots:
    void tilesRepeatTheCornerBlockFromTheOrigin_data();
    void tilesRepeatTheCornerBlockFromTheOrigin();
    void theWindowShowsTheTilesWithTheMetronomeAndCaptionsOverThem();
    void aPartialExposureAwayFromTheCornerGetsTheSameTiles();
};

void TiledBackgroundTest::tilesRepeatTheCornerBlockFromTheOrigin_data() {
    QTest::addColumn<QSize>("area");
    QTest::newRow("an area smaller than a tile shows the corner only") << QSize(50, 60);
    QTest::newRow("160 x 118 has tiles at x 0, 76, 152 and y 0, 117") << QSize(160, 118);
    QTest::newRow("344 x 292 has tiles at x 0 to 304 and y 0 to 234") << QSize(344, 292);
}

void TiledBackgroundTest::tilesRepeatTheCornerBlockFromTheOrigin() {
    QFETCH(QSize, area);
    QImage seen(area, QImage::Format_RGB32);
    seen.fill(kUntouched);
    QPainter painter(&seen);
    TiledBackground(testBackground()).paint(painter, seen.rect());
    painter.end();
    QCOMPARE(pointsOffTheTiles(seen, seen.rect()), 0);
}

void TiledBackgroundTest::theWindowShowsTheTilesWithTheMetronomeAndCaptionsOverThem() {
    WindowHarness h;
    h.open();
    const QImage seen = h.window->grab().toImage();
    QCOMPARE(seen.size(), QSize(344, 292));
    QCOMPARE(pointsOffTheTiles(seen, seen.rect(), h.window), 0);

    // The metronome at (32, 4): opaque on its left half, the tiles through its right half.
    QCOMPARE(seen.pixel(32, 4), kMetronomeRed);
    QCOMPARE(seen.pixel(32 + 71, 4 + 238), kMetronomeRed);
    QCOMPARE(pointsOffTheTiles(seen, QRect(32 + 72, 4, 68, 239)), 0);  // left of Slider1

    // "BPM" and "Takt" in navy, centred over their controls, straight on the tiles.
    for (const QRect caption : {QRect(208, 0, 37, 16), QRect(280, 0, 37, 16)}) {
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

void TiledBackgroundTest::aPartialExposureAwayFromTheCornerGetsTheSameTiles() {
    WindowHarness h;
    h.open();
    QImage seen(344, 292, QImage::Format_RGB32);
    seen.fill(kUntouched);
    const QRect exposed(180, 150, 164, 142);
    h.window->render(&seen, exposed.topLeft(), QRegion(exposed));
    QCOMPARE(pointsOffTheTiles(seen, exposed, h.window), 0);
    QCOMPARE(seen.pixel(5, 5), kUntouched);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::TiledBackgroundTest)
#include "tiled_background_test.moc"
