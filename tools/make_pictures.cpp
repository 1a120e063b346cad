// Draws the program's three pictures and its application icon, and writes them into the folder
// given as the only argument:
//   background.bmp  77 × 127, 24-bit: faint parchment with staves and notes; the window tiles its
//                   top-left 76 × 117 block, so that block repeats seamlessly both ways
//   metronome.gif   144 × 239, 255 colours and a transparent index: a wooden clockwork metronome
//   vindelor.ico    32 × 32, 16 colours: beamed eighth notes on a staff, over tan
//   vindelor.png    the same icon at 256 × 256, for the desktop's application menu
//   vindelor-N.png  the same at N × N, N = 16, 22, 24, 32, 48, 64 and 128: the sizes a desktop
//                   asks for, each drawn afresh at its size rather than scaled down from 256
//
// Drawing is done with QPainter; the BMP, GIF and ICO are written by our own encoders so that
// every header field is exactly as the program expects. The output is the same on every run.
//
//   make_pictures <folder>

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "tools/byte_writer.h"
#include "tools/gif_encoder.h"
#include "tools/median_cut.h"
#include "tools/rgb.h"
#include "tools/windows_bitmaps.h"

namespace vindelor {
namespace {

constexpr double kPi = std::numbers::pi;

// A small deterministic hash of a pixel position, in [0, 1).
double grainNoise(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / static_cast<double>(0x1000000);
}

int clampChannel(double value) {
    return std::clamp(static_cast<int>(std::lround(value)), 0, 255);
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor(clampChannel(a.red() + (b.red() - a.red()) * t),
                  clampChannel(a.green() + (b.green() - a.green()) * t),
                  clampChannel(a.blue() + (b.blue() - a.blue()) * t));
}

// ---------------------------------------------------------------------------------------------
// The background: parchment with two staves of faded notes.

constexpr int kTileWidth = 76;
constexpr int kTileHeight = 117;
constexpr int kBackgroundWidth = 77;
constexpr int kBackgroundHeight = 127;

// The colour the metronome's edges are blended into: the parchment's average.
const QColor kParchment(241, 227, 198);

// The parchment: a light tan, mottled by a few soft waves that fit the tile a whole number of
// times (so the mottling runs on across tile edges), with a fine fibre grain.
QColor parchmentAt(int x, int y) {
    struct Wave {
        int acrossX;
        int acrossY;
        double phase;
        double depth;
    };
    constexpr std::array kWaves{Wave{1, 1, 0.4, 2.2}, Wave{2, -1, 2.1, 1.7}, Wave{0, 2, 4.0, 1.4},
                                Wave{3, 2, 1.3, 1.1}, Wave{1, -3, 5.2, 1.0}};
    double shade = 0.0;
    for (const Wave& w : kWaves) {
        shade += w.depth * std::cos(2.0 * kPi *
                                        (w.acrossX * x / static_cast<double>(kTileWidth) +
                                         w.acrossY * y / static_cast<double>(kTileHeight)) +
                                    w.phase);
    }
    // Fibres run along the rows: a noise that changes slowly along x and fast along y.
    const double fibre = grainNoise(x / 3, y, 7) * 0.6 + grainNoise((x + 1) / 3, y, 7) * 0.4;
    shade += (grainNoise(x, y, 3) - 0.5) * 2.2 + (fibre - 0.5) * 2.6;
    return QColor(clampChannel(kParchment.red() + shade),
                  clampChannel(kParchment.green() + shade * 1.1),
                  clampChannel(kParchment.blue() + shade * 1.35));
}

constexpr double kStaffSpacing = 5.0;
constexpr std::array kStaffTops{12.0, 70.0};

double staffLine(int staff, double step) {
    return kStaffTops[staff] + step * kStaffSpacing / 2;
}

// A note head on the staff, its centre `step` half-spaces below the top line.
void drawNoteHead(QPainter& p, double x, double y, bool filled) {
    QPainterPath head;
    head.addEllipse(QPointF(0, 0), 3.1, 2.2);
    QTransform place;
    place.translate(x, y);
    place.rotate(-22);
    if (filled) {
        p.fillPath(place.map(head), p.pen().color());
    } else {
        QPainterPath ring = head.subtracted([] {
            QPainterPath hole;
            hole.addEllipse(QPointF(0, 0), 2.3, 1.0);
            return hole;
        }());
        p.fillPath(place.map(ring), p.pen().color());
    }
}

void drawBackgroundMotifs(QPainter& p) {
    const QColor ink(122, 92, 58, 78);
    const QColor lineInk(122, 92, 58, 62);
    p.setRenderHint(QPainter::Antialiasing, true);

    for (int staff = 0; staff < 2; ++staff) {
        for (int line = 0; line < 5; ++line) {
            const double y = staffLine(staff, line * 2) + 0.5;
            p.setPen(QPen(lineInk, 0.9));
            p.drawLine(QPointF(-1, y), QPointF(kTileWidth + 1, y));
        }
    }

    p.setPen(QPen(ink, 1.0));
    const double stemLength = 3.4 * kStaffSpacing;
    auto stemUp = [&](double x, double y) {
        p.drawLine(QPointF(x + 2.7, y - 0.5), QPointF(x + 2.7, y - stemLength));
    };
    auto stemDown = [&](double x, double y) {
        p.drawLine(QPointF(x - 2.7, y + 0.5), QPointF(x - 2.7, y + stemLength));
    };

    // Upper staff: a quarter note, a beamed pair, a half note and a bar line.
    {
        const int s = 0;
        double y = staffLine(s, 5) + 0.5;
        drawNoteHead(p, 8, y, true);
        stemUp(8, y);

        const double y1 = staffLine(s, 4) + 0.5;
        const double y2 = staffLine(s, 2) + 0.5;
        drawNoteHead(p, 22, y1, true);
        drawNoteHead(p, 33, y2, true);
        stemUp(22, y1);
        stemUp(33, y2);
        QPolygonF beam;
        beam << QPointF(24.7, y1 - stemLength) << QPointF(35.7, y2 - stemLength)
             << QPointF(35.7, y2 - stemLength + 2.2) << QPointF(24.7, y1 - stemLength + 2.2);
        p.setBrush(ink);
        p.drawPolygon(beam);
        p.setBrush(Qt::NoBrush);

        y = staffLine(s, 3) + 0.5;
        drawNoteHead(p, 50, y, false);
        stemUp(50, y);

        p.drawLine(QPointF(64.5, staffLine(s, 0) + 0.5), QPointF(64.5, staffLine(s, 8) + 0.5));
    }

    // Lower staff, offset by half a tile so the two do not line up: stems down, a dotted note.
    {
        const int s = 1;
        double y = staffLine(s, 1) + 0.5;
        drawNoteHead(p, 44, y, true);
        stemDown(44, y);

        y = staffLine(s, 3) + 0.5;
        drawNoteHead(p, 57, y, true);
        stemDown(57, y);
        p.setBrush(ink);
        p.drawEllipse(QPointF(61.5, y - 1.2), 0.9, 0.9);
        p.setBrush(Qt::NoBrush);

        const double y1 = staffLine(s, 6) + 0.5;
        const double y2 = staffLine(s, 5) + 0.5;
        drawNoteHead(p, 72, y1, true);
        drawNoteHead(p, 84, y2, true);  // past the edge: it wraps to the tile's left
        stemUp(72, y1);
        stemUp(84, y2);
        QPolygonF beam;
        beam << QPointF(74.7, y1 - stemLength) << QPointF(86.7, y2 - stemLength)
             << QPointF(86.7, y2 - stemLength + 2.2) << QPointF(74.7, y1 - stemLength + 2.2);
        p.setBrush(ink);
        p.drawPolygon(beam);
        p.setBrush(Qt::NoBrush);

        p.drawLine(QPointF(28.5, staffLine(s, 0) + 0.5), QPointF(28.5, staffLine(s, 8) + 0.5));
    }
}

// One tile, 76 × 117, that repeats seamlessly: everything is drawn at the tile's neighbouring
// offsets too, so a shape crossing an edge comes back in at the opposite one.
QImage backgroundTile() {
    QImage tile(kTileWidth, kTileHeight, QImage::Format_RGB32);
    for (int y = 0; y < kTileHeight; ++y) {
        for (int x = 0; x < kTileWidth; ++x) {
            tile.setPixelColor(x, y, parchmentAt(x, y));
        }
    }
    QPainter p(&tile);
    for (int dy : {-kTileHeight, 0, kTileHeight}) {
        for (int dx : {-kTileWidth, 0, kTileWidth}) {
            p.save();
            p.translate(dx, dy);
            drawBackgroundMotifs(p);
            p.restore();
        }
    }
    return tile;
}

// The whole picture: the tile, continued periodically over the extra column and rows.
std::vector<Rgb> backgroundPixels() {
    const QImage tile = backgroundTile();
    std::vector<Rgb> pixels;
    for (int y = 0; y < kBackgroundHeight; ++y) {
        for (int x = 0; x < kBackgroundWidth; ++x) {
            const QColor c = tile.pixelColor(x % kTileWidth, y % kTileHeight);
            pixels.push_back({static_cast<std::uint8_t>(c.red()),
                              static_cast<std::uint8_t>(c.green()),
                              static_cast<std::uint8_t>(c.blue())});
        }
    }
    return pixels;
}

// ---------------------------------------------------------------------------------------------
// The metronome.

constexpr int kMetronomeWidth = 144;
constexpr int kMetronomeHeight = 239;
constexpr double kCentre = 72.0;
// The case: a trapezoid from its foot on the plinth up to the cap.
constexpr double kCaseFoot = 207;
constexpr double kCaseFootHalf = 62;
constexpr double kCaseTop = 27;
constexpr double kCaseTopHalf = 24;

// Mahogany with a grain that runs up the case, wavering, lit from the left.
QImage woodTexture(const QColor& light, const QColor& dark, std::uint32_t seed) {
    QImage wood(kMetronomeWidth, kMetronomeHeight, QImage::Format_RGB32);
    for (int y = 0; y < kMetronomeHeight; ++y) {
        for (int x = 0; x < kMetronomeWidth; ++x) {
            const double wobble =
                3.0 * std::sin(y / 23.0 + seed) + 1.6 * std::sin(y / 9.0 + x / 13.0);
            const double u = x + wobble;
            const double fine = 0.5 + 0.5 * std::sin(2.0 * kPi * u / 6.5);
            const double broad = 0.5 + 0.5 * std::sin(2.0 * kPi * u / 23.0 + 1.7);
            const double streak = grainNoise(static_cast<int>(u * 1.3), y / 5, seed);
            double t = 0.34 * std::pow(fine, 3.0) + 0.36 * broad + 0.3 * streak;
            // Light from the upper left.
            t = t * 0.75 + 0.25 * (1.0 - x / static_cast<double>(kMetronomeWidth));
            wood.setPixelColor(x, y, mix(dark, light, std::clamp(t, 0.0, 1.0)));
        }
    }
    return wood;
}

QPolygonF trapezoid(double bottomY, double bottomHalf, double topY, double topHalf) {
    return QPolygonF({QPointF(kCentre - bottomHalf, bottomY),
                      QPointF(kCentre + bottomHalf, bottomY), QPointF(kCentre + topHalf, topY),
                      QPointF(kCentre - topHalf, topY)});
}

void drawCase(QPainter& p) {
    const QImage wood = woodTexture(QColor(184, 104, 56), QColor(112, 52, 24), 1);
    const QImage darkWood = woodTexture(QColor(150, 80, 40), QColor(86, 38, 16), 5);

    // The plinth: a top face seen from a little above, and its front with a moulding.
    constexpr double kPlinthHalf = 69;
    const QPolygonF plinthTop(
        {QPointF(kCentre - kPlinthHalf + 6, 205), QPointF(kCentre + kPlinthHalf - 6, 205),
         QPointF(kCentre + kPlinthHalf, 214), QPointF(kCentre - kPlinthHalf, 214)});
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(wood));
    p.drawPolygon(plinthTop);
    const QRectF plinthBand(kCentre - kPlinthHalf, 205, 2 * kPlinthHalf, 9);
    p.fillRect(plinthBand, QColor(255, 230, 190, 40));
    QPainterPath plinthFront;
    plinthFront.addRoundedRect(QRectF(kCentre - kPlinthHalf, 213.5, 2 * kPlinthHalf, 23), 2.5, 2.5);
    p.fillPath(plinthFront, QBrush(darkWood));
    QLinearGradient frontShade(0, 214, 0, 237);
    frontShade.setColorAt(0.0, QColor(255, 220, 170, 36));
    frontShade.setColorAt(0.25, QColor(0, 0, 0, 0));
    frontShade.setColorAt(1.0, QColor(20, 8, 0, 90));
    p.fillPath(plinthFront, frontShade);
    p.fillRect(QRectF(kCentre - kPlinthHalf, 219, 2 * kPlinthHalf, 1.2), QColor(60, 26, 10, 120));
    p.fillRect(QRectF(kCentre - kPlinthHalf, 220.2, 2 * kPlinthHalf, 0.8),
               QColor(255, 220, 170, 50));

