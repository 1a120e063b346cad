#include "pulse_click_output.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <vector>

#include "beat_placement.h"
#include "clip_decoder.h"
#include "pulse_click_stream.h"
#include "pulse_connection.h"
#include "request_ring.h"

namespace vindelor {
namespace {

using std::chrono::nanoseconds;
using Frames = ClickTrack::Frames;

// How long after Stop the stream is corked: the click sounding then plays to its end first.
constexpr std::int64_t kCorkDelayNs = 200'000'000;
// PipeWire's largest quantum at 48 kHz: the step of its read index until two steps are seen.
constexpr Frames kLargestQuantumAt48k = 2048;
// The sink latency the stream asks for while it plays. On PulseAudio, as long as a desktop's
// players ask, so that the sink wakes no more often because of us: its first click still
// sounds at once (the sink rewinds), and the beats are handed over this much ahead. On
// PipeWire, a graph quantum of 1024 frames at 48 kHz (what the latency is rounded down to):
// as quick to start and to stop as the graph's default, at a fraction of a percent of its CPU.
constexpr std::int64_t kPulseAudioLatencyMs = 100;
constexpr std::int64_t kPipeWireLatencyMs = 40;

constexpr std::int64_t kNoClock = std::numeric_limits<std::int64_t>::min();

std::uint8_t indexOf(ClickClip clip) {
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

std::int64_t monotonicNs() {
    return std::chrono::duration_cast<nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

timeval monotonicToWall(std::int64_t atNs) {
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(std::max<std::int64_t>(0, atNs - monotonicNs()) / 1000));
    return when;
}

}  // namespace

// Threads: the window's thread calls the public methods; everything else runs on the sound
// server's thread (the threaded main loop's), under the loop's lock, which that thread holds
// while it runs its callbacks. Between the two: the request ring, and the clock and lead
// published as atomics. A play or a stop only queues a request, and wakes the loop unless it
// is about to look by itself: the stream is written on the server's thread, and a beat never
// waits for it.
// Server thread callbacks never block, allocate or log, but for the one-time preparation of
// the clips when a server with a new rate answers.
struct PulseClickOutput::Impl final : PulseConnection::Listener, PulseClickStream::Listener {
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;

    RequestRing ring;
    int wakeFd = -1;  // an eventfd: the ring has news
    pa_io_event* wakeEvent = nullptr;
    pa_time_event* lookTimer = nullptr;
    pa_time_event* corkTimer = nullptr;
    bool workingOff = false;

    std::unique_ptr<PulseConnection> connection;
    std::unique_ptr<PulseClickStream> stream;

    std::array<std::vector<std::uint8_t>, 3> images;
    std::array<ClipSamples, 3> clips;
    std::uint32_t clipRate = 0;

    BeatPlacement placement{48000, false};
    bool pipeWire = false;
    bool runActive = false;
    // A beat the stream is not ready for yet, placed when the next timing reply comes.
    std::optional<OutputRequest> waiting;
    // The waiting beat went in at the read position of a corked stream; the reply says where.
    bool anchorAtRead = false;

    // For the window's thread: the stream's clock as an offset from the monotonic clock (or
    // kNoClock), and the lead.
    std::atomic<std::int64_t> clockOriginNs{kNoClock};
    std::atomic<std::int64_t> leadNs{BeatPlacement::kUnknownLead.count()};

    ~Impl() override {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }

    // --- the window's thread ------------------------------------------------------------

    void submit(OutputRequest request) {
        request.handedNs = monotonicNs();
        if (!ring.push(request)) {
            // A loop that has not run for dozens of requests: they are worked off here.
            workOffHere();
            ring.push(request);
        }
        if (wakeFd < 0) {
            workOffHere();  // no way to wake the loop
        } else if (ring.needsWake(request, request.handedNs)) {
            wakeLoop();
        }
    }

    void workOffHere() {
        pa_threaded_mainloop_lock(loop);
        workOff();
        pa_threaded_mainloop_unlock(loop);
    }

    // Any thread.
    void wakeLoop() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    }

    // --- the server's thread: requests --------------------------------------------------

    static void onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* user) {
        auto* self = static_cast<Impl*>(user);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
        self->workOff();
    }

    static void onLook(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->ring.withdrawLook();
        self->workOff();
    }

    // Looks for news again after each request: one stored while a beat was being written, in
    // the belief that a look was coming, is taken up too.
    void workOff() {
        workingOff = true;
        while (const std::optional<OutputRequest> request = ring.pop()) {
            if (request->kind == OutputRequest::Kind::Stop) {
                stopRun(*request);
            } else {
                playBeat(*request);
            }
        }
        workingOff = false;
    }

