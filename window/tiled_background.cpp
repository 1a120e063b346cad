#include "window/tiled_background.h"

#include <QImage>
#include <QPainter>

namespace vindelor {

TiledBackground::TiledBackground(const QImage& picture)
    : tile_(QPixmap::fromImage(
          picture.copy(picture.rect().intersected({0, 0, kTileWidth, kTileHeight})))) {}

void TiledBackground::paint(QPainter& painter, const QRect& area) const {
    if (tile_.isNull()) {
        return;
    }
    // The offset is taken modulo the tile: the tiles stay on the grid from the origin.
    painter.drawTiledPixmap(area, tile_, area.topLeft());
}

}  // namespace vindelor
