#include "bench/rig/interval_stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vindelor::rig {

namespace {

// The offset of `kind` against the normal click: an interval from a normal click to `kind`
// is longer than nominal by it, one from `kind` to a normal click shorter by it. Averaging
// over many bars also averages away the alternating whole-sample rounding of a tempo whose
// interval is not a whole number of samples.
double offsetAgainstNormal(std::span<const DetectedClick> clicks, ClickKind kind, double nominal) {
    double sum = 0;
    int count = 0;
    for (std::size_t k = 1; k < clicks.size(); ++k) {
        const double excess = clicks[k].onset - clicks[k - 1].onset - nominal;
        if (clicks[k - 1].kind == ClickKind::normal && clicks[k].kind == kind) {
            sum += excess;
            ++count;
        } else if (clicks[k - 1].kind == kind && clicks[k].kind == ClickKind::normal) {
            sum -= excess;
            ++count;
        }
    }
    return count == 0 ? 0 : sum / count;
}

}  // namespace

IntervalStats measureIntervals(std::span<const DetectedClick> clicks, int bpm, double sampleRate) {
    IntervalStats stats;
    stats.nominalMs = 60000.0 / bpm;
    const double nominalExact = sampleRate * 60 / bpm;
    stats.nominalSamples = std::round(nominalExact);
    if (clicks.size() < 2) {
        return stats;
    }
    for (ClickKind kind : {ClickKind::accent, ClickKind::tripleAccent}) {
        stats.onsetOffsetSamples[kind] = offsetAgainstNormal(clicks, kind, nominalExact);
    }
    stats.onsetOffsetSamples[ClickKind::normal] = 0;

    std::vector<double> starts;
    starts.reserve(clicks.size());
    for (const DetectedClick& click : clicks) {
        const auto offset = stats.onsetOffsetSamples.find(click.kind);
        starts.push_back(click.onset -
                         (offset == stats.onsetOffsetSamples.end() ? 0 : offset->second));
    }
    stats.intervals = static_cast<int>(starts.size()) - 1;
    stats.meanMs = (starts.back() - starts.front()) / stats.intervals * 1000 / sampleRate;
    for (std::size_t k = 1; k < starts.size(); ++k) {
        const double deviation = std::abs(starts[k] - starts[k - 1] - stats.nominalSamples);
        stats.worstDeviationSamples = std::max(stats.worstDeviationSamples, deviation);
    }
    stats.worstDeviationMs = stats.worstDeviationSamples * 1000 / sampleRate;
    return stats;
}

}  // namespace vindelor::rig
