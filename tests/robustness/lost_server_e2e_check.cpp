// Judges the recordings of lost_server_e2e.sh: after the sound server answers (at start, when
// the program began without one, and again after it was killed under the running program),
// the clicks sound again within 2 s and keep the beat of 120 BPM.
//
//   lost_server_e2e_check --monotonic-ns    prints CLOCK_MONOTONIC now, for the script
//   lost_server_e2e_check                   the tests; LOST_E2E_DIR names the folder holding
//                                           NAME.wav, NAME.timing and NAME.answered (the
//                                           monotonic ns the server answered at) for the
//                                           recordings "first" and "second"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/rig/click_detector.h"
#include "bench/rig/mono_recording.h"
#include "bench/rig/time_map.h"

namespace vindelor::rig {
namespace {

constexpr double kResumeWithinMs = 2000;
constexpr double kIntervalMs = 500;  // 120 BPM, the tempo at start
constexpr double kToleranceMs = 15;

// Click onsets of one recording, in ms after the server answered.
std::vector<double> clicksAfterAnswer(const std::string& name) {
    const char* folder = std::getenv("LOST_E2E_DIR");
    if (folder == nullptr) {
        throw std::runtime_error("LOST_E2E_DIR is not set");
    }
    const std::string base = std::string(folder) + "/" + name;
    const MonoRecording recording = readMonoRecording(base + ".wav");
    std::ifstream log(base + ".timing");
    const TimeMap map = TimeMap::fromLog(log, recording.sampleRate);
    std::ifstream answeredFile(base + ".answered");
    double answeredNs = 0;
    if (!(answeredFile >> answeredNs)) {
        throw std::runtime_error("no time in " + base + ".answered");
    }
    ClickDetectorSettings settings;
    settings.sampleRate = recording.sampleRate;
    std::vector<double> clicks;
    for (const DetectedClick& click : detectClicks(recording.samples, settings)) {
        const auto at = map.monotonicNsAt(click.onset);
        if (!at) {
            throw std::runtime_error("a click lies outside the recorder's timing log");
        }
        clicks.push_back((*at - answeredNs) / 1e6);
    }
    return clicks;
}

class LostServerEndToEnd : public testing::TestWithParam<const char*> {};

TEST_P(LostServerEndToEnd, ClicksSoundWithinTwoSecondsOfTheServerAnswering) {
    const std::vector<double> clicks = clicksAfterAnswer(GetParam());
    ASSERT_FALSE(clicks.empty()) << "no click after the server answered";
    EXPECT_LE(clicks.front(), kResumeWithinMs);
    std::cout << GetParam() << ": first click " << clicks.front()
              << " ms after the server answered\n";
}

TEST_P(LostServerEndToEnd, TheClicksThenKeepTheBeat) {
    const std::vector<double> clicks = clicksAfterAnswer(GetParam());
    // Four seconds are recorded; the first click may come up to two seconds in.
    ASSERT_GE(clicks.size(), 4u);
    // The first beat anchors the stream anew; from the second on they are on the grid.
    for (std::size_t i = 2; i < clicks.size(); ++i) {
        EXPECT_NEAR(clicks[i] - clicks[i - 1], kIntervalMs, kToleranceMs) << "click " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(AtStartAndAfterTheServerDied, LostServerEndToEnd,
                         testing::Values("first", "second"));

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--monotonic-ns") {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::cout << static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec << "\n";
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
