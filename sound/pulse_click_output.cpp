#include "pulse_click_output.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "click_track.h"
#include "clip_decoder.h"

namespace vindelor {
namespace {

using std::chrono::nanoseconds;
using Frames = ClickTrack::Frames;

constexpr std::size_t kFrameBytes = sizeof(std::int16_t);  // mono, signed 16-bit
// A second of silence queued ahead, so that the process wakes a few times a second, not
// hundreds. Each beat's write tops the queue up again; the server asks for a refill of its own
// only when no beat has come for longer than the refill size, so not at 110 BPM and above,
// and the queue never runs shorter than the difference, close to half a second.
constexpr pa_usec_t kBufferUsec = 1'000'000;
constexpr pa_usec_t kRefillUsec = 550'000;
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
// A beat need not be written the moment it is handed over: the lead leaves room. So after each
// beat the server's thread sets itself to look at the requests this long after the next beat
// is expected to be handed over, and a beat handed over no more than kLookWindow before that
// look is only stored: the window's thread wakes nobody. Any other request wakes the loop.
constexpr nanoseconds kLookDelay = std::chrono::milliseconds(4);
constexpr nanoseconds kLookWindow = std::chrono::milliseconds(10);
// Beats further apart than this (50 BPM is 1.2 s) are not foreseen.
constexpr nanoseconds kLongestForeseen = std::chrono::seconds(2);

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

// Everything here is guarded by the threaded main loop's lock, which the server's thread holds
// while it runs the callbacks below, but for the request ring, the published clock and
// latency and the time of the next look, which are atomics. A play or a stop only queues a
// request, and wakes the loop unless it is about to look by itself: the stream is written on
// the server's thread, and a beat never waits for it.
// Callbacks (marked "server thread") never block, allocate or log, but for the one-time
// preparation of the clips when a server with a new rate answers.
struct PulseClickOutput::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* corkTimer = nullptr;
    pa_time_event* retryTimer = nullptr;

    // What the window's thread asked for and the server's thread has not yet done, oldest
    // first, in a ring that the window's thread fills without the loop's lock: a beat never
    // waits for the server's thread, nor wakes it more than once. Taken out under the lock.
    struct Request {
        bool stop = false;
        bool startsRun = false;
        std::size_t clip = 0;
        nanoseconds time{0};        // the beat's due time, or the moment of Stop
        std::int64_t handedNs = 0;  // when it was handed over, on the monotonic clock
    };
    static constexpr std::uint64_t kQueued = 64;
    std::array<Request, kQueued> requests{};
    std::atomic<std::uint64_t> requestsIn{0};   // moved on by the window's thread only
    std::atomic<std::uint64_t> requestsOut{0};  // moved on under the lock only
    int wakeFd = -1;                            // an eventfd: the ring has news
    pa_io_event* wakeEvent = nullptr;
    // When the server's thread will look at the ring by itself (monotonic ns), or kNoLook.
    static constexpr std::int64_t kNoLook = std::numeric_limits<std::int64_t>::min();
    std::atomic<std::int64_t> lookAtNs{kNoLook};
    pa_time_event* lookTimer = nullptr;
    std::optional<nanoseconds> lastDue;  // of the last beat written in this run
    bool workingOff = false;             // in workOffRequests

    ~Impl() {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }

    std::array<std::vector<std::uint8_t>, 3> images;
    std::array<ClipSamples, 3> clips;
    std::uint32_t rate = 0;
    Frames bufferFrames = 0;  // the queue's length when full
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
    // The stream's clock for the window's thread, without the lock: the stream position less
    // the monotonic time, while the clock runs; kNoClock otherwise.
    static constexpr std::int64_t kNoClock = std::numeric_limits<std::int64_t>::min();
    std::atomic<std::int64_t> clockOriginNs{kNoClock};
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

    // No stream to write to, for now: no clock, no run's anchor.
    void forgetStream() {
        streamReady = false;
        playing = false;
        clockValid = false;
        publishClock();
        anchorPending = false;
        track.reset();
        cancelLook();
    }

    void disconnect() {
        forgetStream();
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
        forgetStream();
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
        bufferFrames = static_cast<Frames>(kBufferUsec * rate / 1'000'000);

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
        self->publishClock();
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
        publishClock();
    }

