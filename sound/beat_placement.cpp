#include "beat_placement.h"

#include <algorithm>

namespace vindelor {

BeatPlacement::BeatPlacement(FrameRate rate, bool quantized, Frames unknownQuantum)
    : clock_(rate, quantized), track_(rate) {
    clock_.setUnknownQuantum(unknownQuantum);
}

void BeatPlacement::anchorAt(const OutputRequest& beat, Frames frame, Frames length) {
    track_.anchor(beat.due, frame, length);
    anchorHanded_ = beat.handed;
    anchorAhead_ = beat.ahead;
}

Frames BeatPlacement::untakenAt(MonotonicTime now) const {
    return clock_.playingAt(now) + clock_.horizon() + clock_.rate().framesIn(kWriteMargin);
}

Frames BeatPlacement::earliestAt(MonotonicTime now, bool rewinds) const {
    return rewinds ? clock_.playingAt(now) + clock_.rate().framesIn(kStartMargin)
                   : untakenAt(now);
}

std::optional<Frames> BeatPlacement::anchor(const OutputRequest& beat, Frames length,
                                            MonotonicTime now, bool rewinds, bool mayMove) {
    // When the beat is due, by the monotonic clock its hand-off was dated on.
    const MonotonicTime due = beat.handed + beat.ahead;
    if (!beat.startsRun && now - due > kStaleBeat) {
        return std::nullopt;
    }
    const Frames dueFrame = clock_.playingAt(beat.handed) + clock_.rate().framesIn(beat.ahead);
    const Frames earliest = earliestAt(now, rewinds);
    if (dueFrame < earliest && !mayMove) {
        return std::nullopt;
    }
    const Frames frame = std::max(dueFrame, earliest);
    anchorAt(beat, frame, length);
    return frame;
}

ClickTrack::Write BeatPlacement::place(const OutputRequest& beat, Frames length,
                                       MonotonicTime now, bool rewinds) {
    const Frames earliest = clock_.valid() ? earliestAt(now, rewinds) : 0;
    return track_.place(track_.frameOf(beat.due), length, earliest);
}

std::optional<ClickTrack::Write> BeatPlacement::withdrawAfter(const OutputRequest& stop) {
    if (!track_.anchored()) {
        return std::nullopt;
    }
    // What plays at Stop, by the stream's clock: the grid's frames may sound a little after
    // their due times (a run started where a corked stream would be read from).
    const Frames playing =
        clock_.valid() ? clock_.playingAt(stop.handed) : track_.frameOf(stop.due);
    return track_.withdrawAfter(playing);
}

std::chrono::nanoseconds BeatPlacement::lead() const {
    if (!clock_.valid()) {
        return kUnknownLead;
    }
    Frames ahead = clock_.horizon();
    if (track_.anchored()) {
        const Frames dueFrame =
            clock_.playingAt(anchorHanded_) + clock_.rate().framesIn(anchorAhead_);
        ahead += std::max<Frames>(0, dueFrame - track_.anchorFrame());
    }
    return std::min(clock_.rate().durationOf(ahead) + kLeadMargin, kMaxLead);
}

}  // namespace vindelor
