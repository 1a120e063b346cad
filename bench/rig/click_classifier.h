#pragma once

#include <vector>

#include "bench/rig/detected_click.h"

namespace vindelor::rig {

// Tells the three clips apart: the accents are pitched about 8 % above the normal click and
// differ from each other in length only. A click cut short (as at Stop) or of another sound
// comes out as unknown; a reference click cut short, as a part of one.
ClickKind classifyClick(double pitchHz, double lengthMs);

// The reference track's first click, cut as its stream started, can be too short to show its
// pitch. A click that ends where a reference click one beat before the first whole one would
// have ended is that click's rest: it is marked as a part of a reference click.
void markReferenceLeadIn(std::vector<DetectedClick>& clicks, double sampleRate);

}  // namespace vindelor::rig
