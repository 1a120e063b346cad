#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "beat_placement.h"
#include "click_stream.h"
#include "clip_decoder.h"
#include "frame_log.h"
#include "request_ring.h"

namespace vindelor {

// The run's logic of the sound output: what the beats, Stop and the stream's events do to the
// stream. Plain logic, no I/O and no clock of its own: every event carries the monotonic time
// it happens at, and the stream is behind ClickStream. PulseClickOutput feeds it libpulse's
// events; the tests feed it a fake stream.
//
// The stream goes NoServer -> Connecting -> Idle <-> Playing, and back to NoServer when it is
// lost. A run is asked for by the first beat (Start) and ends with Stop; while the stream is
// not ready the run's first beat waits, and later beats are dropped. A run starts by writing
// its first beat where the server reads next (startWith) and anchors there, on the reply to
// that very request; every later beat goes on that grid, to the frame. A run that goes on
// over a new stream (the server was lost) anchors again on the first beat that still fits the
// old grid.
//
// While the run's first beat waits, the time it publishes (playbackTime) holds still at that
// beat's due time, so that no beat falls due before the first has sounded: the run then
// begins where the stream does, the following beats after it, none dropped.
//
// Loop lock held: every method, and the listener's calls, which come from inside them.
class ClickRun {
  public:
    // How long after Stop the stream is corked: the click sounding then plays to its end first.
    static constexpr std::chrono::nanoseconds kCorkDelay = std::chrono::milliseconds(200);
    // PipeWire's largest quantum at 48 kHz: the step of its read index until two steps are seen.
    static constexpr Frames kLargestQuantumAt48k = 2048;
    // A run that goes on over a new stream skips the beats that would not fit the grid it had,
    // or whose place its new clock cannot yet tell, for this long at most; then the next one
    // is placed as soon as it can sound, and the grid moves.
    static constexpr std::chrono::nanoseconds kLongestGridWait = std::chrono::seconds(5);
    // How well a new stream's clock must be known before such a run anchors on it, and how
    // long it waits for that at most on PipeWire: then it anchors by the clock as it is, off
    // by a few milliseconds at worst.
    static constexpr std::chrono::nanoseconds kPreciseClock = std::chrono::microseconds(500);
    static constexpr std::chrono::nanoseconds kLongestClockWait = std::chrono::seconds(1);

    enum class Phase : std::uint8_t {
        NoServer,    // no stream: beats are dropped, a run's first beat waits
        Connecting,  // a stream is being made
        Idle,        // ready and corked, no run
        Starting,    // the run's first beat is written; its place or the clock is awaited
        Running,     // the run is anchored and the clock known: beats go on the grid
        Stopping,    // Stop came: the stream plays out the last click, then is corked
    };

    class Listener {
      public:
        virtual ~Listener() = default;
        // A beat was written: the next one can be foreseen from it.
        virtual void beatWritten(const OutputRequest& beat) = 0;
        // The beats so far foretell nothing more (a new run, Stop, or no stream).
        virtual void beatsForgotten() = 0;
    };

    // The time the beats are due on, as the output publishes it: none (the monotonic clock
    // drives the beats), held still at a value, or running from the stream's clock.
    struct Reading {
        enum class Kind : std::uint8_t { None, Held, Running };
        Kind kind = Kind::None;
        BeatTime time;  // Held, Running: the beat time at the `now` asked for
    };

    // `clips`: the decoded clips, by their place in the bank; they outlive the run.
    ClickRun(const std::array<ClipSamples, 3>& clips, Listener& listener);

    // The stream: made (not yet ready), ready, lost, moved to another sink, and its replies.
    void attach(ClickStream& stream, FrameRate rate, bool pipeWire);
    void streamReady(MonotonicTime now);
    void detach();
    void streamMoved();
    void timing(const StreamTiming& reply, MonotonicTime now);

    // The window's requests, as the ring hands them over.
    void play(const OutputRequest& beat, MonotonicTime now);
    void stop(const OutputRequest& stop, MonotonicTime now);

    // When to call corkDue, if at all.
    std::optional<MonotonicTime> corkAt() const { return corkAt_; }
    void corkDue(MonotonicTime now);
    // When to call replyDue, if at all: a run asks for replies at chosen moments until its
    // stream's clock is precise enough for the time it publishes to be that of the clicks,
    // and for a run that goes on over a new stream to keep its grid.
    std::optional<MonotonicTime> replyAt(MonotonicTime now) const;
    void replyDue(MonotonicTime now);

    // Where the clicks went, noted in `log` from now on (the timing rig's); none: nowhere.
    void setFrameLog(FrameLog* log) { frameLog_ = log; }

    Phase phase() const;
    Reading reading(MonotonicTime now) const;
    std::chrono::nanoseconds lead() const { return placement_.lead(); }

  private:
    void keepWaiting(const OutputRequest& beat);
    void beginRun(const OutputRequest& first, MonotonicTime now);
    void placeWaiting(MonotonicTime now);
    void placeBeat(const OutputRequest& beat, MonotonicTime now);
    void writeClick(Frames frame, const ClipSamples& clip, Frames silenceAfter,
                    MonotonicTime now);
    void note(FrameLog::Kind kind, Frames frame, BeatTime due, MonotonicTime now);
    bool clockTooCoarse() const;

    const std::array<ClipSamples, 3>& clips_;
    Listener& listener_;
    ClickStream* stream_ = nullptr;
    bool ready_ = false;
    bool playing_ = false;  // uncorked
    bool pipeWire_ = false;
    BeatPlacement placement_{FrameRate(48000), false};

    bool runActive_ = false;
    // A beat the stream is not ready for yet: placed once the stream is, or its clock known.
    std::optional<OutputRequest> waiting_;
    // The reply that tells where the run's first beat went.
    std::optional<std::uint64_t> anchorReply_;
    // Since when a run that goes on over a new stream has waited to anchor on its grid.
    std::optional<MonotonicTime> gridSince_;
    bool replyAsked_ = false;
    std::optional<MonotonicTime> corkAt_;
    FrameLog* frameLog_ = nullptr;
    std::uint32_t streams_ = 0;  // made so far, for the frame log
};

}  // namespace vindelor
