#pragma once

#include <span>
#include <vector>

#include "bench/rig/detected_click.h"

namespace vindelor::rig {

// Finds every click in a mono recording. The clips start at full scale out of silence, so
// the first crossing of a high level marks each one at the same place within its clip;
// interpolating between the two samples around the crossing gives it to a fraction of a
// sample. A click ends where the signal has stayed below the silence level for a while,
// longer than any half-period of the tones.
struct ClickDetectorSettings {
    double sampleRate = 48000;
    float onsetLevel = 0.5f;     // of full scale
    float silenceLevel = 0.02f;  // of full scale
    double gapMs = 4;            // silence that ends a click
};

std::vector<DetectedClick> detectClicks(std::span<const float> samples,
                                        const ClickDetectorSettings& settings = {});

}  // namespace vindelor::rig
