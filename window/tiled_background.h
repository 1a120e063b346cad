#pragma once

#include <QPixmap>

class QImage;
class QPainter;
class QRect;

namespace vindelor {

// The window's background: its picture's top-left 76 × 117 block repeated edge to edge from
// the top-left corner. Every tile is drawn from the picture kept in memory, never from the
// screen, so a repaint of any part of the window fills it with the same tiles.
class TiledBackground {
  public:
    static constexpr int kTileWidth = 76;    // the picture's last column never shows
    static constexpr int kTileHeight = 117;  // nor do its last ten rows

    // A picture smaller than a tile gives smaller tiles; a null picture gives no tiles.
    explicit TiledBackground(const QImage& picture);

    bool isNull() const { return tile_.isNull(); }

    // Covers `area` (in the painter's coordinates, tiles counted from its origin); what the
    // painter clips away is left alone.
    void paint(QPainter& painter, const QRect& area) const;

  private:
    QPixmap tile_;
};

}  // namespace vindelor
