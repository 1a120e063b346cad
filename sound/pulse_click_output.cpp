#include "pulse_click_output.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <vector>

#include "click_run.h"
#include "clip_decoder.h"
#include "graph_quantum_watch.h"
#include "loop_lock.h"
#include "pulse_click_stream.h"
#include "pulse_connection.h"
#include "request_ring.h"

namespace vindelor {
namespace {

using std::chrono::nanoseconds;

// The sink latency the stream asks for while it plays. On PulseAudio, what a desktop player's
// stream gets, so that the sink wakes no more often because of us (measured: 17 to 19 times a
// second against paplay's 22; at 100 ms, 23 to 24): its first click still sounds at once and
// Stop still takes back what has not sounded (the sink rewinds). The beats are handed over
// this much and a margin ahead: a new tempo is heard from the first beat due 240 ms later. On
// PipeWire, a graph quantum of 1024 frames at 48 kHz (what the latency is rounded down to):
// as quick to start and to stop as the graph's default, at a fraction of a percent of its CPU;
// but never less than the quantum other running streams hold the graph at, which a smaller
// request would make it leave: then that quantum and a little more, which rounds down to it.
constexpr std::int64_t kPulseAudioLatencyMs = 190;
constexpr std::int64_t kPipeWireLatencyMs = 40;
constexpr std::int64_t kOverTheQuantumMs = 8;

// playbackTime() published as an offset from the monotonic clock, or one of these.
constexpr std::int64_t kNoClock = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHeld = kNoClock + 1;

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

}  // namespace

// Threads: the window's thread calls the public methods; everything else runs on the sound
// thread (the threaded main loop's, "vindelor-sound") with the loop's lock held, which that
// thread holds while it runs its callbacks, and which the window's thread takes to work the
// requests off itself when it cannot wake the loop. Between the two: the request ring, and
// the clock and lead published as atomics. A play or a stop only queues a request, and wakes
// the loop unless it is about to look by itself: the stream is written on the sound thread,
// and a beat never waits for it.
// With the lock held nothing blocks, allocates or logs, but for the one-time preparation of
// the clips when a server with a new rate answers.
struct PulseClickOutput::Impl final : PulseConnection::Listener,
                                      PulseClickStream::Listener,
                                      ClickRun::Listener {
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();  // none: no sound at all
    LoopLock loopLock{loop};
    pa_mainloop_api* api = nullptr;

    RequestRing ring;
    int wakeFd = -1;  // an eventfd: the ring has news
    pa_io_event* wakeEvent VINDELOR_GUARDED_BY(loopLock) = nullptr;
    pa_time_event* lookTimer VINDELOR_GUARDED_BY(loopLock) = nullptr;
    pa_time_event* corkTimer VINDELOR_GUARDED_BY(loopLock) = nullptr;
    pa_time_event* replyTimer VINDELOR_GUARDED_BY(loopLock) = nullptr;
    bool workingOff VINDELOR_GUARDED_BY(loopLock) = false;

    std::unique_ptr<PulseConnection> connection VINDELOR_GUARDED_BY(loopLock);
    std::unique_ptr<PulseClickStream> stream VINDELOR_GUARDED_BY(loopLock);
    std::unique_ptr<GraphQuantumWatch> quantumWatch VINDELOR_GUARDED_BY(loopLock);  // PipeWire
    std::uint32_t streamRate VINDELOR_GUARDED_BY(loopLock) = 48000;
    // The connection's, while a server answers.
    pa_context* context VINDELOR_GUARDED_BY(loopLock) = nullptr;

    std::array<std::vector<std::uint8_t>, 3> images VINDELOR_GUARDED_BY(loopLock);
    std::array<ClipSamples, 3> clips VINDELOR_GUARDED_BY(loopLock);
    std::uint32_t clipRate VINDELOR_GUARDED_BY(loopLock) = 0;

    ClickRun run VINDELOR_GUARDED_BY(loopLock){clips, *this};
    // The timing rig's record of every click written, if it asks for one.
    const std::unique_ptr<FrameLog> frameLog = FrameLog::fromEnvironment();

    // For the window's thread: the beat time as an offset from the monotonic clock, kNoClock,
    // or kHeld with the time held in heldNs; and the lead.
    std::atomic<std::int64_t> clockOriginNs{kNoClock};
    std::atomic<std::int64_t> heldNs{0};
    // A run's first beat handed over and not yet taken up by the sound thread: its due time.
    std::atomic<std::int64_t> startDueNs{kNoClock};
    std::atomic<std::int64_t> leadNs{BeatPlacement::kUnknownLead.count()};

    ~Impl() override {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }

    // --- the window's thread ------------------------------------------------------------

    void submit(OutputRequest request) {
        request.handed = monotonicNow();
        if (!ring.push(request)) {
            // A loop that has not run for dozens of requests: they are worked off here.
            workOffHere();
            ring.push(request);
        }
        if (wakeFd < 0) {
            workOffHere();  // no way to wake the loop
        } else if (ring.needsWake(request, request.handed)) {
            wakeLoop();
        }
    }

    void workOffHere() VINDELOR_EXCLUDES(loopLock) {
        loopLock.lock();
        workOff();
        loopLock.unlock();
    }

    // Any thread.
    void wakeLoop() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    }

