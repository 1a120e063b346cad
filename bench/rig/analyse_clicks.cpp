// Finds the clicks in a recording and reports, as key=value lines, how steady they were and
// when they sounded against the presses that started and stopped them.
//
//   rig_analyse --wav rec.wav --timing rec.timing --bpm 120 [--presses FILE] [--grid NS] [--list]
//
// FILE holds one line per run, "start_ns [stop_ns [bpm]]": the CLOCK_MONOTONIC times at which
// Start and Stop reached the X server, and the run's tempo if not --bpm. Intervals are measured within each run, in the recording's
// own samples (the sink's clock); the program's clicks after a Stop are counted and kept out
// of them. Reference clicks ('R', the rig's own regular track) are measured apart: a machine
// that holds the sink back moves them too; a part of one, cut as the reference's stream
// started, is left out of both. Without FILE the whole recording is one run.
//
// A PulseAudio sink plays a run's first click at once by rewinding: it mixes again what it
// had already mixed ahead. Its monitor cannot show that: it hands out what it had before the
// rewind, and the first click comes out without its start. Such a click is dated back by what
// is missing of it (counted as "rewound"). For the same reason a click taken back at Stop
// may show as a fragment; fragments after Stop are counted apart from clicks.
//
// The last click is given as a CLOCK_MONOTONIC time (last_click_ns), and with --grid NS how
// far the program's clicks lie from the grid of beats through NS, at the first run's tempo
// (grid_worst_ms): a run that went on over a lost server keeps the grid it had.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/rig/click_classifier.h"
#include "bench/rig/click_detector.h"
#include "bench/rig/interval_stats.h"
#include "bench/rig/mono_recording.h"
#include "bench/rig/pattern_summary.h"
#include "bench/rig/time_map.h"

namespace vindelor::rig {
namespace {

struct Options {
    std::string wavPath;
    std::string timingPath;
    int bpm = 0;
    std::string pressesPath;
    std::optional<double> gridNs;
    bool list = false;
};

struct Run {
    double startNs = 0;
    std::optional<double> stopNs;
    int bpm = 0;
};

struct TimedClick {
    DetectedClick click;
    double atNs;
};

// Half the shortest clip, the normal click's 34 ms.
constexpr double kShortestClickMs = 17;

struct ClipShape {
    ClickKind kind;
    double pitchHz;
    double lengthMs;
};
// A run starts on an accent.
constexpr ClipShape kAccentShapes[] = {{ClickKind::accent, 902, 52.625},
                                       {ClickKind::tripleAccent, 902, 101.875}};

// A first click recorded without its start: which clip it was, with its onset dated back by
// what is missing against a whole click of its kind in the same recording (or, if none, the
// clip's own length). Of the click as recorded and each accent it may be the rest of, the one
// whose start falls nearest one interval before the next click; none if that is the click as
// recorded.
std::optional<DetectedClick> restoreStart(const DetectedClick& cut, const DetectedClick* next,
                                          double nominalSamples, double rate,
                                          const std::vector<DetectedClick>& all) {
    const auto miss = [&](const DetectedClick& click) {
        return next != nullptr ? std::abs(next->onset - click.onset - nominalSamples) : 0.0;
    };
    std::optional<DetectedClick> best;
    double bestMiss = cut.kind != ClickKind::unknown ? miss(cut)
                                                     : std::numeric_limits<double>::infinity();
    for (const ClipShape& shape : kAccentShapes) {
        if (std::abs(cut.pitchHz - shape.pitchHz) > 0.035 * shape.pitchHz) {
            continue;
        }
        std::vector<double> wholeLengths;
        for (const DetectedClick& click : all) {
            if (click.kind == shape.kind) {
                wholeLengths.push_back(click.lengthMs);
            }
        }
        double wholeMs = shape.lengthMs;
        if (!wholeLengths.empty()) {
            std::ranges::nth_element(wholeLengths, wholeLengths.begin() +
                                                       static_cast<std::ptrdiff_t>(wholeLengths.size() / 2));
            wholeMs = wholeLengths[wholeLengths.size() / 2];
        }
        if (cut.lengthMs > wholeMs - 0.5) {
            continue;
        }
        DetectedClick restored = cut;
        restored.onset -= (wholeMs - cut.lengthMs) * rate / 1000;
        restored.lengthMs = wholeMs;
        restored.kind = shape.kind;
        if (miss(restored) < bestMiss) {
            bestMiss = miss(restored);
            best = restored;
        }
    }
    return best;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--list") {
            options.list = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (name == "--wav") {
            options.wavPath = value;
        } else if (name == "--timing") {
            options.timingPath = value;
        } else if (name == "--bpm") {
            options.bpm = std::atoi(value);
        } else if (name == "--presses") {
            options.pressesPath = value;
        } else if (name == "--grid") {
            options.gridNs = std::atof(value);
        } else {
            return false;
        }
    }
    return !options.wavPath.empty() && !options.timingPath.empty() && options.bpm > 0;
}

std::vector<Run> readRuns(const std::string& path, int bpm) {
    std::vector<Run> runs;
    if (path.empty()) {
        runs.push_back({-std::numeric_limits<double>::infinity(), std::nullopt, bpm});
        return runs;
    }
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        long long start = 0;
        long long stop = 0;
        if (!(fields >> start)) {
            continue;
        }
        Run run{static_cast<double>(start), std::nullopt, bpm};
        if (fields >> stop && stop > 0) {
            run.stopNs = static_cast<double>(stop);
        }
        fields >> run.bpm;
        runs.push_back(run);
    }
    return runs;
}

