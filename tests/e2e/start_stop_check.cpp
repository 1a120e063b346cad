// Judges the recording of run_e2e.sh: what sounded between Start, a spin press and Stop.
// Inputs come from the environment: E2E_RECORDING (WAV), E2E_TIMING (the recorder's log) and
// the CLOCK_MONOTONIC times E2E_START_NS, E2E_SPIN_NS and E2E_STOP_NS of the presses.
// Tolerances are loose on purpose: this checks what the user hears, not how precisely.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/rig/click_detector.h"
#include "bench/rig/mono_recording.h"
#include "bench/rig/time_map.h"

namespace vindelor::rig {
namespace {

constexpr double kToleranceMs = 15;
// A beat already handed to the sound output when the tempo changes keeps its place; the
// output takes a beat this long before it is due, at most.
constexpr double kOutputLeadMs = 100;

struct HeardClick {
    double atMs;  // after the Start press
    ClickKind kind;
};

struct Session {
    std::vector<HeardClick> clicks;
    double spinMs = 0;
    double stopMs = 0;
    double recordedUntilMs = 0;
};

double environmentNumber(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        throw std::runtime_error(std::string(name) + " is not set");
    }
    return std::stod(value);
}

Session load() {
    const char* wav = std::getenv("E2E_RECORDING");
    const char* timing = std::getenv("E2E_TIMING");
    if (wav == nullptr || timing == nullptr) {
        throw std::runtime_error("E2E_RECORDING and E2E_TIMING must name the recording");
    }
    const MonoRecording recording = readMonoRecording(wav);
    std::ifstream log(timing);
    const TimeMap map = TimeMap::fromLog(log, recording.sampleRate);
    const double startNs = environmentNumber("E2E_START_NS");
    Session session;
    session.spinMs = (environmentNumber("E2E_SPIN_NS") - startNs) / 1e6;
    session.stopMs = (environmentNumber("E2E_STOP_NS") - startNs) / 1e6;
    const auto end = map.monotonicNsAt(static_cast<double>(recording.samples.size()));
    session.recordedUntilMs = end ? (*end - startNs) / 1e6 : 0;
    ClickDetectorSettings settings;
    settings.sampleRate = recording.sampleRate;
    for (const DetectedClick& click : detectClicks(recording.samples, settings)) {
        const auto at = map.monotonicNsAt(click.onset);
        if (!at) {
            throw std::runtime_error("a click lies outside the recorder's timing log");
        }
        session.clicks.push_back({(*at - startNs) / 1e6, click.kind});
    }
    return session;
}

const Session& session() {
    static const Session loaded = load();
    return loaded;
}

std::string describe(const std::vector<HeardClick>& clicks) {
    std::string text;
    for (const HeardClick& click : clicks) {
        text += "  " + std::string(1, static_cast<char>(click.kind)) + " at " +
                std::to_string(click.atMs) + " ms\n";
    }
    return text.empty() ? "  (no clicks)\n" : text;
}

std::vector<HeardClick> clicksBetween(double fromMs, double toMs) {
    std::vector<HeardClick> found;
    for (const HeardClick& click : session().clicks) {
        if (click.atMs > fromMs && click.atMs <= toMs) {
            found.push_back(click);
        }
    }
    return found;
}

TEST(StartAt120In4By4, SoundsTheFirstClickAtOnceAsTheAccent) {
    const auto& clicks = session().clicks;
    ASSERT_FALSE(clicks.empty()) << "nothing sounded after Start";
    EXPECT_EQ(clicks.front().kind, ClickKind::accent) << describe(clicks);
    // Before the press nothing sounds; the first click belongs to the press, not a beat later.
    EXPECT_GE(clicks.front().atMs, -2.0) << describe(clicks);
    EXPECT_LT(clicks.front().atMs, 250.0) << describe(clicks);
}

TEST(StartAt120In4By4, RepeatsAnAccentAndThreeNormalClicks) {
    const auto clicks = clicksBetween(-1e9, session().stopMs);
    ASSERT_GE(clicks.size(), 8u) << describe(clicks);
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        const ClickKind expected = k % 4 == 0 ? ClickKind::accent : ClickKind::normal;
        EXPECT_EQ(clicks[k].kind, expected) << "beat " << k << "\n" << describe(clicks);
    }
}

TEST(StartAt120In4By4, KeepsFiveHundredMillisecondsBetweenBeats) {
    const auto clicks = clicksBetween(-1e9, session().spinMs);
    ASSERT_GE(clicks.size(), 4u) << describe(clicks);
    for (std::size_t k = 1; k < clicks.size(); ++k) {
        EXPECT_NEAR(clicks[k].atMs - clicks[k - 1].atMs, 500.0, kToleranceMs)
            << "between beats " << k - 1 << " and " << k << "\n"
            << describe(clicks);
    }
}

TEST(ASpinUpPressWhileRunning, ShortensTheIntervalTo480FromTheNextBeat) {
    const Session& s = session();
    const auto before = clicksBetween(-1e9, s.spinMs);
    const auto after = clicksBetween(s.spinMs, s.stopMs);
    ASSERT_FALSE(before.empty()) << describe(s.clicks);
    ASSERT_GE(after.size(), 3u) << describe(s.clicks);
    double previous = before.back().atMs;
    int atNewTempo = 0;
    for (const HeardClick& click : after) {
        const double interval = click.atMs - previous;
        previous = click.atMs;
        if (click.atMs <= s.spinMs + kOutputLeadMs) {
            // Already queued at the press: it may keep the old distance.
            EXPECT_TRUE(std::abs(interval - 500.0) <= kToleranceMs ||
                        std::abs(interval - 480.0) <= kToleranceMs)
                << describe(s.clicks);
            continue;
        }
        ++atNewTempo;
        EXPECT_NEAR(interval, 480.0, kToleranceMs) << describe(s.clicks);
        EXPECT_LT(std::abs(interval - 480.0), std::abs(interval - 500.0))
            << "the interval ending at " << click.atMs << " ms is nearer the old tempo's\n"
            << describe(s.clicks);
    }
    EXPECT_GE(atNewTempo, 2) << describe(s.clicks);
}

TEST(StopWhileRunning, SilencesTheClicks) {
    const Session& s = session();
    ASSERT_GT(s.recordedUntilMs, s.stopMs + 1000) << "the recording ended too soon after Stop";
    EXPECT_TRUE(clicksBetween(s.stopMs, 1e12).empty())
        << "Stop was pressed at " << s.stopMs << " ms\n"
        << describe(s.clicks);
}

}  // namespace
}  // namespace vindelor::rig
