// Starts a click on the sound server the quickest way libpulse allows, a few times, and
// prints the CLOCK_MONOTONIC time (ns) at which each start was asked for, one per line.
// Recorded through the same monitor, these show what start latency the chain itself can
// reach and that the recorder's time stamps are true to about a millisecond.
//
//   rig_probe [--starts 5] [--gap-ms 1000] [--latency-ms 40]
//
// Each start writes an accent at the stream's read position into a corked, empty stream
// (prebuffering off) and uncorks it; 300 ms later the stream is corked and flushed again.

#include <pulse/pulseaudio.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/rig/click_track.h"

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = 48000;

struct Probe {
    pa_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::vector<float> click;
    int startsLeft = 5;
    int gapMs = 1000;
    int latencyMs = 40;
    int exitCode = 0;
};

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void fail(Probe& probe, const char* what) {
    std::fprintf(stderr, "rig_probe: %s: %s\n", what, pa_strerror(pa_context_errno(probe.context)));
    probe.exitCode = 1;
    pa_mainloop_quit(probe.loop, 1);
}

void after(Probe& probe, int ms, pa_time_event_cb_t callback) {
    timeval at{};
    pa_timeval_add(pa_gettimeofday(&at), static_cast<pa_usec_t>(ms) * 1000);
    probe.api->time_new(probe.api, &at, callback, &probe);
}

void onStart(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata);

void onSilence(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
    auto& probe = *static_cast<Probe*>(userdata);
    api->time_free(event);
    pa_operation_unref(pa_stream_cork(probe.stream, 1, nullptr, nullptr));
    pa_operation_unref(pa_stream_flush(probe.stream, nullptr, nullptr));
    if (--probe.startsLeft > 0) {
        after(probe, probe.gapMs - 300, onStart);
    } else {
        pa_operation_unref(pa_stream_drain(
            probe.stream,
            [](pa_stream*, int, void* p) { pa_mainloop_quit(static_cast<Probe*>(p)->loop, 0); },
            &probe));
    }
}

void onStart(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
    auto& probe = *static_cast<Probe*>(userdata);
    api->time_free(event);
    const std::int64_t askedAt = monotonicNs();
    if (pa_stream_write(probe.stream, probe.click.data(), probe.click.size() * sizeof(float),
                        nullptr, 0, PA_SEEK_RELATIVE_ON_READ) < 0) {
        fail(probe, "cannot write");
        return;
    }
    pa_operation_unref(pa_stream_update_timing_info(probe.stream, nullptr, nullptr));
    pa_operation_unref(pa_stream_cork(probe.stream, 0, nullptr, nullptr));
    std::printf("%lld\n", static_cast<long long>(askedAt));
    std::fflush(stdout);
    after(probe, 300, onSilence);
}

void onStreamState(pa_stream* stream, void* userdata) {
    auto& probe = *static_cast<Probe*>(userdata);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            after(probe, 500, onStart);
            break;
        case PA_STREAM_FAILED:
            fail(probe, "the stream failed");
            break;
        default:
            break;
    }
}

void onContextState(pa_context* context, void* userdata) {
    auto& probe = *static_cast<Probe*>(userdata);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
            probe.stream = pa_stream_new(context, "start probe", &format, nullptr);
            pa_stream_set_state_callback(probe.stream, onStreamState, &probe);
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            // The program's queue and the sink latency asked for (--latency-ms), as the program
            // asks: two seconds queued, refills of what is left over, halved.
            attr.tlength = 2 * kRate * sizeof(float);
            attr.prebuf = 0;
            attr.minreq = static_cast<std::uint32_t>(kRate * sizeof(float) *
                                                     (2000 - probe.latencyMs) / 2000);
            attr.fragsize = static_cast<std::uint32_t>(-1);
            const auto flags = static_cast<pa_stream_flags_t>(
                PA_STREAM_START_CORKED);
            if (pa_stream_connect_playback(probe.stream, nullptr, &attr, flags, nullptr, nullptr) <
                0) {
                fail(probe, "cannot play");
            }
            break;
        }
        case PA_CONTEXT_FAILED:
            fail(probe, "cannot reach the sound server");
            break;
        default:
            break;
    }
}

int run(int argc, char** argv) {
    Probe probe;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--starts") {
            probe.startsLeft = std::atoi(argv[i + 1]);
        } else if (name == "--gap-ms") {
            probe.gapMs = std::atoi(argv[i + 1]);
        } else if (name == "--latency-ms") {
            probe.latencyMs = std::atoi(argv[i + 1]);
        } else {
            probe.startsLeft = 0;
        }
    }
    if (argc % 2 == 0 || probe.startsLeft <= 0 || probe.gapMs < 400) {
        std::fprintf(stderr, "usage: rig_probe [--starts N] [--gap-ms MS (400 or more)] [--latency-ms MS]\n");
        return 2;
    }
    ClickTrackSettings settings;
    settings.pattern = "A";
    settings.seconds = 0;
    settings.leadInSeconds = 0;
    probe.click = makeClickTrack(settings);

    probe.loop = pa_mainloop_new();
    probe.api = pa_mainloop_get_api(probe.loop);
    probe.context = pa_context_new(probe.api, "vindelor rig start probe");
    pa_context_set_state_callback(probe.context, onContextState, &probe);
    if (pa_context_connect(probe.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        fail(probe, "cannot reach the sound server");
    } else {
        int ignored = 0;
        pa_mainloop_run(probe.loop, &ignored);
    }
    pa_context_set_state_callback(probe.context, nullptr, nullptr);
    if (probe.stream != nullptr) {
        pa_stream_set_state_callback(probe.stream, nullptr, nullptr);
        pa_stream_disconnect(probe.stream);
        pa_stream_unref(probe.stream);
    }
    pa_context_disconnect(probe.context);
    pa_context_unref(probe.context);
    pa_mainloop_free(probe.loop);
    return probe.exitCode;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    return vindelor::rig::run(argc, argv);
}
