#include "click_run.h"

#include <algorithm>

namespace vindelor {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kQueueNs = ClickStream::kQueueMs * 1'000'000;
}  // namespace

ClickRun::ClickRun(const std::array<ClipSamples, 3>& clips, Listener& listener)
    : clips_(clips), listener_(listener) {}

// --- the stream ---------------------------------------------------------------------------

void ClickRun::attach(ClickStream& stream, std::uint32_t rate, bool pipeWire) {
    stream_ = &stream;
    ready_ = false;
    playing_ = false;
    pipeWire_ = pipeWire;
    placement_ = BeatPlacement(rate, pipeWire, kLargestQuantumAt48k * rate / 48000);
    anchorReply_.reset();
}

void ClickRun::streamReady(std::int64_t nowNs) {
    ready_ = true;
    gridSinceNs_.reset();
    if (runActive_ && waiting_) {
        beginRun(*waiting_, nowNs);
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
    corkAtNs_.reset();
    placement_.forgetRun();
    placement_.clock().reset();
    listener_.beatsForgotten();
}

void ClickRun::streamMoved() { placement_.clock().reset(); }

void ClickRun::timing(const StreamTiming& reply, std::int64_t nowNs) {
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
    placement_.clock().addReply(reply.monotonicNs, reply.readFrame, reply.sinkLatencyNs,
                                reply.configuredLatencyNs);
    if (waiting_ && runActive_ && !waiting_->startsRun) {
        placeWaiting(nowNs);
    }
}

// --- the window's requests ------------------------------------------------------------------

void ClickRun::play(const OutputRequest& beat, std::int64_t nowNs) {
    runActive_ = true;
    corkAtNs_.reset();
    if (stream_ == nullptr || !ready_) {
        keepWaiting(beat);
        return;
    }
    const bool anchored = placement_.track().anchored();
    if (beat.startsRun || (!anchored && !waiting_)) {
        beginRun(beat, nowNs);
    } else if (!anchored) {
        keepWaiting(beat);
    } else {
        placeBeat(beat, nowNs);
    }
}

void ClickRun::stop(const OutputRequest& stop, std::int64_t nowNs) {
    runActive_ = false;
    waiting_.reset();
    gridSinceNs_.reset();
    listener_.beatsForgotten();
    if (stream_ == nullptr || !playing_) {
        return;
    }
    if (const auto withdrawn = placement_.withdrawAfter(stop)) {
        stream_->write(withdrawn->frame, withdrawn->frame + withdrawn->silenceFrames, {});
    }
    corkAtNs_ = nowNs + kCorkDelay.count();
}

void ClickRun::corkDue(std::int64_t) {
    corkAtNs_.reset();
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
    return clock.spread() > clock.framesIn(kPreciseClock.count());
}

std::optional<std::int64_t> ClickRun::replyAt(std::int64_t nowNs) const {
    if (replyAsked_ || !runActive_ || !playing_ || anchorReply_ ||
        !placement_.clock().valid() || !clockTooCoarse()) {
        return std::nullopt;
    }
    return placement_.clock().usefulReplyAt(nowNs + 1'000'000);
}

void ClickRun::replyDue(std::int64_t) {
    if (stream_ != nullptr && playing_) {
        replyAsked_ = stream_->askTiming() != 0;
    }
}

void ClickRun::beginRun(const OutputRequest& first, std::int64_t nowNs) {
    placement_.forgetRun();
    listener_.beatsForgotten();
    waiting_ = first;
    if (first.startsRun) {
        gridSinceNs_.reset();
        placement_.clock().reset();
        playing_ = true;
        anchorReply_ = stream_->startWith(clips_[first.clip]);
        if (*anchorReply_ == 0) {
            timing(StreamTiming{.number = 0, .answered = false}, nowNs);
        }
        return;
    }
    if (!gridSinceNs_) {
        gridSinceNs_ = nowNs;
    }
    if (!playing_) {
        placement_.clock().reset();
        stream_->play();
        playing_ = true;
        stream_->askTiming();
        return;
    }
    if (placement_.clock().valid()) {
        placeWaiting(nowNs);
    }
}

// The waiting beat anchors the run, now that the stream's clock is known; on a stream that
// carries a run on, only where it keeps the run's grid, by a clock known well enough, unless
// the run has waited for that too long.
void ClickRun::placeWaiting(std::int64_t nowNs) {
    const OutputRequest beat = *waiting_;
    const std::int64_t waited = gridSinceNs_ ? nowNs - *gridSinceNs_ : 0;
    const bool mayMove = beat.startsRun || waited >= kLongestGridWait.count();
    // PipeWire's phase may stay a few milliseconds uncertain: after a while the run takes the
    // clock as it is. A PulseAudio sink still settling is never trusted.
    const bool waitForClock = !pipeWire_ || waited < kLongestClockWait.count();
    if (!mayMove && waitForClock && clockTooCoarse()) {
        // It waits for a finer clock as long as it can still be written in time.
        const std::int64_t writeBy = beat.handedNs + beat.ahead.count() -
                                     timeOf(placement_.clock().horizon()).count() -
                                     BeatPlacement::kWriteMargin.count();
        if (nowNs >= writeBy) {
            waiting_.reset();
        }
        return;
    }
    waiting_.reset();
    const ClipSamples& clip = clips_[beat.clip];
    if (const auto frame = placement_.anchor(beat, static_cast<Frames>(clip.size()), nowNs,
                                             !pipeWire_, mayMove)) {
        writeClick(*frame, clip, 0, nowNs);
        listener_.beatWritten(beat);
    }
}

void ClickRun::placeBeat(const OutputRequest& beat, std::int64_t nowNs) {
    const ClipSamples& clip = clips_[beat.clip];
    const ClickTrack::Write write =
        placement_.place(beat, static_cast<Frames>(clip.size()), nowNs, !pipeWire_);
    writeClick(write.frame, clip, write.silenceFrames, nowNs);
    listener_.beatWritten(beat);
}

// The click, zeros over what an earlier one still had, and zeros on to where the queue is full
// again. A write moves the stream's write index to its own end: one that ended short of what
// is queued would have the server ask for all after it again (and PipeWire's server play
// nothing after it).
void ClickRun::writeClick(Frames frame, const ClipSamples& clip, Frames silenceAfter,
                          std::int64_t nowNs) {
    Frames end = frame + static_cast<Frames>(clip.size()) + silenceAfter;
    if (const std::optional<Frames> queued = stream_->writeEnd()) {
        end = std::max(end, *queued);
    }
    const StreamClock& clock = placement_.clock();
    if (clock.valid()) {
        end = std::max(end, clock.playingAt(nowNs) + clock.framesIn(kQueueNs));
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

std::chrono::nanoseconds ClickRun::timeOf(Frames frames) const {
    const std::int64_t rate = placement_.clock().rate();
    return std::chrono::nanoseconds(frames / rate * kNsPerSecond +
                                    frames % rate * kNsPerSecond / rate);
}

ClickRun::Reading ClickRun::reading(std::int64_t nowNs) const {
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
            track.anchorDue() + timeOf(clock.playingAt(nowNs) - track.anchorFrame())};
}

}  // namespace vindelor