    static std::int64_t monotonicNs() {
        return std::chrono::duration_cast<nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Nanoseconds of stream read so far, now. Needs clockValid.
    std::int64_t readPositionNs() const { return originNs() + monotonicNs(); }

    std::int64_t originNs() const {
        const std::int64_t framesNs =
            readFrames / rate * 1'000'000'000 + readFrames % rate * 1'000'000'000 / rate;
        return framesNs - readMonotonicNs;
    }

    void publishClock() {
        clockOriginNs.store(streamReady && playing && clockValid ? originNs() : kNoClock,
                            std::memory_order_release);
    }

    // --- requests from the window's thread ----------------------------------------------

    // Window's thread, lock not held.
    void submit(const Request& request) {
        const std::uint64_t in = requestsIn.load(std::memory_order_relaxed);
        if (in - requestsOut.load(std::memory_order_acquire) == kQueued) {
            // A loop that has not run for dozens of requests: they are worked off here.
            workOffRequestsHere();
        }
        const std::int64_t now = monotonicNs();
        requests[in % kQueued] = request;
        requests[in % kQueued].handedNs = now;
        // Sequentially consistent with the look's own store and load (onLook): either the
        // look sees this request, or this sees that the look has been.
        requestsIn.store(in + 1, std::memory_order_seq_cst);
        if (wakeFd < 0) {
            workOffRequestsHere();  // no way to wake the loop
            return;
        }
        if (!request.stop && !request.startsRun && lookComesSoon(now)) {
            return;
        }
        wakeLoop();
    }

    // Any thread.
    void wakeLoop() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    }

    // Window's thread: whether the server's thread will look at the ring within the window.
    bool lookComesSoon(std::int64_t now) const {
        const std::int64_t look = lookAtNs.load(std::memory_order_seq_cst);
        return look != kNoLook && look - now <= kLookWindow.count();
    }

    void workOffRequestsHere() {
        pa_threaded_mainloop_lock(loop);
        workOffRequests();
        pa_threaded_mainloop_unlock(loop);
    }

    static void onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
        self->workOffRequests();
    }

