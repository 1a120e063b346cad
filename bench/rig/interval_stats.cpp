#include "bench/rig/interval_stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vindelor::rig {

namespace {

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::ranges::nth_element(values, middle);
    return *middle;
}

// The offset of `kind` against the normal click. Beat k of a steady run sits
// llround(k * nominal) samples after the first; what a click's onset lies beyond that is the
// offset of its kind (plus the first click's). The median over each kind keeps a stray click
// from moving it, and whole-sample rounding of a fractional interval stays out of it.
double offsetAgainstNormal(std::span<const DetectedClick> clicks, ClickKind kind, double nominal) {
    std::vector<double> ofKind;
    std::vector<double> ofNormal;
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        const double residual = clicks[k].onset - clicks[0].onset -
                                static_cast<double>(std::llround(static_cast<double>(k) * nominal));
        if (clicks[k].kind == kind) {
            ofKind.push_back(residual);
        } else if (clicks[k].kind == ClickKind::normal) {
            ofNormal.push_back(residual);
        }
    }
    if (ofKind.empty() || ofNormal.empty()) {
        return 0;
    }
    return median(std::move(ofKind)) - median(std::move(ofNormal));
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
