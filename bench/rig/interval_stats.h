#pragma once

#include <map>
#include <span>

#include "bench/rig/detected_click.h"

namespace vindelor::rig {

// How steady a run of clicks at one tempo was. Each clip reaches the onset level at its own
// distance from its first sample; that constant is taken out per kind (relative to the normal
// click) before intervals are compared.
struct IntervalStats {
    int intervals = 0;
    double nominalMs = 0;         // 60000 / bpm, exact
    double nominalSamples = 0;    // the same in samples, rounded to a whole sample
    double meanMs = 0;            // from the first to the last click, over their count
    double worstDeviationMs = 0;  // of any interval from nominalSamples
    double worstDeviationSamples = 0;
    std::map<ClickKind, double> onsetOffsetSamples;  // taken out of each kind's onsets
};

// Needs at least two clicks; an unknown kind keeps offset 0.
IntervalStats measureIntervals(std::span<const DetectedClick> clicks, int bpm,
                               double sampleRate = 48000);

}  // namespace vindelor::rig
