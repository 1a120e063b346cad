#pragma once

#include <QColor>

class QFont;

namespace vindelor {

// The window's two colours and two fonts.
inline constexpr QColor kTan{239, 214, 173};  // background of the tempo box and the meter list
inline constexpr QColor kNavy{0, 0, 128};     // their text, and the captions "BPM" and "Takt"

// Font A: the tempo box, the meter list and the captions; bold, 13 pixels high.
QFont captionFont();
// Font B: the two push buttons; bold, 11 pixels high.
QFont buttonFont();

}  // namespace vindelor