    // --- loop lock held: requests -------------------------------------------------------

    static void onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->loopLock.heldByLoop();
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
        self->workOff();
    }

    static void onLook(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->loopLock.heldByLoop();
        self->ring.withdrawLook();
        self->workOff();
    }

    // Looks for news again after each request: one stored while a beat was being written, in
    // the belief that a look was coming, is taken up too.
    void workOff() VINDELOR_REQUIRES(loopLock) {
        workingOff = true;
        while (const std::optional<OutputRequest> request = ring.pop()) {
            if (request->kind == OutputRequest::Kind::Stop) {
                run.stop(*request, monotonicNow());
            } else {
                if (stream && quantumWatch) {
                    stream->setRunLatency(pipeWireLatencyMs());
                }
                run.play(*request, monotonicNow());
                if (request->startsRun) {
                    std::int64_t due = request->due.time_since_epoch().count();
                    startDueNs.compare_exchange_strong(due, kNoClock);
                }
            }
        }
        workingOff = false;
        settle();
    }

    // Arms `timer` for `at`, or disarms it.
    void armAt(pa_time_event*& timer, std::optional<MonotonicTime> at, pa_time_event_cb_t call) VINDELOR_REQUIRES(loopLock) {
        if (!at || context == nullptr) {
            if (timer != nullptr) {
                api->time_restart(timer, nullptr);
            }
            return;
        }
        // libpulse's rtclock is the monotonic clock, in microseconds.
        const auto usec = static_cast<pa_usec_t>(
            std::max<std::int64_t>(0, at->time_since_epoch().count() / 1000));
        if (timer == nullptr) {
            timer = pa_context_rttime_new(context, usec, call, this);
        } else {
            pa_context_rttime_restart(context, timer, usec);
        }
    }

    // After each event: the run's timers as it wants them now, and what the window's thread
    // reads.
    void settle() VINDELOR_REQUIRES(loopLock) {
        const MonotonicTime now = monotonicNow();
        armAt(corkTimer, run.corkAt(), &Impl::onCork);
        armAt(replyTimer, run.replyAt(now), &Impl::onReply);
        publish(now);
    }

    static void onCork(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->loopLock.heldByLoop();
        self->run.corkDue(monotonicNow());
        self->settle();
    }

    static void onReply(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->loopLock.heldByLoop();
        self->run.replyDue(monotonicNow());
        self->settle();
    }

    std::int64_t pipeWireLatencyMs() const VINDELOR_REQUIRES(loopLock) {
        const std::int64_t held = quantumWatch->heldFrames(streamRate);
        std::int64_t ours = 1;
        while (ours * 2 <= kPipeWireLatencyMs * streamRate / 1000) {
            ours *= 2;
        }
        return held > ours ? held * 1000 / streamRate + kOverTheQuantumMs : kPipeWireLatencyMs;
    }

    // --- loop lock held: the run's wishes -----------------------------------------------

    void beatWritten(const OutputRequest& beat) override VINDELOR_REQUIRES(loopLock) {
        armAt(lookTimer, ring.foreseeNextBeat(beat.due, beat.handed, monotonicNow()),
              &Impl::onLook);
    }

    // No look comes: a beat stored in the belief that one would is taken up by the requests
    // being worked off, or else on the loop's next turn.
    void beatsForgotten() override VINDELOR_REQUIRES(loopLock) {
        ring.forgetBeats();
        armAt(lookTimer, std::nullopt, &Impl::onLook);
        if (ring.withdrawLook() && !workingOff && wakeFd >= 0) {
            wakeLoop();
        }
    }

    // --- loop lock held: connection and stream ------------------------------------------

    void serverReady(pa_context* ready, const PulseConnection::Server& server) override VINDELOR_REQUIRES(loopLock) {
        const std::uint32_t rate = server.rate >= 8000 && server.rate <= 384000 ? server.rate : 48000;
        prepareClips(rate);
        context = ready;
        streamRate = rate;
        if (server.pipeWire) {
            quantumWatch = std::make_unique<GraphQuantumWatch>(context);
        }
        stream = std::make_unique<PulseClickStream>(
            api, context, rate, server.pipeWire ? kPipeWireLatencyMs : kPulseAudioLatencyMs,
            *this);
        if (stream->failed()) {
            dropStream();
            connection->retryLater();
            return;
        }
        run.attach(*stream, FrameRate(rate), server.pipeWire);
    }

    void serverLost() override VINDELOR_REQUIRES(loopLock) { dropStream(); }

    void streamReady() override VINDELOR_REQUIRES(loopLock) {
        if (quantumWatch) {
            quantumWatch->ignore(stream->index());
        }
        run.streamReady(monotonicNow());
        settle();
    }

    // The server is there but dropped the stream: both are made anew, after a pause that
    // grows if it keeps happening.
    void streamLost() override VINDELOR_REQUIRES(loopLock) {
        dropStream();
        connection->retryLater();
    }

    void streamMoved() override VINDELOR_REQUIRES(loopLock) {
        run.streamMoved();
        settle();
    }

    void streamTiming(const StreamTiming& timing) override VINDELOR_REQUIRES(loopLock) {
        run.timing(timing, monotonicNow());
        settle();
    }

    void dropStream() VINDELOR_REQUIRES(loopLock) {
        run.detach();
        stream.reset();
        quantumWatch.reset();
        context = nullptr;
        settle();
    }

    // Once per server rate, before any play needs them: no beat waits for a conversion.
    void prepareClips(std::uint32_t rate) VINDELOR_REQUIRES(loopLock) {
        if (rate == clipRate) {
            return;
        }
        clipRate = rate;
        for (std::size_t i = 0; i < images.size(); ++i) {
            clips[i] = images[i].empty() ? ClipSamples{} : decodeClip(images[i], rate);
        }
    }

    // The window's thread may hand a run's first beat over meanwhile and hold the time
    // itself: read after the store, its due time wins over what was worked out before it.
    void publish(MonotonicTime now) VINDELOR_REQUIRES(loopLock) {
        const ClickRun::Reading reading = run.reading(now);
        const std::int64_t time = reading.time.time_since_epoch().count();
        std::int64_t origin = kNoClock;
        if (reading.kind == ClickRun::Reading::Kind::Held) {
            heldNs.store(time, std::memory_order_relaxed);
            origin = kHeld;
        } else if (reading.kind == ClickRun::Reading::Kind::Running) {
            // Where the two clocks stand apart: a number for the window's thread, no time.
            origin = time - now.time_since_epoch().count();
        }
        clockOriginNs.store(origin, std::memory_order_seq_cst);
        if (const std::int64_t start = startDueNs.load(std::memory_order_seq_cst);
            start != kNoClock) {
            heldNs.store(start, std::memory_order_relaxed);
            clockOriginNs.store(kHeld, std::memory_order_seq_cst);
        }
        leadNs.store(run.lead().count(), std::memory_order_relaxed);
    }
};

