#include "beat_placement.h"

#include <algorithm>

namespace vindelor {

BeatPlacement::BeatPlacement(std::uint32_t rate, bool quantized, Frames unknownQuantum)
    : clock_(rate, quantized), track_(rate) {
    clock_.setUnknownQuantum(unknownQuantum);
}

void BeatPlacement::anchorAt(const OutputRequest& beat, Frames frame, Frames length) {
    track_.anchor(beat.due, frame, length);
    anchorHandedNs_ = beat.handedNs;
    anchorAhead_ = beat.ahead;
}

BeatPlacement::Frames BeatPlacement::untakenAt(std::int64_t nowNs) const {
    return clock_.playingAt(nowNs) + clock_.horizon() + clock_.framesIn(kWriteMargin.count());
}

BeatPlacement::Frames BeatPlacement::earliestAt(std::int64_t nowNs, bool rewinds) const {
    return rewinds ? clock_.playingAt(nowNs) + clock_.framesIn(kStartMargin.count())
                   : untakenAt(nowNs);
}

std::optional<BeatPlacement::Frames> BeatPlacement::anchor(const OutputRequest& beat,
                                                           Frames length, std::int64_t nowNs,
                                                           bool rewinds, bool mayMove) {
    const std::int64_t dueNs = beat.handedNs + beat.ahead.count();
    if (!beat.startsRun && nowNs - dueNs > kStaleBeat.count()) {
        return std::nullopt;
    }
    const Frames dueFrame = clock_.playingAt(beat.handedNs) + clock_.framesIn(beat.ahead.count());
    const Frames earliest = earliestAt(nowNs, rewinds);
    if (dueFrame < earliest && !mayMove) {
        return std::nullopt;
    }
    const Frames frame = std::max(dueFrame, earliest);
    anchorAt(beat, frame, length);
    return frame;
}

ClickTrack::Write BeatPlacement::place(const OutputRequest& beat, Frames length,
                                       std::int64_t nowNs, bool rewinds) {
    const Frames earliest = clock_.valid() ? earliestAt(nowNs, rewinds) : 0;
    return track_.place(track_.frameOf(beat.due), length, earliest);
}

std::optional<ClickTrack::Write> BeatPlacement::withdrawAfter(const OutputRequest& stop) {
    if (!track_.anchored()) {
        return std::nullopt;
    }
    // What plays at Stop, by the stream's clock: the grid's frames may sound a little after
    // their due times (a run started where a corked stream would be read from).
    const Frames playing =
        clock_.valid() ? clock_.playingAt(stop.handedNs) : track_.frameOf(stop.due);
    return track_.withdrawAfter(playing);
}

std::chrono::nanoseconds BeatPlacement::lead() const {
    if (!clock_.valid()) {
        return kUnknownLead;
    }
    Frames ahead = clock_.horizon();
    if (track_.anchored()) {
        const Frames dueFrame =
            clock_.playingAt(anchorHandedNs_) + clock_.framesIn(anchorAhead_.count());
        ahead += std::max<Frames>(0, dueFrame - track_.anchorFrame());
    }
    const std::int64_t rate = clock_.rate();
    const std::chrono::nanoseconds aheadNs(ahead / rate * 1'000'000'000 +
                                           ahead % rate * 1'000'000'000 / rate);
    return std::min(aheadNs + kLeadMargin, kMaxLead);
}

}  // namespace vindelor
