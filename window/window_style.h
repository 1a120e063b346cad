#pragma once

#include <QColor>

class QFont;

namespace vindelor {

// The window's look: Qt's style and colours, two colours and two fonts of its own.
inline constexpr QColor kTan{239, 214, 173};  // background of the tempo box and the meter list
inline constexpr QColor kNavy{0, 0, 128};     // their text, and the captions "BPM" and "Takt"

// Font A: the tempo box, the meter list and the captions; bold, 13 pixels high.
QFont captionFont();
// Font B: the two push buttons; bold, 11 pixels high.
QFont buttonFont();

// Gives the application the look the window was drawn for, whatever the desktop asks for: Qt's
// Fusion style with its own light colours. The controls' places and sizes fit Fusion's frames
// and margins (under Qt's Windows style, for one, the meter list grows a scroll bar), and the
// controls' own fonts do not follow the desktop's. Call once the QApplication exists, before
// the window is made.
void pinWindowLook();

}  // namespace vindelor