PulseClickOutput::PulseClickOutput() : impl_(std::make_unique<Impl>()) {
    if (impl_->loop == nullptr) {
        return;  // no sound at all, the program runs on silently
    }
    impl_->api = pa_threaded_mainloop_get_api(impl_->loop);
    pa_threaded_mainloop_set_name(impl_->loop, "vindelor-sound");
    impl_->loopLock.lock();
    impl_->run.setFrameLog(impl_->frameLog.get());
    impl_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wakeFd >= 0) {
        impl_->wakeEvent = impl_->api->io_new(impl_->api, impl_->wakeFd, PA_IO_EVENT_INPUT,
                                              &Impl::onWake, impl_.get());
    }
    impl_->connection = std::make_unique<PulseConnection>(impl_->api, *impl_);
    impl_->connection->connect();
    impl_->loopLock.unlock();
    if (pa_threaded_mainloop_start(impl_->loop) < 0) {
        impl_->loopLock.lock();
        impl_->stream.reset();
        impl_->connection.reset();
        impl_->loopLock.unlock();
        pa_threaded_mainloop_free(impl_->loop);
        impl_->loop = nullptr;
    }
}

PulseClickOutput::~PulseClickOutput() {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->loopLock.lock();
    for (pa_time_event** timer : {&impl_->corkTimer, &impl_->lookTimer, &impl_->replyTimer}) {
        if (*timer != nullptr) {
            impl_->api->time_free(*timer);
            *timer = nullptr;
        }
    }
    if (impl_->wakeEvent != nullptr) {
        impl_->api->io_free(impl_->wakeEvent);
    }
    impl_->run.detach();
    impl_->stream.reset();
    impl_->quantumWatch.reset();
    impl_->connection.reset();
    impl_->loopLock.unlock();
    pa_threaded_mainloop_stop(impl_->loop);
    pa_threaded_mainloop_free(impl_->loop);
}

