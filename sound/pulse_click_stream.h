#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "click_stream.h"

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_time_event;
struct timeval;

namespace vindelor {

// The one playback stream the clicks go into: mono, signed 16-bit, at the default sink's rate,
// kept two seconds full of silence over which clicks are written at their frames.
//
// While it plays it asks the sink for the run's latency (setRunLatency), no lower, and asks the
// server for timing replies on its own schedule: a few soon after the start, so that the
// stream's clock is known before the second beat, then one every two seconds. While idle it is
// corked and asks for nearly its whole queue as latency: it costs the server nothing. Its timers run on the
// monotonic clock, and each reply is dated on it.
// Loop lock held: its owner calls it, and it calls its listener, from the loop's callbacks.
class PulseClickStream final : public ClickStream {
  public:
    class Listener {
      public:
        virtual ~Listener() = default;
        virtual void streamReady() = 0;
        virtual void streamLost() = 0;
        virtual void streamTiming(const StreamTiming& timing) = 0;
        // The server moved the stream to another sink: what was learned of its clock is gone.
        virtual void streamMoved() = 0;
    };

    // `latencyMs`: the sink latency asked for while the stream plays.
    PulseClickStream(pa_mainloop_api* api, pa_context* context, std::uint32_t rate,
                     std::int64_t latencyMs, Listener& listener);
    ~PulseClickStream() override;
    PulseClickStream(const PulseClickStream&) = delete;
    PulseClickStream& operator=(const PulseClickStream&) = delete;

    // The library could not make the stream at all.
    bool failed() const { return stream_ == nullptr; }
    bool ready() const { return ready_; }
    // Its index among the server's sink inputs. Needs ready().
    std::uint32_t index() const;
    // The sink latency to ask for from the next play or startWith on.
    void setRunLatency(std::int64_t latencyMs) { latencyMs_ = latencyMs; }

    void play() override;
    void idle() override;
    std::uint64_t askTiming() override;
    void write(Frames from, Frames to, std::span<const std::int16_t> clip) override;
    // A PulseAudio sink rewinds on the uncork and plays the clip at once; PipeWire's server
    // takes it with its next quantum.
    std::uint64_t startWith(std::span<const std::int16_t> clip) override;
    std::optional<Frames> writeEnd() const override;

  private:
    // The stream a callback is for, if it is still ours: libpulse keeps calling a stream that
    // has failed (it will not let go of its callbacks) until its context is gone, and by then
    // the PulseClickStream it called may have been dropped.
    static PulseClickStream* owner(pa_stream* stream, void* user);
    static void onState(pa_stream* stream, void* user);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user);
    static void onMoved(pa_stream* stream, void* user);
    static void onTiming(pa_stream* stream, int success, void* user);
    static void onTimingDue(pa_mainloop_api* api, pa_time_event* event,
                            const timeval* when, void* user);
    void setLatency(std::int64_t latencyMs);
    void armTiming();

    pa_mainloop_api* api_;
    pa_context* context_;
    std::int64_t latencyMs_;
    Listener& listener_;
    pa_stream* stream_ = nullptr;
    pa_time_event* timingTimer_ = nullptr;
    int repliesSincePlay_ = 0;
    bool ready_ = false;
    bool playing_ = false;
    // Timing requests asked and answered so far; the server answers them in order. When each
    // of the latest was asked, by its number.
    std::uint64_t asked_ = 0;
    std::uint64_t answered_ = 0;
    std::array<MonotonicTime, 16> askedAt_{};
};

}  // namespace vindelor
