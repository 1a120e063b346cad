#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "stream_time.h"

namespace vindelor {

// Where the sound server plays in our stream, and how far ahead of that it has already taken
// data, learned from the server's timing replies. Plain arithmetic, no I/O: the output feeds it
// the replies it asks for, on its own schedule, and asks it where to write.
//
// PulseAudio reports its read index (what the sink has mixed) and the sink's latency (how much
// of that is still to play): the read index less the latency moves smoothly at the sink's rate,
// and the read index runs ahead of it by at most the sink's configured latency.
// PipeWire's pulse server reports no latency and moves its read index in whole quanta, taken
// at the start of each graph cycle ("quantized"): its points lie on a saw tooth under a straight
// line, and the read index runs up to one quantum ahead of that line.
// Either way the playing position is the upper edge of the recent points, drawn at the stream's
// rate. It is redrawn from every reply, so it follows a sink whose clock drifts against the
// monotonic clock.
//
// Loop lock held (the output publishes what the window's thread needs as atomics).
class StreamClock {
  public:
    StreamClock(FrameRate rate, bool quantized) : rate_(rate), quantized_(quantized) {}

    // A timing reply: `at` then the server had read up to `readFrame`, the sink still had
    // `sinkLatency` of it to play and was set to play `configuredLatency` behind.
    void addReply(MonotonicTime at, Frames readFrame, std::chrono::nanoseconds sinkLatency,
                  std::chrono::nanoseconds configuredLatency);
    // The stream stopped or is new: what was learned no longer holds.
    void reset() {
        count_ = 0;
        quantum_ = 0;
        steps_ = 0;
    }

    bool valid() const { return count_ > 0; }
    FrameRate rate() const { return rate_; }

    // The frame playing at `at`. Needs valid().
    Frames playingAt(MonotonicTime at) const;
    // How far beyond the playing frame the server may have taken data. On a quantized server,
    // one quantum: the common divisor of all the read index's steps since the clock was reset,
    // once two have been seen; `unknownQuantum` until then, or if the steps share no divisor
    // a graph could run at (a stream resampled to another rate).
    Frames horizon() const;
    // The read index of the latest reply.
    Frames lastRead() const;

    // How far beyond playingAt() what plays may lie. On a quantized server the read index
    // tells only which quantum was taken: the upper edge is pinned down by the phases of the
    // cycle the replies came at, to within this; its quantum while that is unknown. Elsewhere,
    // how far the latest two replies disagree, and 20 ms until the server reads the stream at
    // all: a sink settling to a new latency (a fresh PulseAudio sink gives up the seconds it
    // had mixed ahead) reports what is not yet so.
    // Needs valid().
    Frames spread() const;
    // When a reply would make spread() smaller, from `after` on. On a quantized server with
    // a known quantum: when the middle of where the edge may be reaches the next step of the
    // read index, so that the reply halves it; elsewhere, a little after the latest reply.
    // None while the quantum is unknown. Needs valid().
    std::optional<MonotonicTime> usefulReplyAt(MonotonicTime after) const;

    void setUnknownQuantum(Frames frames) { unknownQuantum_ = frames; }

    static constexpr std::size_t kReplies = 8;
    // PipeWire's smallest quantum: a common divisor of the steps below it is no graph's.
    static constexpr Frames kSmallestQuantum = 32;

  private:
    struct Reply {
        MonotonicTime at;
        Frames readFrame;
        Frames latency;
        Frames configuredLatency;
    };
    const Reply& reply(std::size_t age) const;

    FrameRate rate_;
    bool quantized_;
    std::array<Reply, kReplies> replies_{};
    std::size_t next_ = 0;
    std::size_t count_ = 0;
    Frames unknownQuantum_ = 0;
    // Over every step since the reset, not only the replies kept: steps a few seconds apart
    // are often the same multiple of the quantum, and their divisor would be that multiple.
    // A quantum that grows back during a run (another program asked for a smaller one, and
    // left) is therefore seen only from the next run on; the lead's margin covers most of it.
    Frames quantum_ = 0;
    int steps_ = 0;
};

}  // namespace vindelor
