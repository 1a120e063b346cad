#include "pulse_click_stream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <vector>

namespace vindelor {

namespace {

constexpr std::size_t kFrameBytes = sizeof(std::int16_t);
// While idle the stream asks for nearly its whole queue as the sink's latency: no sink runs
// faster because of it.
constexpr std::int64_t kIdleLatencyMs = PulseClickStream::kQueue.count() - 4;
// When the timing replies come after play(), in ms: a few early ones at uneven distances, so
// that steps of a quantized read index are seen before the second beat; then one every two
// seconds, which a sink's clock 100 ppm off strays from by 0.2 ms.
constexpr std::array<pa_usec_t, 5> kEarlyRepliesMs = {30, 40, 80, 150, 700};  // after the last
constexpr pa_usec_t kReplyEveryMs = 2000;

// The PulseClickStreams alive, for owner(). Loop lock held.
std::vector<const void*>& liveStreams() {
    static std::vector<const void*> live;
    return live;
}

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// Without PA_STREAM_ADJUST_LATENCY the server sets the sink's latency to the queue's length
// less twice the refill size.
pa_buffer_attr attributesFor(std::int64_t sinkLatencyMs, const pa_sample_spec& format) {
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(
        pa_usec_to_bytes(PulseClickStream::kQueue.count() * 1000, &format));
    attributes.prebuf = 0;  // plays from the first byte; silence keeps the queue full
    attributes.minreq = static_cast<std::uint32_t>(
        pa_usec_to_bytes((PulseClickStream::kQueue.count() - sinkLatencyMs) * 1000 / 2, &format));
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    return attributes;
}

}  // namespace

PulseClickStream::PulseClickStream(pa_mainloop_api* api, pa_context* context, std::uint32_t rate,
                                   std::int64_t latencyMs, Listener& listener)
    : api_(api), context_(context), latencyMs_(latencyMs), listener_(listener) {
    liveStreams().push_back(this);
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
    stream_ = pa_stream_new(context, "Clicks", &format, nullptr);
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseClickStream::onState, this);
    pa_stream_set_write_callback(stream_, &PulseClickStream::onWrite, this);
    pa_stream_set_moved_callback(stream_, &PulseClickStream::onMoved, this);
    const pa_buffer_attr attributes = attributesFor(kIdleLatencyMs, format);
    if (pa_stream_connect_playback(stream_, nullptr, &attributes, PA_STREAM_START_CORKED, nullptr,
                                   nullptr) < 0) {
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
}

PulseClickStream::~PulseClickStream() {
    std::erase(liveStreams(), this);
    if (timingTimer_ != nullptr) {
        api_->time_free(timingTimer_);
    }
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
}

PulseClickStream* PulseClickStream::owner(pa_stream* stream, void* user) {
    auto* self = static_cast<PulseClickStream*>(user);
    const bool alive = std::ranges::find(liveStreams(), user) != liveStreams().end();
    return alive && self->stream_ == stream ? self : nullptr;
}

void PulseClickStream::onState(pa_stream* stream, void* user) {
    PulseClickStream* self = owner(stream, user);  // loop lock held
    if (self == nullptr) {
        return;
    }
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->ready_ = true;
            self->listener_.streamReady();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->ready_ = false;
            self->listener_.streamLost();
            break;
        default:
            break;
    }
}

