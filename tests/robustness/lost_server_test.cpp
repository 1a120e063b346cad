// The sound server comes and goes under a running clicker: without one the output is silent
// and the beats go on, no call waits for it and nothing is printed; once one answers again,
// clicks sound again without a restart.

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sound/pulse_click_output.h"
#include "tests/robustness/beat_driver.h"
#include "tests/robustness/private_server.h"
#include "tests/robustness/stdio_capture.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

// How soon after a server answers again the clicks must sound again.
constexpr Nanoseconds kResumeWithin = 2s;
// No call from the window's thread may wait on the server. They take microseconds; one that
// takes this long is waiting for something.
constexpr Nanoseconds kStall = 1s;
// Only a limit for a test that would otherwise wait for ever.
constexpr Nanoseconds kPatience = 20s;

class LostServerTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!test::PrivateServer::available()) {
            GTEST_SKIP() << "needs the private sound server of private_pulse.sh";
        }
        test::PrivateServer::start();  // whatever the test before left
    }

    // Starts the server again and beats until the clicks sound; how long that took after the
    // server answered, or none.
    static std::optional<Nanoseconds> restartAndAwaitClicks(test::BeatDriver& driver) {
        test::PrivateServer::start();
        const MonotonicClock clock;
        const Nanoseconds answered = clock.now();
        if (!driver.beatUntil([&] { return driver.sounding(); }, kPatience)) {
            return std::nullopt;
        }
        return clock.now() - answered;
    }

    static std::string capturePath() {
        return test::PrivateServer::folder() + "/captured-stdio.txt";
    }
};

TEST_F(LostServerTest, WithoutAServerAtStartTheBeatsGoOnSilentlyUntilOneAnswers) {
    test::PrivateServer::stop();
    test::StdioCapture terminal(capturePath());
    PulseClickOutput output;
    test::BeatDriver driver(output);

    bool everSounded = false;
    driver.beatUntil(
        [&] {
            everSounded = everSounded || output.connected() || output.playbackTime().has_value();
            return false;
        },
        1500ms);
    driver.stop();
    driver.beatFor(500ms);
    const std::int64_t silentBeats = driver.beats();
    const auto resumedAfter = restartAndAwaitClicks(driver);
    const std::string printed = terminal.finish();

    EXPECT_FALSE(everSounded);
    EXPECT_GE(silentBeats, 20);
    ASSERT_TRUE(resumedAfter.has_value()) << "no clicks once the server was up";
    EXPECT_LE(*resumedAfter, kResumeWithin) << "after " << resumedAfter->count() / 1e6 << " ms";
    EXPECT_LT(driver.longestCall(), kStall) << driver.longestCall().count() / 1e6 << " ms";
    EXPECT_EQ(printed, "");
    std::cout << "clicks resumed " << resumedAfter->count() / 1e6
              << " ms after the server answered\n";
}

TEST_F(LostServerTest, AServerThatDiesMidRunIsTakenUpAgainEachTimeItReturns) {
    PulseClickOutput output;
    test::BeatDriver driver(output);
    ASSERT_TRUE(driver.beatUntil([&] { return driver.sounding(); }, kPatience));

    test::StdioCapture terminal(capturePath());
    std::vector<Nanoseconds> resumedAfter;
    bool silentWhileGone = true;
    for (int loss = 0; loss < 3; ++loss) {
        test::PrivateServer::stop();
        const std::int64_t beatsBefore = driver.beats();
        // The beats go on without the server; within a moment the output knows it is gone.
        driver.beatFor(1500ms);
        silentWhileGone = silentWhileGone && driver.beats() - beatsBefore >= 20 &&
                          !output.connected() && !output.playbackTime().has_value();
        if (const auto after = restartAndAwaitClicks(driver)) {
            resumedAfter.push_back(*after);
        }
    }
    const std::string printed = terminal.finish();

    EXPECT_TRUE(silentWhileGone);
    ASSERT_EQ(resumedAfter.size(), 3u) << "a return of the server went unnoticed";
    for (const Nanoseconds after : resumedAfter) {
        EXPECT_LE(after, kResumeWithin) << "after " << after.count() / 1e6 << " ms";
        std::cout << "clicks resumed " << after.count() / 1e6 << " ms after the server answered\n";
    }
    EXPECT_LT(driver.longestCall(), kStall) << driver.longestCall().count() / 1e6 << " ms";
    EXPECT_EQ(printed, "");
}

TEST_F(LostServerTest, AServerLostWhileStoppedIsFoundAgainAtTheNextStart) {
    PulseClickOutput output;
    test::BeatDriver driver(output);
    ASSERT_TRUE(driver.beatUntil([&] { return driver.sounding(); }, kPatience));
    driver.stop();

    test::StdioCapture terminal(capturePath());
    test::PrivateServer::stop();
    std::this_thread::sleep_for(1500ms);
    test::PrivateServer::start();
    const MonotonicClock clock;
    const Nanoseconds started = clock.now();
    const bool sounds = driver.beatUntil([&] { return driver.sounding(); }, kPatience);
    const Nanoseconds after = clock.now() - started;
    const std::string printed = terminal.finish();

    ASSERT_TRUE(sounds);
    EXPECT_LE(after, kResumeWithin) << "after " << after.count() / 1e6 << " ms";
    EXPECT_EQ(printed, "");
    std::cout << "clicks resumed " << after.count() / 1e6 << " ms after the server answered\n";
}

}  // namespace
}  // namespace vindelor
