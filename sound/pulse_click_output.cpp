#include "pulse_click_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "click_track.h"
#include "clip_decoder.h"

namespace vindelor {
namespace {

using std::chrono::nanoseconds;
using Frames = ClickTrack::Frames;

constexpr std::size_t kFrameBytes = sizeof(std::int16_t);  // mono, signed 16-bit
// Half a second of silence queued ahead, refilled a quarter of a second at a time: the process
// wakes a few times a second, not hundreds, and the library's shared memory stays small.
constexpr pa_usec_t kBufferUsec = 500'000;
constexpr pa_usec_t kRefillUsec = 250'000;
// How often the stream's clock is set right by the server's timing data. Between updates it
// runs on the monotonic clock, which strays from the sink's by 100 ppm at most: 0.4 ms in four
// seconds, well within the lead.
constexpr std::int64_t kClockUpdateNs = 4'000'000'000;
// How long after Stop the stream is corked: the click sounding then plays to its end first.
constexpr pa_usec_t kCorkDelayUsec = 200'000;
// While a run is on and the server is gone, how often to look for it again.
constexpr pa_usec_t kRetryUsec = 1'000'000;
// Beats are handed over this much earlier than the sink's own latency requires: room for a
// late wake-up of the window's thread.
constexpr nanoseconds kLeadMargin = std::chrono::milliseconds(25);
constexpr nanoseconds kMaxLead = std::chrono::milliseconds(250);
// A click is never written closer than this ahead of the server's read position.
constexpr nanoseconds kWriteMargin = std::chrono::milliseconds(3);

std::size_t indexOf(ClickClip clip) {
    switch (clip) {
        case ClickClip::AccentClick:
            return 1;
        case ClickClip::TripleAccentClick:
            return 2;
        case ClickClip::NormalClick:
            break;
    }
    return 0;
}

timeval fromNow(pa_usec_t usec) {
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, usec);
    return when;
}

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

}  // namespace

