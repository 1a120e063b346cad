#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_time_event;
struct timeval;

namespace vindelor {

// The one playback stream the clicks go into: mono, signed 16-bit, at the default sink's rate,
// kept two seconds full of silence over which clicks are written at their frames.
//
// While it plays it asks the sink for the latency it is made with, no lower, and asks the
// server for timing replies on its own schedule: a few soon after the start, so that the
// stream's clock is known before the second beat, then one every two seconds. While idle it is
// corked and asks for no latency: it costs the server nothing.
// Server thread only: its owner calls it, and it calls its listener, under the loop's lock.
class PulseClickStream {
  public:
    using Frames = std::int64_t;

    // Each beat's write tops the queue up again; the server asks for a refill of its own only
    // when no beat has come for nearly half of it, so not at 63 BPM and above.
    static constexpr std::int64_t kQueueMs = 2000;

    struct Timing {
        std::int64_t monotonicNs;  // when the server answered
        Frames readFrame;          // what it had read of the stream by then
        std::int64_t sinkLatencyNs;
        std::int64_t configuredLatencyNs;
    };
    class Listener {
      public:
        virtual ~Listener() = default;
        virtual void streamReady() = 0;
        virtual void streamLost() = 0;
        virtual void streamTiming(const Timing& timing) = 0;
        // The server moved the stream to another sink: what was learned of its clock is gone.
        virtual void streamMoved() = 0;
    };

    // `latencyMs`: the sink latency asked for while the stream plays.
    PulseClickStream(pa_mainloop_api* api, pa_context* context, std::uint32_t rate,
                     std::int64_t latencyMs, Listener& listener);
    ~PulseClickStream();
    PulseClickStream(const PulseClickStream&) = delete;
    PulseClickStream& operator=(const PulseClickStream&) = delete;

    // The library could not make the stream at all.
    bool failed() const { return stream_ == nullptr; }
    bool ready() const { return ready_; }
    bool playing() const { return playing_; }
    std::uint32_t rate() const { return rate_; }

    // Asks for the running latency and uncorks; timing replies follow on their schedule, the
    // first 30 ms on (askTiming() for one at once).
    void play();
    // Corks, and asks for no latency.
    void idle();
    // One timing reply, now.
    void askTiming();

    // Writes frames [from, to): `clip` from `from` on, zeros after it, composed straight in
    // the library's buffers.
    void write(Frames from, Frames to, std::span<const std::int16_t> clip);
    // Starts anew with `clip`: corks, empties the queue, writes the clip where the server will
    // read next and uncorks. Where the clip went is the read index of the next timing reply.
    // A PulseAudio sink rewinds on the uncork and plays the clip at once; PipeWire's server
    // takes it with its next quantum.
    void startWith(std::span<const std::int16_t> clip);
    // Where everything queued so far ends, when the library knows it exactly.
    std::optional<Frames> writeEnd() const;

  private:
    static void onState(pa_stream* stream, void* user);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user);
    static void onMoved(pa_stream* stream, void* user);
    static void onTiming(pa_stream* stream, int success, void* user);
    static void onTimingDue(pa_mainloop_api* api, pa_time_event* event,
                            const timeval* when, void* user);
    void setLatency(std::int64_t latencyMs);
    void armTiming();

    pa_mainloop_api* api_;
    std::uint32_t rate_;
    std::int64_t latencyMs_;
    Listener& listener_;
    pa_stream* stream_ = nullptr;
    pa_time_event* timingTimer_ = nullptr;
    int repliesSincePlay_ = 0;
    bool ready_ = false;
    bool playing_ = false;
};

}  // namespace vindelor