void printList(const char* key, const std::vector<double>& values) {
    std::printf("%s=", key);
    for (std::size_t k = 0; k < values.size(); ++k) {
        std::printf(k == 0 ? "%.2f" : ",%.2f", values[k]);
    }
    std::printf("\n");
}

void printRange(const char* key, std::vector<double> values) {
    if (values.empty()) {
        return;
    }
    std::ranges::sort(values);
    if (values.size() == 1) {
        std::printf("%s=%.2f\n", key, values.front());
    } else {
        std::printf("%s=%.1f / %.1f / %.1f\n", key, values.front(), values[values.size() / 2],
                    values.back());
    }
}

int run(const Options& options) {
    const MonoRecording recording = readMonoRecording(options.wavPath);
    std::ifstream log(options.timingPath);
    if (!log) {
        std::fprintf(stderr, "rig_analyse: cannot read %s\n", options.timingPath.c_str());
        return 1;
    }
    const TimeMap timeMap = TimeMap::fromLog(log, recording.sampleRate);
    ClickDetectorSettings settings;
    settings.sampleRate = recording.sampleRate;
    const double rate = recording.sampleRate;
    std::vector<DetectedClick> detected = detectClicks(recording.samples, settings);
    markReferenceLeadIn(detected, rate);
    const std::vector<Run> runs = readRuns(options.pressesPath, options.bpm);

    std::vector<TimedClick> program;
    std::vector<DetectedClick> reference;
    for (const DetectedClick& click : detected) {
        // One that sounded as the recording began may be only its end; one still sounding as
        // it ended, only its beginning.
        const double silenceAfter = static_cast<double>(recording.samples.size()) - click.end;
        if (click.onset < 0.005 * rate || silenceAfter <= settings.gapMs * rate / 1000) {
            continue;
        }
        const double at = timeMap.monotonicNsAt(click.onset).value_or(std::nan(""));
        if (options.list) {
            std::printf("click onset=%.3f time_ns=%.0f kind=%c pitch_hz=%.1f length_ms=%.2f\n",
                        click.onset, at, static_cast<char>(click.kind), click.pitchHz,
                        click.lengthMs);
        }
        if (click.kind == ClickKind::reference) {
            reference.push_back(click);
        } else if (click.kind != ClickKind::referencePart) {
            program.push_back({click, at});
        }
    }

    std::string kinds;
    std::string runPatterns;
    int clicks = 0;
    int rewound = 0;
    int afterStop = 0;
    int fragmentsAfterStop = 0;
    int intervals = 0;
    double spanSamples = 0;
    double worstSamples = 0;
    std::vector<double> startLatencies;
    std::vector<double> stopOffsets;
    std::optional<double> lastClickNs;
    double gridWorstMs = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const double nextStart = r + 1 < runs.size() ? runs[r + 1].startNs
                                                     : std::numeric_limits<double>::infinity();
        const double stop = run.stopNs.value_or(nextStart);
        std::vector<DetectedClick> running;
        for (const TimedClick& timed : program) {
            // A click up to 20 ms before the press would be the map's error, not sound.
            if (timed.atNs < run.startNs - 20e6 || timed.atNs >= nextStart - 20e6) {
                continue;
            }
            if (timed.atNs > stop) {
                // Shorter than any clip: a part of one, not a click heard.
                ++(timed.click.lengthMs < kShortestClickMs ? fragmentsAfterStop : afterStop);
            } else {
                running.push_back(timed.click);
            }
        }
        if (!running.empty()) {
            const DetectedClick* next = running.size() > 1 ? &running[1] : nullptr;
            if (const auto restored = restoreStart(running.front(), next,
                                                   recording.sampleRate * 60 / run.bpm,
                                                   recording.sampleRate, detected)) {
                running.front() = *restored;
                ++rewound;
            }
        }
        runPatterns += r == 0 ? "" : ",";
        for (const DetectedClick& click : running) {
            kinds += static_cast<char>(click.kind);
            runPatterns += static_cast<char>(click.kind);
        }
        const double nominalNs = 60e9 / run.bpm;
        clicks += static_cast<int>(running.size());
        for (const DetectedClick& click : running) {
            const auto at = timeMap.monotonicNsAt(click.onset);
            if (at) {
                lastClickNs = *at;
            }
            if (at && options.gridNs) {
                const double off = std::remainder(*at - *options.gridNs, 60e9 / runs.front().bpm);
                gridWorstMs = std::max(gridWorstMs, std::abs(off) / 1e6);
            }
        }
        if (run.startNs > -std::numeric_limits<double>::infinity() && !running.empty()) {
            if (const auto first = timeMap.monotonicNsAt(running.front().onset)) {
                startLatencies.push_back((*first - run.startNs) / 1e6);
            }
        }
        if (run.stopNs && !running.empty()) {
            if (const auto last = timeMap.monotonicNsAt(running.back().onset)) {
                stopOffsets.push_back((*last + nominalNs - *run.stopNs) / 1e6);
            }
        }
        const IntervalStats stats = measureIntervals(running, run.bpm, recording.sampleRate);
        if (stats.intervals > 0) {
            intervals += stats.intervals;
            spanSamples += stats.meanMs * stats.intervals * recording.sampleRate / 1000;
            worstSamples = std::max(worstSamples, stats.worstDeviationSamples);
        }
    }

    std::printf("clicks=%d\n", clicks);
    std::printf("rewound_first_clicks=%d\n", rewound);
    std::printf("pattern=%s\n", kinds.c_str());
    std::printf("pattern_summary=%s\n", summarizePattern(kinds).c_str());
    std::printf("pattern_runs=%s\n", runPatterns.c_str());
    if (intervals > 0) {
        std::printf("intervals=%d\n", intervals);
        std::printf("mean_interval_ms=%.6f\n", spanSamples / intervals * 1000 / recording.sampleRate);
        std::printf("worst_deviation_samples=%.3f\n", worstSamples);
        std::printf("worst_deviation_ms=%.4f\n", worstSamples * 1000 / recording.sampleRate);
    }
    if (!startLatencies.empty()) {
        printList("start_latencies_ms", startLatencies);
        printRange("start_latency_ms", startLatencies);
    }
    if (!stopOffsets.empty()) {
        printList("stop_before_beat_ms", stopOffsets);
    }
    if (!options.pressesPath.empty()) {
        std::printf("clicks_after_stop=%d\n", afterStop);
        std::printf("fragments_after_stop=%d\n", fragmentsAfterStop);
    }
    if (lastClickNs) {
        std::printf("last_click_ns=%.0f\n", *lastClickNs);
    }
    if (options.gridNs && clicks > 0) {
        std::printf("grid_worst_ms=%.3f\n", gridWorstMs);
    }
    std::printf("reference_clicks=%zu\n", reference.size());
    if (reference.size() >= 2) {
        const IntervalStats stats = measureIntervals(reference, options.bpm, recording.sampleRate);
        std::printf("reference_worst_deviation_samples=%.3f\n", stats.worstDeviationSamples);
    }
    std::printf("sink_drift_ppm=%.1f\n", timeMap.driftPpm());
    std::printf("anchor_stray_ms=%.3f / %.3f\n", timeMap.medianStrayNs() / 1e6,
                timeMap.wideStrayNs() / 1e6);
    return 0;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    vindelor::rig::Options options;
    if (!vindelor::rig::parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: rig_analyse --wav FILE --timing FILE --bpm N [--presses FILE] "
                     "[--grid NS] [--list]\n");
        return 2;
    }
    try {
        return vindelor::rig::run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rig_analyse: %s\n", error.what());
        return 1;
    }
}