// Keeps the queue full of silence; clicks are written over it at their frames.
void PulseClickStream::onWrite(pa_stream* stream, std::size_t bytes, void*) {
    while (bytes > 0) {  // loop lock held
        void* data = nullptr;
        std::size_t chunk = bytes;
        if (pa_stream_begin_write(stream, &data, &chunk) < 0 || data == nullptr || chunk == 0) {
            return;
        }
        std::memset(data, 0, chunk);
        if (pa_stream_write(stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return;
        }
        bytes -= std::min(bytes, chunk);
    }
}

void PulseClickStream::onMoved(pa_stream* stream, void* user) {
    PulseClickStream* self = owner(stream, user);  // loop lock held
    if (self == nullptr) {
        return;
    }
    self->listener_.streamMoved();
    self->askTiming();
}

void PulseClickStream::setLatency(std::int64_t latencyMs) {
    const pa_buffer_attr attributes = attributesFor(latencyMs, *pa_stream_get_sample_spec(stream_));
    release(pa_stream_set_buffer_attr(stream_, &attributes, nullptr, nullptr));
}

void PulseClickStream::play() {
    if (!ready_ || playing_) {
        return;
    }
    setLatency(latencyMs_);
    release(pa_stream_cork(stream_, 0, nullptr, nullptr));
    playing_ = true;
    repliesSincePlay_ = 0;
    armTiming();
}

void PulseClickStream::idle() {
    if (!ready_ || !playing_) {
        return;
    }
    release(pa_stream_cork(stream_, 1, nullptr, nullptr));
    setLatency(kIdleLatencyMs);
    playing_ = false;
    api_->time_restart(timingTimer_, nullptr);
}

void PulseClickStream::armTiming() {
    const pa_usec_t afterMs = static_cast<std::size_t>(repliesSincePlay_) < kEarlyRepliesMs.size()
                                  ? kEarlyRepliesMs[static_cast<std::size_t>(repliesSincePlay_)]
                                  : kReplyEveryMs;
    const pa_usec_t at = pa_rtclock_now() + afterMs * 1000;
    if (timingTimer_ == nullptr) {
        timingTimer_ = pa_context_rttime_new(context_, at, &PulseClickStream::onTimingDue, this);
    } else {
        pa_context_rttime_restart(context_, timingTimer_, at);
    }
}

void PulseClickStream::onTimingDue(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
    auto* self = static_cast<PulseClickStream*>(user);  // loop lock held
    if (!self->playing_) {
        return;
    }
    ++self->repliesSincePlay_;
    self->askTiming();
    self->armTiming();
}

std::uint64_t PulseClickStream::askTiming() {
    if (!ready_) {
        return 0;
    }
    pa_operation* request = pa_stream_update_timing_info(stream_, &PulseClickStream::onTiming, this);
    if (request == nullptr) {
        return 0;
    }
    pa_operation_unref(request);
    ++asked_;
    askedAt_[asked_ % askedAt_.size()] = monotonicNow();
    return asked_;
}

void PulseClickStream::onTiming(pa_stream* stream, int success, void* user) {
    PulseClickStream* self = owner(stream, user);  // loop lock held
    if (self == nullptr) {
        return;
    }
    const std::uint64_t number = ++self->answered_;
    const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
    if (timing == nullptr || timing->read_index_corrupt != 0) {
        self->listener_.streamTiming(StreamTiming{.number = number, .answered = false});
        return;
    }
    // The reply is stamped by the wall clock; how long ago that was is the same on the
    // monotonic clock, unless the wall clock was set meanwhile: the answer then came some time
    // between the request and now.
    timeval wallNow{};
    pa_gettimeofday(&wallNow);
    const MonotonicTime now = monotonicNow();
    const MonotonicTime asked = number + self->askedAt_.size() > self->asked_
                                    ? self->askedAt_[number % self->askedAt_.size()]
                                    : now;
    const std::chrono::microseconds age(
        static_cast<std::int64_t>(pa_timeval_diff(&wallNow, &timing->timestamp)) *
        (pa_timeval_cmp(&wallNow, &timing->timestamp) < 0 ? -1 : 1));
    using std::chrono::microseconds;
    self->listener_.streamTiming(StreamTiming{
        .number = number,
        .at = std::clamp<MonotonicTime>(now - age, std::min(asked, now), now),
        .readFrame = timing->read_index / static_cast<Frames>(kFrameBytes),
        .sinkLatency = microseconds(static_cast<std::int64_t>(timing->sink_usec)),
        .configuredLatency = microseconds(static_cast<std::int64_t>(timing->configured_sink_usec)),
    });
}

void PulseClickStream::write(Frames from, Frames to, std::span<const std::int16_t> clip) {
    const Frames clipEnd = from + static_cast<Frames>(clip.size());
    for (Frames at = from; at < to;) {
        void* data = nullptr;
        std::size_t bytes = static_cast<std::size_t>(to - at) * kFrameBytes;
        if (pa_stream_begin_write(stream_, &data, &bytes) < 0 || data == nullptr) {
            return;
        }
        const auto frames = static_cast<Frames>(bytes / kFrameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream_);
            return;
        }
        auto* out = static_cast<std::int16_t*>(data);
        const Frames fromClip = std::clamp<Frames>(clipEnd - at, 0, frames);
        if (fromClip > 0) {
            std::memcpy(out, clip.data() + (at - from), static_cast<std::size_t>(fromClip) * kFrameBytes);
        }
        std::memset(out + fromClip, 0, static_cast<std::size_t>(frames - fromClip) * kFrameBytes);
        if (pa_stream_write(stream_, data, static_cast<std::size_t>(frames) * kFrameBytes, nullptr,
                            at * static_cast<std::int64_t>(kFrameBytes), PA_SEEK_ABSOLUTE) < 0) {
            return;
        }
        at += frames;
    }
}

std::uint64_t PulseClickStream::startWith(std::span<const std::int16_t> clip) {
    if (!ready_) {
        return 0;
    }
    if (playing_) {
        release(pa_stream_cork(stream_, 1, nullptr, nullptr));
    } else {
        setLatency(latencyMs_);
    }
    // Nothing but the clip is queued when the stream starts: the silence behind it follows as
    // the server asks for it.
    release(pa_stream_flush(stream_, nullptr, nullptr));
    pa_stream_write(stream_, clip.data(), clip.size() * kFrameBytes, nullptr, 0,
                    PA_SEEK_RELATIVE_ON_READ);
    const std::uint64_t anchorReply = askTiming();
    release(pa_stream_cork(stream_, 0, nullptr, nullptr));
    playing_ = true;
    repliesSincePlay_ = 0;
    armTiming();
    return anchorReply;
}

std::uint32_t PulseClickStream::index() const { return pa_stream_get_index(stream_); }

std::optional<Frames> PulseClickStream::writeEnd() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (timing == nullptr || timing->write_index_corrupt != 0) {
        return std::nullopt;
    }
    return timing->write_index / static_cast<std::int64_t>(kFrameBytes);
}

}  // namespace vindelor
