#include "bench/rig/click_track.h"

#include <cmath>
#include <cstddef>
#include <numbers>
#include <stdexcept>

namespace vindelor::rig {

namespace {

struct Clip {
    double pitchHz;
    double lengthMs;
};

Clip clipFor(char kind) {
    switch (kind) {
        case 'n':
            return {835, 34.4};
        case 'A':
            return {902, 52.6};
        case 'T':
            return {902, 101.9};
        case 'R':
            return {1400, 20};
        default:
            throw std::invalid_argument("a click track pattern holds only 'A', 'T', 'n' and 'R'");
    }
}

// Starts a quarter of a sample into the first period, so that the first sample is already at
// full scale, like the program's clips.
void addClip(std::vector<float>& track, std::size_t start, Clip clip, double rate) {
    const auto length = static_cast<std::size_t>(std::lround(clip.lengthMs * rate / 1000));
    const double phaseStep = 2 * std::numbers::pi * clip.pitchHz / rate;
    for (std::size_t i = 0; i < length && start + i < track.size(); ++i) {
        const double phase = (static_cast<double>(i) + 0.25) * phaseStep;
        track[start + i] = std::sin(phase) >= 0 ? 1.0f : -1.0f;
    }
}

}  // namespace

std::vector<float> makeClickTrack(const ClickTrackSettings& settings) {
    if (settings.pattern.empty()) {
        throw std::invalid_argument("a click track needs a pattern");
    }
    if (settings.bpm <= 0 || settings.seconds < 0) {
        throw std::invalid_argument("a click track needs a positive tempo and duration");
    }
    const double rate = settings.sampleRate;
    const double perBeat = rate * 60 / settings.bpm;
    const auto leadIn = static_cast<std::size_t>(std::lround(settings.leadInSeconds * rate));
    const auto beats = static_cast<long long>(settings.seconds * settings.bpm / 60) + 1;
    const auto tail = static_cast<std::size_t>(std::lround(0.2 * rate));
    std::vector<float> track(leadIn +
                             static_cast<std::size_t>(std::llround((beats - 1) * perBeat)) + tail);
    for (long long k = 0; k < beats; ++k) {
        const char kind = settings.pattern[static_cast<std::size_t>(k) % settings.pattern.size()];
        addClip(track, leadIn + static_cast<std::size_t>(std::llround(k * perBeat)), clipFor(kind),
                rate);
    }
    return track;
}

}  // namespace vindelor::rig
