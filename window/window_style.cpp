#include "window/window_style.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStyle>

namespace vindelor {
namespace {

// "MS Sans Serif" where the desktop has it, else the desktop's own sans-serif face; bold, at a
// size in pixels so that the texts keep their places whatever the screen's resolution.
QFont boldSansSerif(int pixelSize) {
    static const bool hasClassicFace =
        QFontDatabase::families().contains(QStringLiteral("MS Sans Serif"));
    QFont font(hasClassicFace ? QStringLiteral("MS Sans Serif") : QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

}  // namespace

QFont captionFont() {
    return boldSansSerif(13);
}

QFont buttonFont() {
    return boldSansSerif(11);
}

void pinWindowLook() {
    const QStyle* style = QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(style->standardPalette());
}

}  // namespace vindelor
