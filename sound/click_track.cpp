#include "click_track.h"

#include <algorithm>

namespace vindelor {

void ClickTrack::reset() {
    anchored_ = false;
    startCount_ = 0;
    end_ = 0;
}

void ClickTrack::anchor(BeatTime due, Frames frame, Frames length) {
    anchored_ = true;
    anchorDue_ = due;
    anchorFrame_ = frame;
    startCount_ = 0;
    remember(frame, frame + length);
}

Frames ClickTrack::frameOf(BeatTime due) const {
    return anchorFrame_ + rate_.framesIn(std::max(due - anchorDue_, std::chrono::nanoseconds{0}));
}

ClickTrack::Write ClickTrack::place(Frames frame, Frames length, Frames earliest) {
    const Frames start = std::max(frame, earliest);
    const Frames clipEnd = start + length;
    // An earlier click still sounding past this one's end is cut off there too.
    const Frames silence = std::max<Frames>(0, end_ - clipEnd);
    remember(start, clipEnd);
    return Write{start, length, silence};
}

std::optional<ClickTrack::Write> ClickTrack::withdrawAfter(Frames frame) {
    for (std::size_t i = 0; i < startCount_; ++i) {
        if (starts_[i] > frame) {
            const Write zeros{starts_[i], 0, end_ - starts_[i]};
            end_ = starts_[i];
            startCount_ = i;
            return zeros;
        }
    }
    return std::nullopt;
}

void ClickTrack::remember(Frames start, Frames end) {
    // Clicks come in order; one placed before others (never in practice) ends the list there.
    while (startCount_ > 0 && starts_[startCount_ - 1] >= start) {
        --startCount_;
    }
    if (startCount_ == kRemembered) {
        std::copy(starts_.begin() + 1, starts_.end(), starts_.begin());
        --startCount_;
    }
    starts_[startCount_++] = start;
    end_ = end;
}

}  // namespace vindelor
