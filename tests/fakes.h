#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sound/click_output.h"
#include "timer/clock.h"

namespace vindelor {

// A as the accent, T as the "3 / 4" accent, n as the ordinary click.
inline char letterOf(ClickClip clip) {
    return clip == ClickClip::AccentClick ? 'A' : clip == ClickClip::TripleAccentClick ? 'T' : 'n';
}

// The tests' sound output: hears what is asked of it, `heard` spelling the clips.
class FakeClickOutput final : public ClickOutput {
  public:
    struct Play {
        ClickClip clip;
        std::chrono::nanoseconds due;
        std::chrono::nanoseconds now;
        bool startsRun;
    };

    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        prepared.push_back(clip);
        (void)image;
    }
    void play(ClickClip clip, std::chrono::nanoseconds due, std::chrono::nanoseconds now,
              bool startsRun) override {
        heard += letterOf(clip);
        last = {clip, due, now, startsRun};
    }
    void stop(std::chrono::nanoseconds now) override { stops.push_back(now); }

    std::vector<ClickClip> prepared;
    std::string heard;
    Play last{};
    std::vector<std::chrono::nanoseconds> stops;
};

// A clock that moves only when told.
class FakeClock final : public Clock {
  public:
    Nanoseconds now() const override { return time; }
    void advance(Nanoseconds by) { time += by; }
    Nanoseconds time{std::chrono::seconds{1000}};
};

}  // namespace vindelor
