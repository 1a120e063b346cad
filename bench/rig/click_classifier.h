#pragma once

#include "bench/rig/detected_click.h"

namespace vindelor::rig {

// Tells the three clips apart: the accents are pitched about 8 % above the normal click and
// differ from each other in length only. A click cut short (as at Stop) or of another sound
// comes out as unknown; a reference click cut short, as a part of one.
ClickKind classifyClick(double pitchHz, double lengthMs);

}  // namespace vindelor::rig