void PulseClickOutput::prepare(ClickClip clip, std::span<const std::uint8_t> image) {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->loopLock.lock();
    const std::size_t i = indexOf(clip);
    impl_->images[i].assign(image.begin(), image.end());
    if (impl_->clipRate != 0) {
        impl_->clips[i] = decodeClip(impl_->images[i], impl_->clipRate);
    }
    impl_->loopLock.unlock();
}

void PulseClickOutput::play(ClickClip clip, std::chrono::nanoseconds due,
                            std::chrono::nanoseconds now, bool startsRun) {
    if (impl_->loop == nullptr) {
        return;
    }
    if (startsRun) {
        // The time holds from here until the run's first click sounds, so that no beat after
        // it falls due meanwhile, however late the sound thread or the stream come.
        impl_->startDueNs.store(due.count(), std::memory_order_seq_cst);
        impl_->heldNs.store(due.count(), std::memory_order_relaxed);
        impl_->clockOriginNs.store(kHeld, std::memory_order_seq_cst);
    }
    impl_->submit({.kind = OutputRequest::Kind::Play,
                   .startsRun = startsRun,
                   .clip = indexOf(clip),
                   .due = BeatTime(due),
                   .ahead = std::max(due - now, nanoseconds{0})});
}

void PulseClickOutput::stop(std::chrono::nanoseconds now) {
    if (impl_->loop == nullptr) {
        return;
    }
    impl_->submit({.kind = OutputRequest::Kind::Stop, .due = BeatTime(now)});
}

std::optional<std::chrono::nanoseconds> PulseClickOutput::playbackTime() const {
    const std::int64_t origin = impl_->clockOriginNs.load(std::memory_order_acquire);
    if (origin == kNoClock) {
        return std::nullopt;
    }
    if (origin == kHeld) {
        return std::chrono::nanoseconds(impl_->heldNs.load(std::memory_order_relaxed));
    }
    return std::chrono::nanoseconds(origin + monotonicNow().time_since_epoch().count());
}

std::chrono::nanoseconds PulseClickOutput::lead() const {
    return std::chrono::nanoseconds(impl_->leadNs.load(std::memory_order_relaxed));
}

bool PulseClickOutput::connected() const {
    if (impl_->loop == nullptr) {
        return false;
    }
    impl_->loopLock.lock();
    const bool ready = impl_->stream && impl_->stream->ready();
    impl_->loopLock.unlock();
    return ready;
}

}  // namespace vindelor
