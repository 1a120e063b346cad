// Finds the clicks in a monitor recording and reports, as key=value lines, how steady they
// were and when they sounded against the presses that started and stopped them.
//
//   rig_analyse --wav rec.wav --timing rec.timing --bpm 120
//               [--start-ns T] [--stop-ns T] [--starts FILE] [--list]
//
// Intervals are measured in the recording's own samples (the sink's clock); times of presses
// are CLOCK_MONOTONIC and are compared through the recorder's timing log. Clicks after the
// Stop press are counted, and kept out of the interval figures. --starts names a file of
// press times, one a line: the start latency of each (to the first click after it) is listed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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
    std::optional<std::int64_t> startNs;
    std::optional<std::int64_t> stopNs;
    std::string startsPath;
    bool list = false;
};

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
        } else if (name == "--start-ns") {
            options.startNs = std::atoll(value);
        } else if (name == "--stop-ns") {
            options.stopNs = std::atoll(value);
        } else if (name == "--starts") {
            options.startsPath = value;
        } else {
            return false;
        }
    }
    return !options.wavPath.empty() && !options.timingPath.empty() && options.bpm > 0;
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
    const std::vector<DetectedClick> all = detectClicks(recording.samples, settings);

    std::vector<DetectedClick> running;
    std::string kinds;
    int afterStop = 0;
    double firstAfterStopMs = 0;
    for (const DetectedClick& click : all) {
        const auto at = timeMap.monotonicNsAt(click.onset);
        if (options.list) {
            std::printf("click onset=%.3f time_ns=%.0f kind=%c pitch_hz=%.1f length_ms=%.2f\n",
                        click.onset, at.value_or(0), static_cast<char>(click.kind), click.pitchHz,
                        click.lengthMs);
        }
        if (options.stopNs && at && *at > static_cast<double>(*options.stopNs)) {
            if (afterStop++ == 0) {
                firstAfterStopMs = (*at - static_cast<double>(*options.stopNs)) / 1e6;
            }
            continue;
        }
        running.push_back(click);
        kinds += static_cast<char>(click.kind);
    }

    std::printf("clicks=%zu\n", running.size());
    std::printf("pattern=%s\n", kinds.c_str());
    std::printf("pattern_summary=%s\n", summarizePattern(kinds).c_str());
    const IntervalStats stats = measureIntervals(running, options.bpm, recording.sampleRate);
    std::printf("nominal_ms=%.6f\n", stats.nominalMs);
    if (stats.intervals > 0) {
        std::printf("mean_interval_ms=%.6f\n", stats.meanMs);
        std::printf("mean_error_ms=%.6f\n", stats.meanMs - stats.nominalMs);
        std::printf("worst_deviation_ms=%.4f\n", stats.worstDeviationMs);
        std::printf("worst_deviation_samples=%.3f\n", stats.worstDeviationSamples);
        for (const auto& [kind, offset] : stats.onsetOffsetSamples) {
            std::printf("onset_offset_%c_samples=%.3f\n", static_cast<char>(kind), offset);
        }
    }
    if (options.startNs && !running.empty()) {
        const auto first = timeMap.monotonicNsAt(running.front().onset);
        if (first) {
            std::printf("start_latency_ms=%.2f\n",
                        (*first - static_cast<double>(*options.startNs)) / 1e6);
        }
    }
    if (options.stopNs) {
        std::printf("clicks_after_stop=%d\n", afterStop);
        if (afterStop > 0) {
            std::printf("first_after_stop_ms=%.2f\n", firstAfterStopMs);
        }
    }
    if (!options.startsPath.empty()) {
        std::ifstream starts(options.startsPath);
        if (!starts) {
            std::fprintf(stderr, "rig_analyse: cannot read %s\n", options.startsPath.c_str());
            return 1;
        }
        std::vector<double> latencies;
        int silent = 0;
        long long pressNs = 0;
        while (starts >> pressNs) {
            const auto press = static_cast<double>(pressNs);
            std::optional<double> latency;
            for (const DetectedClick& click : all) {
                const auto at = timeMap.monotonicNsAt(click.onset);
                // A click up to 20 ms before the press would be the clock's error, not sound.
                if (at && *at > press - 20e6) {
                    latency = (*at - press) / 1e6;
                    break;
                }
            }
            if (latency) {
                latencies.push_back(*latency);
            } else {
                ++silent;
            }
        }
        std::printf("start_latencies_ms=");
        for (std::size_t k = 0; k < latencies.size(); ++k) {
            std::printf(k == 0 ? "%.2f" : ",%.2f", latencies[k]);
        }
        std::printf("\n");
        std::printf("starts_without_click=%d\n", silent);
        if (!latencies.empty()) {
            std::ranges::sort(latencies);
            std::printf("start_latency_range_ms=%.1f / %.1f / %.1f\n", latencies.front(),
                        latencies[latencies.size() / 2], latencies.back());
        }
    }
    std::printf("sink_drift_ppm=%.1f\n", timeMap.driftPpm());
    std::printf("monitor_latency_ms=%.3f\n", timeMap.medianLatencyNs() / 1e6);
    std::printf("monitor_latency_spread_ms=%.3f\n", timeMap.latencySpreadNs() / 1e6);
    return 0;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    vindelor::rig::Options options;
    if (!vindelor::rig::parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: rig_analyse --wav FILE --timing FILE --bpm N [--start-ns T] "
                     "[--stop-ns T] [--starts FILE] [--list]\n");
        return 2;
    }
    try {
        return vindelor::rig::run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rig_analyse: %s\n", error.what());
        return 1;
    }
}