    // The case: a tall four-sided pyramid seen from the front, its edges chamfered.
    const QPolygonF body = trapezoid(kCaseFoot, kCaseFootHalf, kCaseTop, kCaseTopHalf);
    p.setBrush(QBrush(wood));
    p.drawPolygon(body);
    QLinearGradient across(kCentre - kCaseFootHalf, 0, kCentre + kCaseFootHalf, 0);
    across.setColorAt(0.0, QColor(255, 235, 200, 40));
    across.setColorAt(0.55, QColor(0, 0, 0, 0));
    across.setColorAt(1.0, QColor(30, 10, 0, 80));
    p.setBrush(across);
    p.drawPolygon(body);
    // The chamfers: a lit strip on the left edge, a shaded one on the right.
    for (const int side : {-1, 1}) {
        const QPolygonF chamfer({QPointF(kCentre + side * kCaseFootHalf, kCaseFoot),
                                 QPointF(kCentre + side * (kCaseFootHalf - 6), kCaseFoot),
                                 QPointF(kCentre + side * (kCaseTopHalf - 2.5), kCaseTop + 3),
                                 QPointF(kCentre + side * kCaseTopHalf, kCaseTop)});
        p.setBrush(side < 0 ? QColor(255, 226, 180, 60) : QColor(30, 10, 0, 80));
        p.drawPolygon(chamfer);
    }
    // A shadow where the case stands on the plinth.
    p.fillRect(QRectF(kCentre - kCaseFootHalf + 1, kCaseFoot - 2, 2 * kCaseFootHalf - 2, 2),
               QColor(40, 15, 0, 70));