    void foresee(const OutputRequest& beat) {
        const std::optional<std::int64_t> look =
            ring.foreseeNextBeat(beat.due, beat.handedNs, monotonicNs());
        if (!look) {
            return;
        }
        const timeval when = monotonicToWall(*look);
        if (lookTimer == nullptr) {
            lookTimer = api->time_new(api, &when, &Impl::onLook, this);
        } else {
            api->time_restart(lookTimer, &when);
        }
    }

    // No look comes: a beat stored in the belief that one would is taken up by the requests
    // being worked off, or else on the loop's next turn.
    void cancelLook() {
        ring.forgetBeats();
        if (lookTimer != nullptr) {
            api->time_restart(lookTimer, nullptr);
        }
        if (ring.withdrawLook() && !workingOff && wakeFd >= 0) {
            wakeLoop();
        }
    }

    void playBeat(const OutputRequest& beat) {
        runActive = true;
        if (corkTimer != nullptr) {
            api->time_restart(corkTimer, nullptr);
        }
        if (!stream || !stream->ready()) {
            keepWaiting(beat);
            return;
        }
        if (beat.startsRun || (!placement.track().anchored() && !waiting)) {
            beginRun(beat);
        } else if (!placement.track().anchored()) {
            keepWaiting(beat);
        } else {
            placeBeat(beat);
        }
    }

    // The first beat of a run waits rather than any beat after it: a run starts with its
    // accent, however long the stream takes.
    void keepWaiting(const OutputRequest& beat) {
        if (!waiting || beat.startsRun || !waiting->startsRun) {
            waiting = beat;
        }
    }

    void beginRun(const OutputRequest& first) {
        placement.forgetRun();
        ring.forgetBeats();
        waiting = first;
        if (first.startsRun) {
            forgetClock();
            stream->startWith(clips[first.clip]);
            anchorAtRead = true;
            return;
        }
        if (!stream->playing()) {
            forgetClock();
            stream->play();
            stream->askTiming();
            return;
        }
        if (placement.clock().valid()) {
            placeWaiting();
        }
    }

    // The waiting beat becomes the run's anchor, now that the stream's clock is known.
    void placeWaiting() {
        const OutputRequest beat = *waiting;
        waiting.reset();
        const ClipSamples& clip = clips[beat.clip];
        // A PulseAudio sink rewinds: a run's first click goes where it plays now.
        if (const auto frame = placement.anchor(beat, static_cast<Frames>(clip.size()),
                                                monotonicNs(), !pipeWire)) {
            writeClick(*frame, clip, 0);
            publishLead();
            foresee(beat);
        }
    }

    void placeBeat(const OutputRequest& beat) {
        const ClipSamples& clip = clips[beat.clip];
        const ClickTrack::Write write =
            placement.place(beat, static_cast<Frames>(clip.size()), monotonicNs(), !pipeWire);
        writeClick(write.frame, clip, write.silenceFrames);
        foresee(beat);
    }

    // The click, zeros over what an earlier one still had, and zeros on to where the queue is
    // full again. A write moves the stream's write index to its own end: one that ended short
    // of what is queued would have the server ask for all after it again (and PipeWire's
    // server play nothing after it).
    void writeClick(Frames frame, const ClipSamples& clip, Frames silenceAfter) {
        Frames end = frame + static_cast<Frames>(clip.size()) + silenceAfter;
        if (const std::optional<Frames> queued = stream->writeEnd()) {
            end = std::max(end, *queued);
        }
        const StreamClock& clock = placement.clock();
        if (clock.valid()) {
            end = std::max(end, clock.playingAt(monotonicNs()) +
                                    clock.framesIn(PulseClickStream::kQueueMs * 1'000'000));
        }
        stream->write(frame, end, clip);
    }

    void stopRun(const OutputRequest& stop) {
        runActive = false;
        waiting.reset();
        cancelLook();
        if (!stream || !stream->playing()) {
            return;
        }
        if (const auto withdrawn = placement.withdrawAfter(stop)) {
            stream->write(withdrawn->frame, withdrawn->frame + withdrawn->silenceFrames, {});
        }
        const timeval when = monotonicToWall(monotonicNs() + kCorkDelayNs);
        if (corkTimer == nullptr) {
            corkTimer = api->time_new(api, &when, &Impl::onCork, this);
        } else {
            api->time_restart(corkTimer, &when);
        }
    }

    static void onCork(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (self->runActive || !self->stream) {
            return;
        }
        self->stream->idle();
        self->placement.forgetRun();
        self->forgetClock();
    }

    // --- the server's thread: connection and stream -------------------------------------

    void serverReady(pa_context* context, const PulseConnection::Server& server) override {
        const std::uint32_t rate = server.rate >= 8000 && server.rate <= 384000 ? server.rate : 48000;
        prepareClips(rate);
        pipeWire = server.pipeWire;
        placement = BeatPlacement(rate, pipeWire, kLargestQuantumAt48k * rate / 48000);
        anchorAtRead = false;
        stream = std::make_unique<PulseClickStream>(
            api, context, rate, pipeWire ? kPipeWireLatencyMs : kPulseAudioLatencyMs, *this);
        if (stream->failed()) {
            stream.reset();
        }
    }

