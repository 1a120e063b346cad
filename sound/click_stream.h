#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "stream_time.h"

namespace vindelor {

// A timing reply: where the server stood in the stream when it answered.
struct StreamTiming {
    std::uint64_t number = 0;  // the request's, as askTiming or startWith gave it
    bool answered = true;      // false: the request failed, and tells nothing
    MonotonicTime at{};            // when the server answered
    Frames readFrame = 0;          // what it had read of the stream by then
    std::chrono::nanoseconds sinkLatency{0};
    std::chrono::nanoseconds configuredLatency{0};
};

// The playback stream as the run's logic drives it: a queue of silence over which clicks are
// written at their frames, corked while no run plays. PulseClickStream is the real one; the
// tests have a fake. Calls return at once; what the server makes of them comes back as events
// to the run (ClickRun). Loop lock held.
class ClickStream {
  public:
    // How much the queue holds: each beat's write tops it up again.
    static constexpr std::chrono::milliseconds kQueue{2000};

    virtual ~ClickStream() = default;

    // Asks for the running latency and uncorks.
    virtual void play() = 0;
    // Corks, and asks for the longest latency: no sink wakes sooner for an idle stream.
    virtual void idle() = 0;
    // Asks for one timing reply, now: the number its reply will carry, or 0 if none will come.
    // Replies come in the order they were asked for.
    virtual std::uint64_t askTiming() = 0;
    // Writes frames [from, to): `clip` from `from` on, zeros after it.
    virtual void write(Frames from, Frames to, std::span<const std::int16_t> clip) = 0;
    // Starts anew with `clip`: corks, empties the queue, writes the clip where the server will
    // read next, asks for a timing reply and uncorks. The read index of that reply, whose
    // number this returns (0: none will come), is where the clip went.
    virtual std::uint64_t startWith(std::span<const std::int16_t> clip) = 0;
    // Where everything queued so far ends, when known exactly.
    virtual std::optional<Frames> writeEnd() const = 0;
};

}  // namespace vindelor