// Everything here is guarded by the threaded main loop's lock: the window's thread takes it
// for each call, and the server's thread holds it while it runs the callbacks below.
// Callbacks (marked "server thread") never block, allocate or log, but for the one-time
// preparation of the clips when a server with a new rate answers.
struct PulseClickOutput::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* corkTimer = nullptr;
    pa_time_event* retryTimer = nullptr;

    std::array<std::vector<std::uint8_t>, 3> images;
    std::array<ClipSamples, 3> clips;
    std::vector<std::int16_t> zeros;
    std::uint32_t rate = 0;
    std::uint32_t serverRate = 0;
    ClickTrack track{48000};

    bool streamReady = false;
    bool playing = false;     // uncorked
    bool clockValid = false;  // timing data from the running stream has come in
    bool runActive = false;   // between the first play of a run and Stop
    bool reconnectOnStart = false;
    bool anchorPending = false;
    nanoseconds pendingDue{0};
    Frames pendingLength = 0;
    std::atomic<std::int64_t> sinkLatencyNs{0};
    Frames readFrames = 0;
    std::int64_t readMonotonicNs = 0;

    // --- connection ---------------------------------------------------------------------

    void connect() {
        reconnectOnStart = false;
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vindelor");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.vindelor.Vindelor");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.vindelor.Vindelor");
        context = pa_context_new_with_proplist(api, "Vindelor", properties);
        pa_proplist_free(properties);
        if (context == nullptr) {
            return;
        }
        pa_context_set_state_callback(context, &Impl::onContextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            lost();
        }
    }

    void disconnect() {
        streamReady = false;
        playing = false;
        clockValid = false;
        anchorPending = false;
        track.reset();
        if (stream != nullptr) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
    }

    // The server is gone or never answered: silent from here. While a run is on, look for it
    // again every second; otherwise at the next Start.
    void lost() {
        streamReady = false;
        playing = false;
        clockValid = false;
        anchorPending = false;
        track.reset();
        if (runActive) {
            armRetry();
        } else {
            reconnectOnStart = true;
        }
    }

    void armRetry() {
        const timeval when = fromNow(kRetryUsec);
        if (retryTimer == nullptr) {
            retryTimer = api->time_new(api, &when, &Impl::onRetry, this);
        } else {
            api->time_restart(retryTimer, &when);
        }
    }

    static void onRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        if (!self->runActive) {
            self->reconnectOnStart = true;
            return;
        }
        self->disconnect();
        self->connect();
    }

    static void onContextState(pa_context* context, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                release(pa_context_get_server_info(context, &Impl::onServerInfo, self));
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                self->lost();
                break;
            default:
                break;
        }
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        self->serverRate = info != nullptr ? info->sample_spec.rate : 0;
        // The stream runs at the default sink's own rate, so that the server need not
        // convert it.
        pa_operation* lookup = info != nullptr && info->default_sink_name != nullptr
                                   ? pa_context_get_sink_info_by_name(
                                         context, info->default_sink_name, &Impl::onSinkInfo, self)
                                   : nullptr;
        if (lookup == nullptr) {
            self->openStream(self->serverRate);
        }
        release(lookup);
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int end, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        if (end < 0) {
            self->openStream(self->serverRate);
        } else if (end == 0 && info != nullptr && self->stream == nullptr) {
            self->openStream(info->sample_spec.rate);
        }
    }

    // Once per connection: the clips are converted to the server's rate before the stream
    // exists, so that no play ever waits for a conversion.
    void openStream(std::uint32_t sinkRate) {
        const std::uint32_t wanted = sinkRate >= 8000 && sinkRate <= 384000 ? sinkRate : 48000;
        if (wanted != rate) {
            rate = wanted;
            for (std::size_t i = 0; i < images.size(); ++i) {
                clips[i] = images[i].empty() ? ClipSamples{} : decodeClip(images[i], rate);
            }
        }
        track = ClickTrack(rate);
        std::size_t longest = 0;
        for (const ClipSamples& clip : clips) {
            longest = std::max(longest, clip.size());
        }
        zeros.assign(std::max<std::size_t>(longest, rate / 10), 0);

        const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
        stream = pa_stream_new(context, "Clicks", &format, nullptr);
        if (stream == nullptr) {
            lost();
            return;
        }
        pa_stream_set_state_callback(stream, &Impl::onStreamState, this);
        pa_stream_set_write_callback(stream, &Impl::onWrite, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kBufferUsec, &format));
        attributes.prebuf = 0;  // plays from the first byte; silence keeps the buffer full
        attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRefillUsec, &format));
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
            lost();
        }
    }

    static void onStreamState(pa_stream* stream, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        switch (pa_stream_get_state(stream)) {
            case PA_STREAM_READY:
                self->streamReady = true;
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                self->lost();
                break;
            default:
                break;
        }
    }

    // --- the stream's own callbacks -----------------------------------------------------

    // Keeps the buffer full of silence; clicks are written over it at their frames.
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        while (bytes > 0) {
            void* data = nullptr;
            std::size_t chunk = bytes;
            if (pa_stream_begin_write(stream, &data, &chunk) < 0 || data == nullptr || chunk == 0) {
                break;
            }
            std::memset(data, 0, chunk);
            if (pa_stream_write(stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                break;
            }
            bytes -= std::min(bytes, chunk);
        }
        if (self->playing && monotonicNs() - self->readMonotonicNs >= kClockUpdateNs) {
            // Keeps the stream's clock true to the sink's without a periodic timer of its own.
            release(pa_stream_update_timing_info(stream, &Impl::onTiming, self));
        }
    }

    static void onTiming(pa_stream* stream, int success, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        if (success == 0) {
            return;
        }
        if (const pa_timing_info* timing = pa_stream_get_timing_info(stream)) {
            self->sinkLatencyNs.store(static_cast<std::int64_t>(timing->sink_usec) * 1000,
                                      std::memory_order_relaxed);
            // Right after the uncork the server may not have read yet; the clock then runs a
            // moment ahead until the next update, which only hands beats over a little earlier.
            if (self->playing && timing->read_index_corrupt == 0) {
                self->noteReadPosition(*timing);
            }
        }
    }

    // The reply to the timing request sent between the run's first click and the uncork: the
    // read index it reports is where that click went.
    static void onAnchorTiming(pa_stream* stream, int success, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
        if (!self->anchorPending || timing == nullptr || timing->read_index_corrupt != 0) {
            return;
        }
        self->anchorPending = false;
        self->sinkLatencyNs.store(static_cast<std::int64_t>(timing->sink_usec) * 1000,
                                  std::memory_order_relaxed);
        const Frames frame = timing->read_index / static_cast<std::int64_t>(kFrameBytes);
        self->track.anchor(self->pendingDue, frame, self->pendingLength);
    }

    static void onCork(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        if (self->runActive || !self->playing || self->stream == nullptr) {
            return;
        }
        release(pa_stream_cork(self->stream, 1, nullptr, nullptr));
        self->playing = false;
        self->clockValid = false;
    }

    // The stream's clock: where the server reads in the stream, carried forward between
    // timing updates by the monotonic clock. Long-term it runs at the sink's own rate.
    void noteReadPosition(const pa_timing_info& timing) {
        timeval wallNow{};
        pa_gettimeofday(&wallNow);
        const std::int64_t age =
            static_cast<std::int64_t>(pa_timeval_diff(&wallNow, &timing.timestamp));
        readFrames = timing.read_index / static_cast<std::int64_t>(kFrameBytes);
        readMonotonicNs = monotonicNs() - age * 1000;
        clockValid = true;
    }

    static std::int64_t monotonicNs() {
        return std::chrono::duration_cast<nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Nanoseconds of stream read so far, now. Needs clockValid.
    std::int64_t readPositionNs() const {
        const std::int64_t framesNs =
            readFrames / rate * 1'000'000'000 + readFrames % rate * 1'000'000'000 / rate;
        return framesNs + (monotonicNs() - readMonotonicNs);
    }

    // --- the window's side, lock held ---------------------------------------------------

    void writeAt(Frames frame, const std::int16_t* samples, Frames count) {
        pa_stream_write(stream, samples, static_cast<std::size_t>(count) * kFrameBytes, nullptr,
                        frame * static_cast<std::int64_t>(kFrameBytes), PA_SEEK_ABSOLUTE);
    }

    void writeSilenceAt(Frames frame, Frames count) {
        while (count > 0) {
            const Frames chunk = std::min<Frames>(count, static_cast<Frames>(zeros.size()));
            writeAt(frame, zeros.data(), chunk);
            frame += chunk;
            count -= chunk;
        }
    }

    void cancelCork() {
        if (corkTimer != nullptr) {
            api->time_restart(corkTimer, nullptr);
        }
    }

    void armCork() {
        const timeval when = fromNow(kCorkDelayUsec);
        if (corkTimer == nullptr) {
            corkTimer = api->time_new(api, &when, &Impl::onCork, this);
        } else {
            api->time_restart(corkTimer, &when);
        }
    }

    // The first click of a run goes at the stream's read position, so it sounds at once.
    void startRun(const ClipSamples& clip, nanoseconds due) {
        cancelCork();
        if (playing) {
            release(pa_stream_cork(stream, 1, nullptr, nullptr));
        }
        release(pa_stream_flush(stream, nullptr, nullptr));
        track.reset();
        pa_stream_write(stream, clip.data(), clip.size() * kFrameBytes, nullptr, 0,
                        PA_SEEK_RELATIVE_ON_READ);
        anchorPending = true;
        pendingDue = due;
        pendingLength = static_cast<Frames>(clip.size());
        release(pa_stream_update_timing_info(stream, &Impl::onAnchorTiming, this));
        release(pa_stream_cork(stream, 0, nullptr, nullptr));
        release(pa_stream_update_timing_info(stream, &Impl::onTiming, this));
        playing = true;
        clockValid = false;
    }

    // Where the sink reads now, plus a margin: nothing written before it could still sound.
    Frames earliestWritable() const {
        if (!clockValid) {
            return 0;
        }
        const std::int64_t ns = readPositionNs() + kWriteMargin.count();
        return ns / 1'000'000'000 * rate + ns % 1'000'000'000 * rate / 1'000'000'000;
    }

    void placeBeat(const ClipSamples& clip, nanoseconds due) {
        const auto length = static_cast<Frames>(clip.size());
        const std::optional<Frames> queuedEnd = writeEnd();
        const ClickTrack::Write write = track.place(track.frameOf(due), length, earliestWritable());
        writeAt(write.frame, clip.data(), length);
        writeSilenceAt(write.frame + length, write.silenceFrames);
        // A write moves the stream's write index back to its end, and the server would ask
        // for everything after it again. Rewriting the last frame of silence already queued
        // puts the index back where it stood: two bytes instead of most of a second.
        const Frames written = write.frame + length + write.silenceFrames;
        if (queuedEnd && *queuedEnd > written) {
            writeAt(*queuedEnd - 1, zeros.data(), 1);
        }
    }

    // Where everything queued so far ends, when the library knows it exactly.
    std::optional<Frames> writeEnd() const {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream);
        if (timing == nullptr || timing->write_index_corrupt != 0) {
            return std::nullopt;
        }
        return timing->write_index / static_cast<std::int64_t>(kFrameBytes);
    }
};