    // The cap on top, with a small turned finial.
    QPainterPath cap;
    cap.addRoundedRect(QRectF(kCentre - 28, kCaseTop - 10, 56, 11), 3, 3);
    p.fillPath(cap, QBrush(darkWood));
    QLinearGradient capShade(0, kCaseTop - 10, 0, kCaseTop + 1);
    capShade.setColorAt(0.0, QColor(255, 225, 180, 70));
    capShade.setColorAt(1.0, QColor(20, 5, 0, 80));
    p.fillPath(cap, capShade);
    QRadialGradient knob(QPointF(kCentre - 2, kCaseTop - 14), 7);
    knob.setColorAt(0.0, QColor(196, 118, 66));
    knob.setColorAt(1.0, QColor(96, 42, 18));
    p.setBrush(knob);
    p.drawEllipse(QPointF(kCentre, kCaseTop - 11), 6.5, 5);
}

void drawScaleAndPendulum(QPainter& p) {
    // The opening in the front, dark inside.
    const QPolygonF opening = trapezoid(192, 34, 42, 10);
    QLinearGradient inside(0, 44, 0, 192);
    inside.setColorAt(0.0, QColor(58, 28, 12));
    inside.setColorAt(1.0, QColor(86, 44, 20));
    p.setPen(QPen(QColor(52, 22, 8), 1.0));
    p.setBrush(inside);
    p.drawPolygon(opening);
    // Its lit lower sill and shaded upper lintel.
    p.setPen(QPen(QColor(220, 160, 110, 140), 1.0));
    p.drawLine(QPointF(kCentre - 34, 192.5), QPointF(kCentre + 34, 192.5));

    // The tempo scale behind the pendulum: an ivory strip with graded marks, closer together
    // towards the top as on a real scale.
    const QPolygonF plate = trapezoid(184, 13, 51, 6);
    QLinearGradient ivory(kCentre - 13, 0, kCentre + 13, 0);
    ivory.setColorAt(0.0, QColor(244, 234, 206));
    ivory.setColorAt(1.0, QColor(214, 198, 160));
    p.setPen(QPen(QColor(120, 90, 50), 0.8));
    p.setBrush(ivory);
    p.drawPolygon(plate);
    for (int k = 0; k <= 20; ++k) {
        const double t = k / 20.0;
        const double y = 180 - 124 * (1.0 - std::pow(1.0 - t, 1.45));
        const double half = 13 - 7 * (184 - y) / 133.0;
        const bool major = k % 4 == 0;
        p.setPen(QPen(QColor(70, 45, 25), major ? 1.0 : 0.7));
        const double length = major ? half - 1.5 : half * 0.45;
        p.drawLine(QPointF(kCentre - half + 1.5, y), QPointF(kCentre - half + 1.5 + length, y));
        p.drawLine(QPointF(kCentre + half - 1.5, y), QPointF(kCentre + half - 1.5 - length, y));
    }

    // A brass maker's plate below the opening.
    QPainterPath badge;
    badge.addRoundedRect(QRectF(60, 196, 24, 7), 3, 3);
    QLinearGradient brass(0, 196, 0, 203);
    brass.setColorAt(0.0, QColor(240, 206, 120));
    brass.setColorAt(1.0, QColor(150, 108, 40));
    p.fillPath(badge, brass);

    // The pendulum: a steel rod from its pivot low in the opening, swung a little to the right,
    // with its sliding weight.
    constexpr double kPivotY = 186;
    constexpr double kTilt = 8.0;  // degrees from upright
    constexpr double kLength = 178;
    p.save();
    p.translate(kCentre, kPivotY);
    p.rotate(kTilt);
    QLinearGradient steel(-1.6, 0, 1.6, 0);
    steel.setColorAt(0.0, QColor(235, 235, 238));
    steel.setColorAt(0.5, QColor(170, 172, 178));
    steel.setColorAt(1.0, QColor(80, 82, 90));
    p.setPen(Qt::NoPen);
    p.setBrush(steel);
    QPainterPath rod;
    rod.addRoundedRect(QRectF(-1.6, -kLength, 3.2, kLength + 4), 1.6, 1.6);
    p.drawPath(rod);

    // The weight: a brass block with a bevelled top and bottom.
    const double wy = -108;
    QPolygonF weight({QPointF(-8, wy - 5), QPointF(8, wy - 5), QPointF(9.5, wy - 2),
                      QPointF(9.5, wy + 5), QPointF(8, wy + 8), QPointF(-8, wy + 8),
                      QPointF(-9.5, wy + 5), QPointF(-9.5, wy - 2)});
    QLinearGradient gold(-9.5, 0, 9.5, 0);
    gold.setColorAt(0.0, QColor(255, 232, 150));
    gold.setColorAt(0.35, QColor(222, 176, 78));
    gold.setColorAt(1.0, QColor(122, 84, 26));
    p.setPen(QPen(QColor(96, 64, 18), 0.8));
    p.setBrush(gold);
    p.drawPolygon(weight);
    p.setPen(QPen(QColor(110, 74, 22), 1.0));
    p.drawLine(QPointF(-9, wy + 1.5), QPointF(9, wy + 1.5));
    p.setPen(QPen(QColor(255, 240, 190, 160), 0.8));
    p.drawLine(QPointF(-7.5, wy - 4), QPointF(7.5, wy - 4));

    // The pivot's brass boss.
    p.setPen(QPen(QColor(90, 60, 20), 0.8));
    QRadialGradient boss(QPointF(-1, -1), 4);
    boss.setColorAt(0.0, QColor(255, 230, 150));
    boss.setColorAt(1.0, QColor(140, 96, 32));
    p.setBrush(boss);
    p.drawEllipse(QPointF(0, 0), 3.5, 3.5);
    p.restore();
}

QImage metronomeDrawing() {
    QImage image(kMetronomeWidth, kMetronomeHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    drawCase(p);
    drawScaleAndPendulum(p);
    return image;
}

constexpr std::uint8_t kTransparentIndex = 255;

// 255 colours by median cut and a transparent index. A pixel less than half covered becomes
// transparent; the others are blended into the parchment, so the outline carries no fringe of a
// colour the window's background does not have.
std::vector<std::uint8_t> metronomeGif() {
    const QImage drawing = metronomeDrawing();
    std::vector<Rgb> colours(static_cast<std::size_t>(kMetronomeWidth) * kMetronomeHeight);
    std::vector<bool> opaque(colours.size());
    std::vector<Rgb> opaqueColours;
    for (int y = 0; y < kMetronomeHeight; ++y) {
        for (int x = 0; x < kMetronomeWidth; ++x) {
            const QColor drawn = drawing.pixelColor(x, y);  // not premultiplied
            const double alpha = drawn.alphaF();
            const std::size_t i = static_cast<std::size_t>(y) * kMetronomeWidth + x;
            if (alpha < 0.5) {
                continue;
            }
            auto blend = [&](int channel, int parchment) {
                return static_cast<std::uint8_t>(
                    clampChannel(channel * alpha + parchment * (1.0 - alpha)));
            };
            colours[i] = {blend(drawn.red(), kParchment.red()),
                          blend(drawn.green(), kParchment.green()),
                          blend(drawn.blue(), kParchment.blue())};
            opaque[i] = true;
            opaqueColours.push_back(colours[i]);
        }
    }

    const std::vector<Rgb> chosen = medianCutPalette(opaqueColours, 255);
    std::array<Rgb, 256> palette{};
    std::copy(chosen.begin(), chosen.end(), palette.begin());
    // Viewers that ignore transparency show the parchment there.
    palette[kTransparentIndex] = {static_cast<std::uint8_t>(kParchment.red()),
                                  static_cast<std::uint8_t>(kParchment.green()),
                                  static_cast<std::uint8_t>(kParchment.blue())};

    IndexedImage indexed{kMetronomeWidth, kMetronomeHeight, {}};
    indexed.indices.resize(colours.size(), kTransparentIndex);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        if (opaque[i]) {
            indexed.indices[i] = nearestPaletteIndex(chosen, colours[i]);
        }
    }
    return encodeGif(indexed, palette, kTransparentIndex);
}

// ---------------------------------------------------------------------------------------------
// The icon: two beamed eighth notes on a staff, black over tan. Drawn on a 32-unit grid.

const QColor kTan(239, 214, 173);

// The tan ground, its grey frame and the five staff lines. Lines are as thick as the scale's
// whole pixels (one at least) and lie on whole pixels, so that they stay crisp at every size.
void drawIconGround(QPainter& p, double scale, bool rounded) {
    p.save();
    const double width = std::max(1.0, std::round(scale));
    const double size = 32 * scale;
    QPainterPath frame;
    const QRectF inside(width / 2, width / 2, size - width, size - width);
    if (rounded) {
        frame.addRoundedRect(inside, 4 * scale, 4 * scale);
    } else {
        frame.addRect(inside);
    }
    p.setPen(QPen(QColor(128, 128, 128), width));
    p.setBrush(kTan);
    p.drawPath(frame);

    p.setPen(QPen(QColor(128, 128, 128), width, Qt::SolidLine, Qt::FlatCap));
    for (int line = 0; line < 5; ++line) {
        const double y = std::round((8.5 + line * 4) * scale - width / 2) + width / 2;
        p.drawLine(QPointF(std::round(3 * scale), y), QPointF(std::round(29 * scale), y));
    }
    p.restore();
}

// Two eighth notes, on the lowest line and the one above it, beamed together.
void drawIconNotes(QPainter& p, double scale, const QColor& ink) {
    p.save();
    p.scale(scale, scale);
    auto head = [&](double x, double y) {
        QPainterPath ellipse;
        ellipse.addEllipse(QPointF(0, 0), 3.2, 2.25);
        QTransform place;
        place.translate(x, y);
        place.rotate(-24);
        p.fillPath(place.map(ellipse), ink);
    };
    head(10.0, 24.5);
    head(21.0, 20.5);
    p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(12.6, 24.0), QPointF(12.6, 6.0));
    p.drawLine(QPointF(23.6, 20.0), QPointF(23.6, 3.5));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(QPolygonF(
        {QPointF(11.9, 5.0), QPointF(24.3, 3.0), QPointF(24.3, 6.2), QPointF(11.9, 8.2)}));
    p.restore();
}

