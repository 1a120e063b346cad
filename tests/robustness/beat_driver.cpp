#include "tests/robustness/beat_driver.h"

#include <algorithm>
#include <thread>

#include "engine/click_clip.h"
#include "resources/embedded_resources.h"
#include "sound/click_sound_bank.h"

namespace vindelor::test {

BeatDriver::BeatDriver(PulseClickOutput& output) : output_(output) {
    for (const ClickClip clip : kAllClickClips) {
        output_.prepare(clip, *findEmbeddedResource(kClipResourceType, resourceIdOf(clip)));
    }
}

template <typename Call>
auto BeatDriver::timed(Call call) {
    const Nanoseconds before = clock_.now();
    auto result = call();
    longestCall_ = std::max(longestCall_, clock_.now() - before);
    return result;
}

void BeatDriver::beat() {
    const ClickClip clip = kAllClickClips[beats_ % 3];
    timed([&] {
        const Nanoseconds now = clock_.now();
        output_.play(clip, now + output_.lead(), now, startsRun_);
        return 0;
    });
    startsRun_ = false;
    ++beats_;
}

void BeatDriver::stop() {
    timed([&] {
        output_.stop(clock_.now());
        return 0;
    });
    startsRun_ = true;
}

bool BeatDriver::sounding() {
    return timed([&] { return output_.connected() && output_.playbackTime().has_value(); });
}

bool BeatDriver::beatUntil(const std::function<bool()>& done, Nanoseconds limit,
                           Nanoseconds interval) {
    const Nanoseconds end = clock_.now() + limit;
    Nanoseconds nextBeat = clock_.now();
    while (clock_.now() < end) {
        if (clock_.now() >= nextBeat) {
            beat();
            nextBeat += interval;
        }
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

void BeatDriver::beatFor(Nanoseconds span, Nanoseconds interval) {
    beatUntil([] { return false; }, span, interval);
}

}  // namespace vindelor::test