    static void onLook(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);  // server thread
        self->lookAtNs.store(kNoLook, std::memory_order_seq_cst);
        self->workOffRequests();
    }

    // After a beat due at `due` and handed over at `handedNs`: look at the ring when the next
    // one should have come, if the beats so far tell when that is.
    void foreseeNextBeat(nanoseconds due, std::int64_t handedNs) {
        const std::optional<nanoseconds> previous = std::exchange(lastDue, due);
        if (!previous || due <= *previous || due - *previous > kLongestForeseen) {
            return;
        }
        const std::int64_t look = handedNs + (due - *previous + kLookDelay).count();
        const std::int64_t wait = look - monotonicNs();
        if (wait <= 0) {
            return;
        }
        // Told before the timer is set: a look that comes earlier than told only looks sooner.
        lookAtNs.store(look, std::memory_order_seq_cst);
        const timeval when = fromNow(static_cast<pa_usec_t>(wait / 1000));
        if (lookTimer == nullptr) {
            lookTimer = api->time_new(api, &when, &Impl::onLook, this);
        } else {
            api->time_restart(lookTimer, &when);
        }
    }

    // No look comes: a beat stored in the belief that one would is taken up by the requests
    // being worked off, or else on the loop's next turn.
    void cancelLook() {
        lastDue.reset();
        if (lookTimer != nullptr) {
            api->time_restart(lookTimer, nullptr);
        }
        if (lookAtNs.exchange(kNoLook, std::memory_order_seq_cst) != kNoLook && !workingOff &&
            wakeFd >= 0) {
            wakeLoop();
        }
    }

    // Lock held. Looks for news again after each request: one stored while a beat was being
    // written, in the belief that a look was coming, is taken up too.
    void workOffRequests() {
        workingOff = true;
        for (std::uint64_t out = requestsOut.load(std::memory_order_relaxed);
             out != requestsIn.load(std::memory_order_seq_cst); ++out) {
            const Request request = requests[out % kQueued];
            requestsOut.store(out + 1, std::memory_order_release);
            if (request.stop) {
                stopRun(request.time);
            } else {
                playBeat(request);
            }
        }
        workingOff = false;
    }

    void playBeat(const Request& request) {
        const nanoseconds due = request.time;
        runActive = true;
        if (reconnectOnStart) {
            disconnect();
            connect();
        }
        const ClipSamples& samples = clips[request.clip];
        if (!streamReady || samples.empty()) {
            return;
        }
        // A run whose start the output missed (no server then, or one that came back, or an
        // anchor that has not been learned yet) is anchored anew on this beat.
        if (request.startsRun || !track.anchored()) {
            startRun(samples, due);
        } else {
            placeBeat(samples, due);
        }
        foreseeNextBeat(due, request.handedNs);
    }

    void stopRun(nanoseconds now) {
        runActive = false;
        cancelLook();
        if (!streamReady || !playing) {
            return;
        }
        if (track.anchored()) {
            if (const auto withdrawn = track.withdrawAfter(track.frameOf(now))) {
                writeSpan(withdrawn->frame, withdrawn->frame + withdrawn->silenceFrames, {});
            }
        }
        armCork();
    }

    // --- writing the stream, lock held --------------------------------------------------

    // Writes frames [from, to): `clip` from `from` on, zeros after it. Composed straight in
    // the library's buffers, one block per write.
    void writeSpan(Frames from, Frames to, std::span<const std::int16_t> clip) {
        const Frames clipEnd = from + static_cast<Frames>(clip.size());
        for (Frames at = from; at < to;) {
            void* data = nullptr;
            std::size_t bytes = static_cast<std::size_t>(to - at) * kFrameBytes;
            if (pa_stream_begin_write(stream, &data, &bytes) < 0 || data == nullptr) {
                return;
            }
            const auto frames = static_cast<Frames>(bytes / kFrameBytes);
            if (frames == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            auto* out = static_cast<std::int16_t*>(data);
            const Frames fromClip = std::clamp<Frames>(clipEnd - at, 0, frames);
            if (fromClip > 0) {
                std::memcpy(out, clip.data() + (at - from),
                            static_cast<std::size_t>(fromClip) * kFrameBytes);
            }
            std::memset(out + fromClip, 0,
                        static_cast<std::size_t>(frames - fromClip) * kFrameBytes);
            if (pa_stream_write(stream, data, static_cast<std::size_t>(frames) * kFrameBytes,
                                nullptr, at * static_cast<std::int64_t>(kFrameBytes),
                                PA_SEEK_ABSOLUTE) < 0) {
                return;
            }
            at += frames;
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
        lastDue.reset();
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
        publishClock();
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
        const Frames earliest = earliestWritable();
        const ClickTrack::Write write = track.place(track.frameOf(due), length, earliest);
        // The click, zeros over what an earlier one still had, and zeros on to where the queue
        // is full again. A write moves the stream's write index to its own end: one that ended
        // short of what is queued would have the server ask for all after it again, and the
        // server asks after each such write for what has been played since it was last full,
        // which is then already there.
        Frames end = write.frame + length + write.silenceFrames;
        if (queuedEnd) {
            end = std::max(end, *queuedEnd);
        }
        if (clockValid) {
            end = std::max(end, earliest + bufferFrames);
        }
        writeSpan(write.frame, end, clip);
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
    impl_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wakeFd >= 0) {
        impl_->wakeEvent = impl_->api->io_new(impl_->api, impl_->wakeFd, PA_IO_EVENT_INPUT,
                                              &Impl::onWake, impl_.get());
    }
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
    for (pa_time_event** timer : {&impl_->corkTimer, &impl_->retryTimer, &impl_->lookTimer}) {
        if (*timer != nullptr) {
            impl_->api->time_free(*timer);
            *timer = nullptr;
        }
    }
    if (impl_->wakeEvent != nullptr) {
        impl_->api->io_free(impl_->wakeEvent);
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
    impl_->submit({.stop = false, .startsRun = startsRun, .clip = indexOf(clip), .time = due});
}

void PulseClickOutput::stop(std::chrono::nanoseconds now) {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->submit({.stop = true, .startsRun = false, .clip = 0, .time = now});
}

std::optional<std::chrono::nanoseconds> PulseClickOutput::playbackTime() const {
    const std::int64_t origin = impl_->clockOriginNs.load(std::memory_order_acquire);
    if (origin == Impl::kNoClock) {
        return std::nullopt;
    }
    return std::chrono::nanoseconds(origin + Impl::monotonicNs());
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