// The standard 16-colour palette, with tan in place of cyan.
constexpr std::array<Rgb, 16> kIconPalette{{{0, 0, 0},
                                            {128, 0, 0},
                                            {0, 128, 0},
                                            {128, 128, 0},
                                            {0, 0, 128},
                                            {128, 0, 128},
                                            {0, 128, 128},
                                            {192, 192, 192},
                                            {128, 128, 128},
                                            {255, 0, 0},
                                            {0, 255, 0},
                                            {255, 255, 0},
                                            {0, 0, 255},
                                            {255, 0, 255},
                                            {239, 214, 173},
                                            {255, 255, 255}}};

// At 32 pixels the notes are drawn solid: a pixel at least half covered is black, the others
// keep the ground beneath, so the notes stand crisp on the staff.
std::vector<std::uint8_t> iconFile() {
    QImage ground(32, 32, QImage::Format_RGB32);
    ground.fill(kTan);
    {
        QPainter p(&ground);
        drawIconGround(p, 1.0, false);
    }
    QImage notes(32, 32, QImage::Format_RGB32);
    notes.fill(Qt::white);
    {
        QPainter p(&notes);
        p.setRenderHint(QPainter::Antialiasing, true);
        drawIconNotes(p, 1.0, Qt::black);
    }
    constexpr std::uint8_t kBlack = 0;
    std::vector<std::uint8_t> indices;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (qGray(notes.pixel(x, y)) < 128) {
                indices.push_back(kBlack);
                continue;
            }
            const QColor c = ground.pixelColor(x, y);
            indices.push_back(nearestPaletteIndex(
                kIconPalette,
                {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                 static_cast<std::uint8_t>(c.blue())}));
        }
    }
    return encodeIcon16(indices, kIconPalette);
}

// The desktop's icon, `size` pixels square, with rounded corners.
QImage desktopIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double scale = size / 32.0;
    drawIconGround(p, scale, true);
    drawIconNotes(p, scale, Qt::black);
    return image;
}

}  // namespace
}  // namespace vindelor

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures <folder>\n");
        return 2;
    }
    using namespace vindelor;
    const std::filesystem::path folder = argv[1];
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } files[] = {
        {"background.bmp", encodeBmp24(kBackgroundWidth, kBackgroundHeight, backgroundPixels())},
        {"metronome.gif", metronomeGif()},
        {"vindelor.ico", iconFile()},
    };
    for (const auto& file : files) {
        if (!writeFile(folder / file.name, file.bytes)) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", (folder / file.name).c_str());
            return 1;
        }
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::filesystem::path png =
            folder / (size == 256 ? std::string("vindelor.png")
                                  : "vindelor-" + std::to_string(size) + ".png");
        if (!desktopIcon(size).save(QString::fromStdString(png.string()), "PNG")) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", png.c_str());
            return 1;
        }
    }
    return 0;
}
