#include "click_run.h"

#include <algorithm>

namespace vindelor {

ClickRun::ClickRun(const std::array<ClipSamples, 3>& clips, Listener& listener)
    : clips_(clips), listener_(listener) {}

// --- the stream ---------------------------------------------------------------------------

void ClickRun::attach(ClickStream& stream, FrameRate rate, bool pipeWire) {
    stream_ = &stream;
    ++streams_;
    ready_ = false;
    playing_ = false;
    pipeWire_ = pipeWire;
    placement_ = BeatPlacement(rate, pipeWire, kLargestQuantumAt48k * rate.perSecond() / 48000);
    anchorReply_.reset();
}

void ClickRun::streamReady(MonotonicTime now) {
    ready_ = true;
    gridSince_.reset();
    if (runActive_ && waiting_) {
        beginRun(*waiting_, now);
    }
}

// The run goes on without a stream: its first beat, if it has not sounded, waits for the next
// one; later beats are dropped until then.
void ClickRun::detach() {
    stream_ = nullptr;
    ready_ = false;
    playing_ = false;
    replyAsked_ = false;
    anchorReply_.reset();
    corkAt_.reset();
    placement_.forgetRun();
    placement_.clock().reset();
    listener_.beatsForgotten();
}

void ClickRun::streamMoved() { placement_.clock().reset(); }

void ClickRun::timing(const StreamTiming& reply, MonotonicTime now) {
    replyAsked_ = false;
    if (anchorReply_) {
        // Replies asked for before the run's start tell of a stream that has since been
        // emptied and corked.
        if (reply.number < *anchorReply_) {
            return;
        }
        const bool own = reply.number == *anchorReply_;
        anchorReply_.reset();
        if (own && reply.answered) {
            if (waiting_ && waiting_->startsRun) {
                const OutputRequest first = *waiting_;
                waiting_.reset();
                placement_.anchorAt(first, reply.readFrame,
                                    static_cast<Frames>(clips_[first.clip].size()));
                note(FrameLog::Kind::Anchor, reply.readFrame, first.due, now);
                listener_.beatWritten(first);
            }
            return;  // a corked stream's read index is no point of its clock
        }
        // Where the first click went is not known: the run anchors on the stream's clock
        // instead, as one that goes on over a new stream does.
        if (waiting_) {
            waiting_->startsRun = false;
        }
        if (own) {
            return;
        }
    }
    if (!reply.answered || stream_ == nullptr || !playing_) {
        return;
    }
    placement_.clock().addReply(reply.at, reply.readFrame, reply.sinkLatency,
                                reply.configuredLatency);
    if (waiting_ && runActive_ && !waiting_->startsRun) {
        placeWaiting(now);
    }
}

// --- the window's requests ------------------------------------------------------------------

void ClickRun::play(const OutputRequest& beat, MonotonicTime now) {
    runActive_ = true;
    corkAt_.reset();
    if (stream_ == nullptr || !ready_) {
        keepWaiting(beat);
        return;
    }
    const bool anchored = placement_.track().anchored();
    if (beat.startsRun || (!anchored && !waiting_)) {
        beginRun(beat, now);
    } else if (!anchored) {
        keepWaiting(beat);
    } else {
        placeBeat(beat, now);
    }
}

void ClickRun::stop(const OutputRequest& stop, MonotonicTime now) {
    runActive_ = false;
    waiting_.reset();
    gridSince_.reset();
    listener_.beatsForgotten();
    if (stream_ == nullptr || !playing_) {
        return;
    }
    if (const auto withdrawn = placement_.withdrawAfter(stop)) {
        stream_->write(withdrawn->frame, withdrawn->frame + withdrawn->silenceFrames, {});
        note(FrameLog::Kind::Withdrawn, withdrawn->frame, stop.due, now);
    }
    corkAt_ = now + kCorkDelay;
}

void ClickRun::corkDue(MonotonicTime) {
    corkAt_.reset();
    if (runActive_ || stream_ == nullptr || !playing_) {
        return;
    }
    stream_->idle();
    playing_ = false;
    placement_.forgetRun();
    placement_.clock().reset();
}

// --- where the beats go ---------------------------------------------------------------------

// The run's first beat waits rather than any beat after it: a run starts with its accent,
// however long the stream takes.
void ClickRun::keepWaiting(const OutputRequest& beat) {
    if (!waiting_ || beat.startsRun || !waiting_->startsRun) {
        waiting_ = beat;
    }
}

bool ClickRun::clockTooCoarse() const {
    const StreamClock& clock = placement_.clock();
    return clock.spread() > clock.rate().framesIn(kPreciseClock);
}

std::optional<MonotonicTime> ClickRun::replyAt(MonotonicTime now) const {
    if (replyAsked_ || !runActive_ || !playing_ || anchorReply_ ||
        !placement_.clock().valid() || !clockTooCoarse()) {
        return std::nullopt;
    }
    return placement_.clock().usefulReplyAt(now + std::chrono::milliseconds(1));
}

void ClickRun::replyDue(MonotonicTime) {
    if (stream_ != nullptr && playing_) {
        replyAsked_ = stream_->askTiming() != 0;
    }
}

void ClickRun::beginRun(const OutputRequest& first, MonotonicTime now) {
    placement_.forgetRun();
    listener_.beatsForgotten();
    waiting_ = first;
    if (first.startsRun) {
        gridSince_.reset();
        placement_.clock().reset();
        playing_ = true;
        anchorReply_ = stream_->startWith(clips_[first.clip]);
        if (*anchorReply_ == 0) {
            timing(StreamTiming{.number = 0, .answered = false}, now);
        }
        return;
    }
    if (!gridSince_) {
        gridSince_ = now;
    }
    if (!playing_) {
        placement_.clock().reset();
        stream_->play();
        playing_ = true;
        stream_->askTiming();
        return;
    }
    if (placement_.clock().valid()) {
        placeWaiting(now);
    }
}

// The waiting beat anchors the run, now that the stream's clock is known; on a stream that
// carries a run on, only where it keeps the run's grid, by a clock known well enough, unless
// the run has waited for that too long.
void ClickRun::placeWaiting(MonotonicTime now) {
    const OutputRequest beat = *waiting_;
    const std::chrono::nanoseconds waited =
        gridSince_ ? now - *gridSince_ : std::chrono::nanoseconds{0};
    const bool mayMove = beat.startsRun || waited >= kLongestGridWait;
    // PipeWire's phase may stay a few milliseconds uncertain: after a while the run takes the
    // clock as it is. A PulseAudio sink still settling is never trusted.
    const bool waitForClock = !pipeWire_ || waited < kLongestClockWait;
    if (!mayMove && waitForClock && clockTooCoarse()) {
        // It waits for a finer clock as long as it can still be written in time.
        const StreamClock& clock = placement_.clock();
        const MonotonicTime writeBy = beat.handed + beat.ahead -
                                      clock.rate().durationOf(clock.horizon()) -
                                      BeatPlacement::kWriteMargin;
        if (now >= writeBy) {
            waiting_.reset();
        }
        return;
    }
    waiting_.reset();
    const ClipSamples& clip = clips_[beat.clip];
    if (const auto frame = placement_.anchor(beat, static_cast<Frames>(clip.size()), now,
                                             !pipeWire_, mayMove)) {
        writeClick(*frame, clip, 0, now);
        note(FrameLog::Kind::Anchor, *frame, beat.due, now);
        listener_.beatWritten(beat);
    }
}

void ClickRun::placeBeat(const OutputRequest& beat, MonotonicTime now) {
    const ClipSamples& clip = clips_[beat.clip];
    const ClickTrack::Write write =
        placement_.place(beat, static_cast<Frames>(clip.size()), now, !pipeWire_);
    writeClick(write.frame, clip, write.silenceFrames, now);
    note(FrameLog::Kind::Click, write.frame, beat.due, now);
    listener_.beatWritten(beat);
}

void ClickRun::note(FrameLog::Kind kind, Frames frame, BeatTime due, MonotonicTime now) {
    if (frameLog_ != nullptr) {
        frameLog_->note(kind, streams_, frame, due, now);
    }
}

// The click, zeros over what an earlier one still had, and zeros on to where the queue is full
// again. A write moves the stream's write index to its own end: one that ended short of what
// is queued would have the server ask for all after it again (and PipeWire's server play
// nothing after it).
void ClickRun::writeClick(Frames frame, const ClipSamples& clip, Frames silenceAfter,
                          MonotonicTime now) {
    Frames end = frame + static_cast<Frames>(clip.size()) + silenceAfter;
    if (const std::optional<Frames> queued = stream_->writeEnd()) {
        end = std::max(end, *queued);
    }
    const StreamClock& clock = placement_.clock();
    if (clock.valid()) {
        end = std::max(end, clock.playingAt(now) + clock.rate().framesIn(ClickStream::kQueue));
    }
    stream_->write(frame, end, clip);
}

// --- what the window's thread sees ----------------------------------------------------------

ClickRun::Phase ClickRun::phase() const {
    if (stream_ == nullptr) {
        return Phase::NoServer;
    }
    if (!ready_) {
        return Phase::Connecting;
    }
    if (!playing_) {
        return Phase::Idle;
    }
    if (!runActive_) {
        return Phase::Stopping;
    }
    return placement_.track().anchored() && placement_.clock().valid() ? Phase::Running
                                                                       : Phase::Starting;
}

ClickRun::Reading ClickRun::reading(MonotonicTime now) const {
    if (runActive_ && waiting_ && waiting_->startsRun) {
        return {Reading::Kind::Held, waiting_->due};
    }
    const ClickTrack& track = placement_.track();
    if (!playing_ || !track.anchored()) {
        return {};
    }
    const StreamClock& clock = placement_.clock();
    if (!clock.valid()) {
        // Just started: the first beat's place is known, not yet when it plays.
        return runActive_ ? Reading{Reading::Kind::Held, track.anchorDue()} : Reading{};
    }
    return {Reading::Kind::Running,
            track.anchorDue() + clock.rate().durationOf(clock.playingAt(now) - track.anchorFrame())};
}

}  // namespace vindelor
