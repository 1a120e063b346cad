#include "bench/rig/recording.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <stdexcept>

namespace vindelor::rig {

namespace {

struct Clip {
    double pitchHz;
    double lengthMs;
};
constexpr Clip kNormal{835, 34.4};
constexpr Clip kAccent{902, 52.6};
constexpr Clip kTripleAccent{902, 101.9};
constexpr Clip kReference{1400, 20};

// A clip's measured pitch and length may stray this far from its own, relatively. Halfway
// between the two pitches is 3.9 % from either; the lengths are 35 % apart or more.
constexpr double kPitchTolerance = 0.035;
constexpr double kLengthTolerance = 0.15;

bool near(double measured, double expected, double tolerance) {
    return std::abs(measured - expected) <= tolerance * expected;
}

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

// The pitch from the rising crossings of a band around zero, which a clipped tone passes
// cleanly once per period.
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
            first = rises == 0 ? i : first;
            last = i;
            ++rises;
        }
    }
    return rises < 3 ? 0 : (rises - 1) * rate / static_cast<double>(last - first);
}

Clip clipFor(char kind) {
    switch (kind) {
        case 'n':
            return kNormal;
        case 'A':
            return kAccent;
        case 'T':
            return kTripleAccent;
        case 'R':
            return kReference;
        default:
            throw std::invalid_argument("a click track pattern holds only 'A', 'T', 'n' and 'R'");
    }
}

}  // namespace

std::vector<DetectedClick> detectClicks(std::span<const float> x,
                                        const ClickDetectorSettings& settings) {
    std::vector<DetectedClick> clicks;
    const auto gap =
        static_cast<std::size_t>(std::lround(settings.gapMs * settings.sampleRate / 1000));
    for (std::size_t i = 0; i < x.size();) {
        if (std::abs(x[i]) < settings.onsetLevel) {
            ++i;
            continue;
        }
        DetectedClick click;
        click.onset = interpolatedCrossing(x, i, settings.onsetLevel);
        std::size_t lastLoud = i;
        for (std::size_t j = i; j < x.size() && j - lastLoud <= gap; ++j) {
            if (std::abs(x[j]) >= settings.silenceLevel) {
                lastLoud = j;
            }
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

double clipLengthMs(ClickKind kind) {
    const ClickKind whole = kind == ClickKind::referencePart ? ClickKind::reference : kind;
    return whole == ClickKind::unknown ? 0 : clipFor(static_cast<char>(whole)).lengthMs;
}

ClickKind classifyClick(double pitchHz, double lengthMs) {
    const auto is = [&](Clip clip) {
        return near(pitchHz, clip.pitchHz, kPitchTolerance) &&
               near(lengthMs, clip.lengthMs, kLengthTolerance);
    };
    if (is(kNormal)) {
        return ClickKind::normal;
    }
    if (is(kAccent)) {
        return ClickKind::accent;
    }
    if (is(kTripleAccent)) {
        return ClickKind::tripleAccent;
    }
    if (near(pitchHz, kReference.pitchHz, kPitchTolerance)) {
        return is(kReference)                      ? ClickKind::reference
               : lengthMs < kReference.lengthMs ? ClickKind::referencePart
                                                   : ClickKind::unknown;
    }
    return ClickKind::unknown;
}

int mendCutClicks(std::vector<DetectedClick>& clicks, std::span<const MissedSpan> missed,
                  const ClickDetectorSettings& settings) {
    const double gap = settings.gapMs * settings.sampleRate / 1000;
    std::map<ClickKind, std::vector<double>> spans;  // end less onset of the whole clicks
    for (const DetectedClick& click : clicks) {
        spans[click.kind].push_back(static_cast<double>(click.end) - click.onset);
    }
    int mended = 0;
    for (DetectedClick& click : clicks) {
        if (click.kind != ClickKind::unknown && click.kind != ClickKind::referencePart) {
            continue;
        }
        ClickKind kind = ClickKind::unknown;  // by its pitch alone
        for (const ClickKind candidate :
             {ClickKind::normal, ClickKind::accent, ClickKind::reference}) {
            if (classifyClick(click.pitchHz, clipLengthMs(candidate)) == candidate) {
                kind = candidate;
            }
        }
        if (kind == ClickKind::unknown) {
            continue;
        }
        std::vector<double>& whole = spans[kind];
        for (const MissedSpan& span : missed) {
            const bool tailCut =
                click.onset < span.from && static_cast<double>(click.end) + gap >= span.from;
            const bool headCut = click.onset >= span.to - 1 && click.onset < span.to + gap;
            if ((!tailCut && !headCut) || (headCut && whole.empty())) {
                continue;
            }
            if (headCut) {
                std::ranges::nth_element(whole, whole.begin() + std::ssize(whole) / 2);
                click.onset = static_cast<double>(click.end) - whole[whole.size() / 2];
            }
            click.kind = kind;
            click.lengthMs = clipLengthMs(kind);
            ++mended;
            break;
        }
    }
    return mended;
}

std::vector<float> makeClickTrack(const ClickTrackSettings& settings) {
    if (settings.pattern.empty() || settings.bpm <= 0 || settings.seconds < 0) {
        throw std::invalid_argument("a click track needs a pattern, a tempo and a length");
    }
    const double rate = settings.sampleRate;
    const double perBeat = rate * 60 / settings.bpm;
    const auto leadIn = static_cast<std::size_t>(std::lround(settings.leadInSeconds * rate));
    const auto beats = static_cast<long long>(settings.seconds * settings.bpm / 60) + 1;
    const auto tail = static_cast<std::size_t>(std::lround(0.2 * rate));
    std::vector<float> track(leadIn +
                             static_cast<std::size_t>(std::llround((beats - 1) * perBeat)) + tail);
    for (long long k = 0; k < beats; ++k) {
        const Clip clip =
            clipFor(settings.pattern[static_cast<std::size_t>(k) % settings.pattern.size()]);
        const std::size_t start = leadIn + static_cast<std::size_t>(std::llround(k * perBeat));
        const auto length = static_cast<std::size_t>(std::lround(clip.lengthMs * rate / 1000));
        // A quarter of a sample into the first period: the first sample is already at full
        // scale, as in the program's clips.
        const double phaseStep = 2 * std::numbers::pi * clip.pitchHz / rate;
        for (std::size_t i = 0; i < length && start + i < track.size(); ++i) {
            track[start + i] = std::sin((static_cast<double>(i) + 0.25) * phaseStep) >= 0 ? 1.0f
                                                                                         : -1.0f;
        }
    }
    return track;
}

MonoRecording readMonoRecording(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    MonoRecording recording;
    recording.sampleRate = info.samplerate;
    recording.samples.resize(static_cast<std::size_t>(got));
    for (std::size_t frame = 0; frame < recording.samples.size(); ++frame) {
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += interleaved[frame * channels + c];
        }
        recording.samples[frame] = sum / static_cast<float>(channels);
    }
    return recording;
}

void writeMonoWav(const std::string& path, const std::vector<float>& samples, double sampleRate) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    const auto frames = static_cast<sf_count_t>(samples.size());
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("cannot write all of " + path);
    }
}

}  // namespace vindelor::rig
