#include <QLabel>
#include <QPainter>
#include <QTest>

#include "tests/window/window_harness.h"
#include "window/tiled_background.h"

namespace vindelor {
namespace {

constexpr QRgb kUntouched = qRgb(255, 0, 255);

// Where the window's own surface shows: not under a control, Image1 or a caption.
bool isOpenGround(const Form1& window, QPoint point) {
    if (QRect(32, 4, 144, 239).contains(point) || QRect(208, 0, 37, 16).contains(point) ||
        QRect(280, 0, 37, 16).contains(point)) {
        return false;
    }
    for (const QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->geometry().contains(point)) {
            return false;
        }
    }
    return true;
}

// Points of `seen` inside `area` that do not show the background's corner block repeated
// from the origin.
int pointsOffTheTiles(const QImage& seen, const QRect& area, const Form1* window = nullptr) {
    const QImage picture = testBackground();
    int off = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (window && !isOpenGround(*window, {x, y})) {
                continue;
            }
            off += seen.pixel(x, y) != picture.pixel(x % 76, y % 117);
        }
    }
    return off;
}

}  // namespace

// The window's background: the picture's top-left 76 x 117 block, edge to edge from (0, 0).
class TiledBackgroundTest : public QObject {
    Q_OBJECT

  private slots:
    void tilesRepeatTheCornerBlockFromTheOrigin_data();
    void tilesRepeatTheCornerBlockFromTheOrigin();
    void aRepaintOfPartOfTheAreaDrawsTheSameTiles();
    void theWindowShowsTheTilesWithTheMetronomeAndCaptionsOverThem();
    void aPartialExposureOfTheWindowFillsItWithTheSameTiles();
};

void TiledBackgroundTest::tilesRepeatTheCornerBlockFromTheOrigin_data() {
    QTest::addColumn<QSize>("area");
    QTest::newRow("an area smaller than a tile shows the corner only") << QSize(50, 60);
    QTest::newRow("160 x 118 has tiles at x 0, 76, 152 and y 0, 117") << QSize(160, 118);
    QTest::newRow("the window's 344 x 292 has five columns and three rows") << QSize(344, 292);
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

void TiledBackgroundTest::aRepaintOfPartOfTheAreaDrawsTheSameTiles() {
    QImage seen(344, 292, QImage::Format_RGB32);
    seen.fill(kUntouched);
    const QRect strip(90, 100, 200, 50);  // away from the corner, across tile edges
    QPainter painter(&seen);
    painter.setClipRect(strip);
    TiledBackground(testBackground()).paint(painter, seen.rect());
    painter.end();
    QCOMPARE(pointsOffTheTiles(seen, strip), 0);
    QCOMPARE(seen.pixel(0, 0), kUntouched);
    QCOMPARE(seen.pixel(300, 200), kUntouched);
}

void TiledBackgroundTest::theWindowShowsTheTilesWithTheMetronomeAndCaptionsOverThem() {
    WindowHarness harness;
    harness.open();
    const QImage seen = harness.grab();
    QCOMPARE(seen.size(), QSize(344, 292));
    QCOMPARE(pointsOffTheTiles(seen, seen.rect(), harness.window), 0);

    // The metronome's picture, at (32, 4), opaque on its left half and see-through on its right.
    const QImage picture = testBackground();
    for (const QPoint inPicture : {QPoint(0, 0), QPoint(71, 238), QPoint(40, 100)}) {
        QCOMPARE(seen.pixel(inPicture + QPoint(32, 4)), qRgb(200, 30, 30));
    }
    for (const QPoint inPicture : {QPoint(72, 0), QPoint(143, 238), QPoint(100, 50)}) {
        const QPoint onWindow = inPicture + QPoint(32, 4);
        QCOMPARE(seen.pixel(onWindow), picture.pixel(onWindow.x() % 76, onWindow.y() % 117));
    }

    // "BPM" and "Takt" in navy, centred over their controls, straight on the tiles.
    for (const QRect& caption : {QRect(208, 0, 37, 16), QRect(280, 0, 37, 16)}) {
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
        QVERIFY2(left < right, "the caption is written in navy");
        const int centre = (left + right + 1) / 2;
        QVERIFY2(
            std::abs(centre - caption.center().x()) <= 2,
            qPrintable(
                QStringLiteral("centred: %1 against %2").arg(centre).arg(caption.center().x())));
    }
    QVERIFY2(harness.window->findChildren<QLabel*>().isEmpty(),
             "the captions are drawn on the window, not widgets of their own");
}

void TiledBackgroundTest::aPartialExposureOfTheWindowFillsItWithTheSameTiles() {
    WindowHarness harness;
    harness.open();
    QImage seen(344, 292, QImage::Format_RGB32);
    seen.fill(kUntouched);
    const QRect exposed(180, 150, 164, 142);  // the lower right, far from the corner
    harness.window->render(&seen, exposed.topLeft(), QRegion(exposed));
    QCOMPARE(pointsOffTheTiles(seen, exposed, harness.window), 0);
    QCOMPARE(seen.pixel(5, 5), kUntouched);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::TiledBackgroundTest)
#include "tiled_background_test.moc"
