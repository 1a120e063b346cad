#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "stream_time.h"

namespace vindelor {

// Where the clicks of a run go in the output stream, counted in frames from the stream's
// start. Plain arithmetic, no I/O: the output asks it what to write and writes that.
//
// The run's first click is anchored at the frame where it was written; every later beat sounds
// at the anchor plus its distance from the first beat's due time, rounded once to a whole
// frame, so that intervals are exact to the sample and never accumulate rounding.
// One voice: a click cuts off whatever the click before it still had to sound.
class ClickTrack {
  public:
    struct Write {
        Frames frame;          // where the write starts
        Frames clipFrames;     // clip samples written from there
        Frames silenceFrames;  // zeros after them, over what an earlier click still had
        bool operator==(const Write&) const = default;
    };

    explicit ClickTrack(FrameRate rate) : rate_(rate) {}

    // Forgets the run: the next click needs a new anchor.
    void reset();
    // The first click of a run, for the beat due at `due`, was written at `frame`, `length`
    // frames long.
    void anchor(BeatTime due, Frames frame, Frames length);
    bool anchored() const { return anchored_; }
    // Where the run's first click went. Needs an anchor.
    Frames anchorFrame() const { return anchorFrame_; }
    // The due time of the beat there. Needs an anchor.
    BeatTime anchorDue() const { return anchorDue_; }

    // The frame where the beat due at `due` sounds. Needs an anchor.
    Frames frameOf(BeatTime due) const;

    // Places a click of `length` frames at `frame`, or at `earliest` if that is later (a beat
    // handed over too late to sound on time sounds as soon as it can, whole).
    Write place(Frames frame, Frames length, Frames earliest);

    // What to zero so that no click starting after `frame` sounds; none if nothing is there.
    std::optional<Write> withdrawAfter(Frames frame);

  private:
    void remember(Frames start, Frames end);

    FrameRate rate_;
    bool anchored_ = false;
    BeatTime anchorDue_;
    Frames anchorFrame_ = 0;
    // Starts of the clicks placed most recently, oldest first, and where the last one ends.
    static constexpr std::size_t kRemembered = 8;
    std::array<Frames, kRemembered> starts_{};
    std::size_t startCount_ = 0;
    Frames end_ = 0;
};

}  // namespace vindelor
