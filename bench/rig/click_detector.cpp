#include "bench/rig/click_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "bench/rig/click_classifier.h"

namespace vindelor::rig {

namespace {

// The crossing of `level` between samples i-1 and i, in the direction of sample i's sign.
// With i == 0 the click began before the recording did; it is placed at 0.
double interpolatedCrossing(std::span<const float> x, std::size_t i, float level) {
    if (i == 0) {
        return 0;
    }
    const double sign = x[i] < 0 ? -1.0 : 1.0;
    const double before = sign * x[i - 1];
    const double at = sign * x[i];
    if (at <= before) {
        return static_cast<double>(i);
    }
    const double fraction = (level - before) / (at - before);
    return static_cast<double>(i - 1) + std::clamp(fraction, 0.0, 1.0);
}

// The pitch from the rising crossings of a hysteresis band around zero, which a clipped
// tone passes cleanly once per period.
double pitchOf(std::span<const float> x, std::size_t begin, std::size_t end, double rate) {
    constexpr float band = 0.1f;
    bool low = false;
    std::size_t first = 0;
    std::size_t last = 0;
    int rises = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (x[i] < -band) {
            low = true;
        } else if (low && x[i] > band) {
            low = false;
            if (rises == 0) {
                first = i;
            }
            last = i;
            ++rises;
        }
    }
    if (rises < 3) {
        return 0;
    }
    return (rises - 1) * rate / static_cast<double>(last - first);
}

}  // namespace

std::vector<DetectedClick> detectClicks(std::span<const float> x,
                                        const ClickDetectorSettings& settings) {
    std::vector<DetectedClick> clicks;
    const auto gap =
        static_cast<std::size_t>(std::lround(settings.gapMs * settings.sampleRate / 1000));
    std::size_t i = 0;
    while (i < x.size()) {
        if (std::abs(x[i]) < settings.onsetLevel) {
            ++i;
            continue;
        }
        DetectedClick click;
        click.onset = interpolatedCrossing(x, i, settings.onsetLevel);
        std::size_t lastLoud = i;
        std::size_t j = i;
        while (j < x.size() && j - lastLoud <= gap) {
            if (std::abs(x[j]) >= settings.silenceLevel) {
                lastLoud = j;
            }
            ++j;
        }
        click.end = lastLoud + 1;
        click.lengthMs =
            (static_cast<double>(click.end) - click.onset) * 1000 / settings.sampleRate;
        click.pitchHz = pitchOf(x, i, click.end, settings.sampleRate);
        click.kind = classifyClick(click.pitchHz, click.lengthMs);
        clicks.push_back(click);
        i = click.end;
    }
    return clicks;
}

}  // namespace vindelor::rig
