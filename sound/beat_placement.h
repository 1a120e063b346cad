#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "click_track.h"
#include "request_ring.h"
#include "stream_clock.h"

namespace vindelor {

// Where each beat of a run goes in the stream, and how early beats must be handed over for
// that: the rules between the beat clock, the stream's clock and the click track. Plain
// arithmetic, no I/O. Loop lock held.
//
// A run is anchored on one beat: its first, or the first after the stream came back. Every
// later beat goes at the anchor's frame plus its distance from the anchor's due time, so that
// intervals are exact to the frame. The anchor itself goes where its due time falls on the
// stream, or, if the server has already taken that, as soon as it can sound whole.
class BeatPlacement {
  public:
    // Beyond how far ahead the server takes data, a beat is handed over this much earlier:
    // room for the look that writes it (up to RequestRing::kLookWindow after the hand-off)
    // and for a late wake-up of either thread, which on a busy machine reaches 20 ms and on
    // a shared virtual machine more than 30. A tempo change reaches a beat that much later.
    static constexpr std::chrono::nanoseconds kLeadMargin = std::chrono::milliseconds(50);
    // The lead until the stream's clock is known, and the most it may be.
    static constexpr std::chrono::nanoseconds kUnknownLead = std::chrono::milliseconds(120);
    static constexpr std::chrono::nanoseconds kMaxLead = std::chrono::milliseconds(500);
    // A click handed over too late goes this far beyond what the server may have taken.
    static constexpr std::chrono::nanoseconds kWriteMargin = std::chrono::milliseconds(3);
    // A beat that waited for the stream is dropped once this late, unless it starts the run.
    static constexpr std::chrono::nanoseconds kStaleBeat = std::chrono::milliseconds(100);
    // A run's first click, and a beat handed over late, on a sink that rewinds go at least
    // this far beyond what plays.
    static constexpr std::chrono::nanoseconds kStartMargin = std::chrono::milliseconds(2);

    // `quantized`: the server reads in whole quanta (PipeWire's), of `unknownQuantum` frames
    // until it shows its own.
    BeatPlacement(FrameRate rate, bool quantized, Frames unknownQuantum = 0);

    StreamClock& clock() { return clock_; }
    const StreamClock& clock() const { return clock_; }
    const ClickTrack& track() const { return track_; }

    // Forgets the run (a new one starts, or the stream is gone).
    void forgetRun() { track_.reset(); }

    // The run's first click went in at `frame` (the read position of a corked stream).
    void anchorAt(const OutputRequest& beat, Frames frame, Frames length);
    // Anchors the run on `beat`, handed over before the stream's clock was known, now that it
    // is: where it goes, or none if it waited too long to be worth sounding, or if it can no
    // longer go where its due time falls and may not move (`mayMove`): a run that goes on
    // over a new stream keeps its grid. On a sink that `rewinds` it may go behind what the
    // server has taken, as long as that has not yet played: the server has the sink mix that
    // part again. Needs a clock.
    std::optional<Frames> anchor(const OutputRequest& beat, Frames length, MonotonicTime now,
                                 bool rewinds, bool mayMove);
    // A later beat of the anchored run: what to write. One handed over late goes where the
    // server has not yet taken data, unless the sink `rewinds`: then it keeps its place on the
    // grid as long as that has not yet played, and the server mixes that part again.
    ClickTrack::Write place(const OutputRequest& beat, Frames length, MonotonicTime now,
                            bool rewinds);
    // Stop, handed over at `stop.handed`: what to zero so that no click that would start
    // sounding after it sounds. A server that has already taken a click and cannot rewind
    // plays it all the same.
    std::optional<ClickTrack::Write> withdrawAfter(const OutputRequest& stop);

    // How long before its due time a beat must be handed over to be placed exactly: how far
    // ahead of what plays the server takes data, how far the run's grid lies behind what
    // played when its anchor was handed over, and a margin.
    std::chrono::nanoseconds lead() const;

    // The first frame the server has surely not yet taken at `now`. Needs a clock.
    Frames untakenAt(MonotonicTime now) const;

  private:
    // Where a click may go at `now`: beyond what the server may have taken, or, on a sink
    // that `rewinds`, just beyond what plays.
    Frames earliestAt(MonotonicTime now, bool rewinds) const;

    StreamClock clock_;
    ClickTrack track_;
    MonotonicTime anchorHanded_;
    std::chrono::nanoseconds anchorAhead_{0};
};

}  // namespace vindelor