    void serverLost() override { dropStream(); }

    void streamReady() override {
        if (runActive && waiting) {
            const OutputRequest first = *waiting;
            beginRun(first);
        }
    }

    void streamLost() override {
        dropStream();
        connection->disconnect();
        connection->connect();
    }

    void streamMoved() override { forgetClock(); }

    void streamTiming(const PulseClickStream::Timing& timing) override {
        if (anchorAtRead) {
            // Asked while corked: the read index is where the run's first click went.
            anchorAtRead = false;
            if (waiting) {
                const ClipSamples& clip = clips[waiting->clip];
                placement.anchorAt(*waiting, timing.readFrame, static_cast<Frames>(clip.size()));
                const OutputRequest first = *waiting;
                waiting.reset();
                foresee(first);
            }
            return;
        }
        if (!stream || !stream->playing()) {
            return;
        }
        placement.clock().addReply(timing.monotonicNs, timing.readFrame, timing.sinkLatencyNs,
                                   timing.configuredLatencyNs);
        publishClock();
        publishLead();
        if (waiting && runActive) {
            placeWaiting();
        }
    }

    void dropStream() {
        stream.reset();
        placement.forgetRun();
        anchorAtRead = false;
        forgetClock();
        cancelLook();
    }

    void forgetClock() {
        placement.clock().reset();
        publishClock();
        publishLead();
    }

    // Once per server rate, before any play needs them: no beat waits for a conversion.
    void prepareClips(std::uint32_t rate) {
        if (rate == clipRate) {
            return;
        }
        clipRate = rate;
        for (std::size_t i = 0; i < images.size(); ++i) {
            clips[i] = images[i].empty() ? ClipSamples{} : decodeClip(images[i], rate);
        }
    }

    void publishClock() {
        const StreamClock& clock = placement.clock();
        std::int64_t origin = kNoClock;
        if (stream && stream->playing() && clock.valid()) {
            const std::int64_t now = monotonicNs();
            const Frames playing = clock.playingAt(now);
            const std::int64_t rate = clock.rate();
            origin = playing / rate * 1'000'000'000 + playing % rate * 1'000'000'000 / rate - now;
        }
        clockOriginNs.store(origin, std::memory_order_release);
    }

    void publishLead() { leadNs.store(placement.lead().count(), std::memory_order_relaxed); }
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
    impl_->connection = std::make_unique<PulseConnection>(impl_->api, *impl_);
    impl_->connection->connect();
    pa_threaded_mainloop_unlock(impl_->loop);
    if (pa_threaded_mainloop_start(impl_->loop) < 0) {
        pa_threaded_mainloop_lock(impl_->loop);
        impl_->stream.reset();
        impl_->connection.reset();
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
    for (pa_time_event** timer : {&impl_->corkTimer, &impl_->lookTimer}) {
        if (*timer != nullptr) {
            impl_->api->time_free(*timer);
            *timer = nullptr;
        }
    }
    if (impl_->wakeEvent != nullptr) {
        impl_->api->io_free(impl_->wakeEvent);
    }
    impl_->stream.reset();
    impl_->connection.reset();
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
    if (impl_->clipRate != 0) {
        impl_->clips[i] = decodeClip(impl_->images[i], impl_->clipRate);
    }
    pa_threaded_mainloop_unlock(impl_->loop);
}

void PulseClickOutput::play(ClickClip clip, std::chrono::nanoseconds due,
                            std::chrono::nanoseconds now, bool startsRun) {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->submit({.kind = OutputRequest::Kind::Play,
                   .startsRun = startsRun,
                   .clip = indexOf(clip),
                   .due = due,
                   .ahead = std::max(due - now, nanoseconds{0})});
}

void PulseClickOutput::stop(std::chrono::nanoseconds now) {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->submit({.kind = OutputRequest::Kind::Stop, .due = now});
}

std::optional<std::chrono::nanoseconds> PulseClickOutput::playbackTime() const {
    const std::int64_t origin = impl_->clockOriginNs.load(std::memory_order_acquire);
    if (origin == kNoClock) {
        return std::nullopt;
    }
    return std::chrono::nanoseconds(origin + monotonicNs());
}

std::chrono::nanoseconds PulseClickOutput::lead() const {
    return std::chrono::nanoseconds(impl_->leadNs.load(std::memory_order_relaxed));
}

bool PulseClickOutput::connected() const {
    if (impl_->loop == nullptr) {
        return false;
    }
    pa_threaded_mainloop_lock(impl_->loop);
    const bool ready = impl_->stream && impl_->stream->ready();
    pa_threaded_mainloop_unlock(impl_->loop);
    return ready;
}

}  // namespace vindelor
