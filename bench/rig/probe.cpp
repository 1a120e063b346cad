// Starts a click on the sound server the quickest way libpulse allows, a few times, and
// prints the CLOCK_MONOTONIC time (ns) at which each start was asked for, one per line.
// Recorded through the same monitor, these show what start latency the chain itself can
// reach, and that the recorder's time stamps are true to about a millisecond.
//
//   rig probe [--starts 5] [--gap-ms 1000] [--latency-ms 40]
//
// Each start writes an accent at the read position of a corked, empty stream (prebuffering
// off) and uncorks it; 300 ms later the stream is corked and flushed again. The stream's
// buffer is the program's: two seconds queued, the sink latency asked for (--latency-ms) as
// the program asks for it.

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/rig/recording.h"
#include "bench/rig/rig.h"

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = 48000;

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

void wake(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

}  // namespace

int probe(Args& args) {
    const int starts = static_cast<int>(args.number("--starts", 5));
    const int gapMs = static_cast<int>(args.number("--gap-ms", 1000));
    const int latencyMs = static_cast<int>(args.number("--latency-ms", 40));
    args.finish();
    if (starts <= 0 || gapMs < 400 || latencyMs <= 0 || latencyMs >= 2000) {
        throw UsageError("at least one start, 400 ms or more apart, a latency under 2 s");
    }
    const std::vector<float> click = makeClickTrack({.pattern = "A", .seconds = 0, .leadInSeconds = 0});

    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(loop), "vindelor rig start probe");
    pa_stream* stream = nullptr;
    const auto sleepMs = [](int ms) { sleepUntilNs(monotonicNs() + std::int64_t{ms} * 1'000'000); };
    pa_context_set_state_callback(
        context, [](pa_context*, void* user) { wake(static_cast<pa_threaded_mainloop*>(user)); }, loop);
    pa_threaded_mainloop_lock(loop);
    std::string failure;
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop) < 0) {
        failure = "cannot reach the sound server";
    }
    while (failure.empty() && pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            failure = "cannot reach the sound server";
        } else {
            pa_threaded_mainloop_wait(loop);
        }
    }
    if (failure.empty()) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
        stream = pa_stream_new(context, "start probe", &format, nullptr);
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* user) { wake(static_cast<pa_threaded_mainloop*>(user)); }, loop);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = 2 * kRate * sizeof(float);
        attr.prebuf = 0;
        attr.minreq = static_cast<std::uint32_t>(kRate * sizeof(float) * static_cast<std::uint32_t>(2000 - latencyMs) / 2000);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_START_CORKED, nullptr, nullptr);
        while (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
            pa_threaded_mainloop_wait(loop);
        }
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            failure = "the stream failed";
        }
    }
    pa_threaded_mainloop_unlock(loop);
    sleepMs(500);
    for (int i = 0; i < starts && failure.empty(); ++i) {
        pa_threaded_mainloop_lock(loop);
        const std::int64_t askedAt = monotonicNs();
        pa_stream_write(stream, click.data(), click.size() * sizeof(float), nullptr, 0,
                        PA_SEEK_RELATIVE_ON_READ);
        release(pa_stream_update_timing_info(stream, nullptr, nullptr));
        release(pa_stream_cork(stream, 0, nullptr, nullptr));
        pa_threaded_mainloop_unlock(loop);
        std::printf("%lld\n", static_cast<long long>(askedAt));
        std::fflush(stdout);
        sleepMs(300);
        pa_threaded_mainloop_lock(loop);
        release(pa_stream_cork(stream, 1, nullptr, nullptr));
        release(pa_stream_flush(stream, nullptr, nullptr));
        pa_threaded_mainloop_unlock(loop);
        sleepMs(i + 1 < starts ? gapMs - 300 : 100);
    }
    pa_threaded_mainloop_lock(loop);
    if (stream != nullptr) {
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
    return 0;
}

}  // namespace vindelor::rig
