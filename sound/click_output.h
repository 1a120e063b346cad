#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "engine/click_clip.h"

namespace vindelor {

// Where the clicks sound. Window's thread only; every call returns at once and a failure to
// sound is silent. Times are on the tick timer's clock.
class ClickOutput {
  public:
    virtual ~ClickOutput() = default;

    // Hands over one clip's RIFF/WAVE image, once, before the first play. The output keeps
    // what it needs of it: the bytes may go once this returns.
    virtual void prepare(ClickClip clip, std::span<const std::uint8_t> image) = 0;

    // Sounds `clip` for the beat due at `due`, handed over at `now`, cutting off any click
    // still sounding. The first beat of a run (`startsRun`) sounds as soon as the output can;
    // the others keep their distance from it exactly, to the frame.
    virtual void play(ClickClip clip, std::chrono::nanoseconds due, std::chrono::nanoseconds now,
                      bool startsRun) = 0;

    // The run has stopped at `now`: a click placed ahead for a beat not yet due does not
    // sound, unless the sound server has already taken it to mix.
    virtual void stop(std::chrono::nanoseconds now) = 0;
};

// What the bank needs to know of the beat being sounded.
class BeatTiming {
  public:
    virtual ~BeatTiming() = default;
    virtual std::chrono::nanoseconds dueOfCurrentBeat() const = 0;
    virtual bool currentBeatStartsRun() const = 0;
    // The time now, on the clock the due times are on.
    virtual std::chrono::nanoseconds now() const = 0;
};

}  // namespace vindelor
