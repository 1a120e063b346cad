// The pulse output under a storm of calls from the window's thread while its server thread
// runs against a real (private) sound server. Built with ThreadSanitizer too, where every
// hand-off between the two threads is checked.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "engine/click_clip.h"
#include "sound/pulse_click_output.h"
#include "tests/robustness/beat_driver.h"
#include "tests/robustness/private_server.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

// Longer than any connection to a local server takes, however loaded the machine: only a
// limit for a test that would otherwise wait for ever.
constexpr Nanoseconds kPatience = 20s;

// Clients of the private server, pactl's own connection included.
int serverClients() {
    FILE* list = popen("pactl list short clients 2>/dev/null", "r");
    if (list == nullptr) {
        return -1;
    }
    int lines = 0;
    for (int c = std::fgetc(list); c != EOF; c = std::fgetc(list)) {
        lines += c == '\n' ? 1 : 0;
    }
    return pclose(list) == 0 ? lines : -1;
}

class PulseOutputStressTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!test::PrivateServer::available()) {
            GTEST_SKIP() << "needs the private sound server of private_pulse.sh";
        }
    }
};

TEST_F(PulseOutputStressTest, ThousandsOfMixedCallsLeaveTheOutputWholeAndPlaying) {
    PulseClickOutput output;
    test::BeatDriver driver(output);
    ASSERT_TRUE(driver.beatUntil([&] { return driver.sounding(); }, kPatience));

    std::mt19937 random(1234);
    MonotonicClock clock;
    bool stopped = false;
    int sawClock = 0;
    for (int i = 0; i < 5000; ++i) {
        const int what = static_cast<int>(random() % 100);
        if (what < 55) {
            // Now and then a new run, even in the middle of one.
            const bool startsRun = stopped || random() % 25 == 0;
            output.play(kAllClickClips[random() % 3], clock.now() + output.lead(), clock.now(),
                        startsRun);
            stopped = false;
        } else if (what < 60) {
            output.stop(clock.now());
            stopped = true;
        } else if (what < 80) {
            sawClock += output.playbackTime().has_value() ? 1 : 0;
        } else if (what < 90) {
            const Nanoseconds lead = output.lead();
            ASSERT_GE(lead, 25ms);
            ASSERT_LE(lead, 250ms);
        } else {
            ASSERT_TRUE(output.connected()) << "the server was there all along";
        }
        if (random() % 4 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
        if (i % 1000 == 999) {
            // A burst faster than the server's thread takes requests in: more than it queues.
            for (int j = 0; j < 300; ++j) {
                output.play(kAllClickClips[j % 3], clock.now() + output.lead(), clock.now(), j == 0);
            }
            output.stop(clock.now());
            stopped = true;
        }
    }
    EXPECT_GT(sawClock, 0);

    // After the storm, a run starts and its clock runs as on the first day.
    driver.stop();
    ASSERT_TRUE(driver.beatUntil([&] { return driver.sounding(); }, kPatience));
    const Nanoseconds first = *output.playbackTime();
    ASSERT_TRUE(driver.beatUntil(
        [&] {
            const auto now = output.playbackTime();
            return now && *now > first + 100ms;
        },
        kPatience));
}

TEST_F(PulseOutputStressTest, OutputsComingAndGoingWhileTheyConnectLeaveNoClientBehind) {
    const int before = serverClients();
    ASSERT_GE(before, 1);
    std::mt19937 random(99);
    for (int i = 0; i < 40; ++i) {
        auto output = std::make_unique<PulseClickOutput>();
        test::BeatDriver driver(*output);
        // Gone at once, while connecting, or once the stream is up and a run is on.
        if (i % 3 == 1) {
            driver.beat();
        } else if (i % 3 == 2) {
            ASSERT_TRUE(driver.beatUntil([&] { return output->connected(); }, kPatience));
            driver.beatFor(std::chrono::milliseconds(random() % 40));
        }
        output.reset();
    }
    bool allGone = false;
    for (int i = 0; i < 400 && !allGone; ++i) {
        allGone = serverClients() == before;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(allGone) << serverClients() << " clients, " << before << " before";
}

}  // namespace
}  // namespace vindelor