PulseClickOutput::PulseClickOutput() : impl_(std::make_unique<Impl>()) {
    impl_->loop = pa_threaded_mainloop_new();
    if (impl_->loop == nullptr) {
        return;  // no sound at all, the program runs on silently
    }
    impl_->api = pa_threaded_mainloop_get_api(impl_->loop);
    pa_threaded_mainloop_set_name(impl_->loop, "vindelor-sound");
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->connect();
    pa_threaded_mainloop_unlock(impl_->loop);
    if (pa_threaded_mainloop_start(impl_->loop) < 0) {
        pa_threaded_mainloop_lock(impl_->loop);
        impl_->disconnect();
        pa_threaded_mainloop_unlock(impl_->loop);
        pa_threaded_mainloop_free(impl_->loop);
        impl_->loop = nullptr;
    }
}

PulseClickOutput::~PulseClickOutput() {
    if (impl_->loop == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->runActive = false;
    for (pa_time_event* timer : {impl_->corkTimer, impl_->retryTimer}) {
        if (timer != nullptr) {
            impl_->api->time_free(timer);
        }
    }
    impl_->disconnect();
    pa_threaded_mainloop_unlock(impl_->loop);
    pa_threaded_mainloop_stop(impl_->loop);
    pa_threaded_mainloop_free(impl_->loop);
}

void PulseClickOutput::prepare(ClickClip clip, std::span<const std::uint8_t> image) {
    if (impl_->loop == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(impl_->loop);
    const std::size_t i = indexOf(clip);
    impl_->images[i].assign(image.begin(), image.end());
    if (impl_->rate != 0) {
        impl_->clips[i] = decodeClip(impl_->images[i], impl_->rate);
    }
    pa_threaded_mainloop_unlock(impl_->loop);
}

void PulseClickOutput::play(ClickClip clip, std::chrono::nanoseconds due, bool startsRun) {
    if (impl_->loop == nullptr) {
        return;
    }
    Impl& d = *impl_;
    pa_threaded_mainloop_lock(d.loop);
    d.runActive = true;
    if (d.reconnectOnStart) {
        d.disconnect();
        d.connect();
    }
    const ClipSamples& samples = d.clips[indexOf(clip)];
    if (d.streamReady && !samples.empty()) {
        // A run whose start the output missed (no server then, or one that came back, or an
        // anchor that has not been learned yet) is anchored anew on this beat.
        if (startsRun || !d.track.anchored()) {
            d.startRun(samples, due);
        } else {
            d.placeBeat(samples, due);
        }
    }
    pa_threaded_mainloop_unlock(d.loop);
}

void PulseClickOutput::stop(std::chrono::nanoseconds now) {
    if (impl_->loop == nullptr) {
        return;
    }
    Impl& d = *impl_;
    pa_threaded_mainloop_lock(d.loop);
    d.runActive = false;
    if (d.streamReady && d.playing) {
        if (d.track.anchored()) {
            if (const auto withdrawn = d.track.withdrawAfter(d.track.frameOf(now))) {
                d.writeSilenceAt(withdrawn->frame, withdrawn->silenceFrames);
            }
        }
        d.armCork();
    }
    pa_threaded_mainloop_unlock(d.loop);
}

std::optional<std::chrono::nanoseconds> PulseClickOutput::playbackTime() const {
    if (impl_->loop == nullptr) {
        return std::nullopt;
    }
    Impl& d = *impl_;
    std::optional<std::chrono::nanoseconds> time;
    pa_threaded_mainloop_lock(d.loop);
    if (d.streamReady && d.playing && d.clockValid) {
        time = std::chrono::nanoseconds(d.readPositionNs());
    }
    pa_threaded_mainloop_unlock(d.loop);
    return time;
}

bool PulseClickOutput::connected() const {
    if (impl_->loop == nullptr) {
        return false;
    }
    pa_threaded_mainloop_lock(impl_->loop);
    const bool ready = impl_->streamReady;
    pa_threaded_mainloop_unlock(impl_->loop);
    return ready;
}

std::chrono::nanoseconds PulseClickOutput::lead() const {
    const std::chrono::nanoseconds latency{impl_->sinkLatencyNs.load(std::memory_order_relaxed)};
    return std::min(latency + kLeadMargin, kMaxLead);
}

}  // namespace vindelor
