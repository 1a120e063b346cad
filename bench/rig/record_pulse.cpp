// Records a PulseAudio source (a sink's monitor) to a 32-bit float mono WAV file and ties its
// samples to CLOCK_MONOTONIC through the server's own timing information, so that it needs no
// small blocks: its latency may be as long as the sink's, and it never drags the sink down.
//
//   rig_record_pulse --device rig.monitor --wav out.wav --log out.timing [--latency-ms 40]
//
// The log has one line per timing reply, "frame played_ns": the recording's sample `frame`
// played on the sink at CLOCK_MONOTONIC `played_ns`. For a monitor, the server's write index
// plus what is on its way to the queue is the last sample the sink has mixed, and that sample
// plays the sink's latency later. Prints "recording" once samples arrive; stops on SIGINT or
// SIGTERM, completes the file and exits 0. Talks to the server PULSE_SERVER names.

#include <pulse/pulseaudio.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <memory>

#include "bench/rig/recording_files.h"

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = RecordingFiles::kRate;
constexpr pa_usec_t kTimingEveryUsec = 100'000;

struct Options {
    std::string device;
    std::string wavPath;
    std::string logPath;
    double latencyMs = 40;
};

struct Recorder {
    Options options;
    pa_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::unique_ptr<RecordingFiles> files;
    std::uint64_t holes = 0;
    int overflows = 0;
    bool announced = false;
    int exitCode = 0;
};

std::int64_t nsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void fail(Recorder& recorder, const std::string& what) {
    std::fprintf(stderr, "rig_record_pulse: %s\n", what.c_str());
    recorder.exitCode = 1;
    pa_mainloop_quit(recorder.loop, 1);
}

std::string contextError(const Recorder& recorder) {
    return pa_strerror(pa_context_errno(recorder.context));
}

// A hole (data the server lost) is written as silence of its length, so that sample positions
// stay true.
void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0) {
            fail(recorder, "reading failed: " + contextError(recorder));
            return;
        }
        if (bytes == 0) {
            break;
        }
        const std::uint64_t count = bytes / sizeof(float);
        if (data != nullptr) {
            recorder.files->write(static_cast<const float*>(data), count);
        } else {
            recorder.files->silence(count);
            recorder.holes += count;
        }
        pa_stream_drop(stream);
    }
    if (!recorder.announced && recorder.files->frames() > 0) {
        recorder.announced = true;
        std::printf("recording\n");
        std::fflush(stdout);
    }
}

void onTiming(pa_stream* stream, int success, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
    if (timing == nullptr || timing->write_index_corrupt != 0 || timing->write_index < 0) {
        return;
    }
    // The reply's time stamp is the server's wall clock; both clocks are read here together.
    const std::int64_t wallToMonotonic = nsOf(CLOCK_MONOTONIC) - nsOf(CLOCK_REALTIME);
    const std::int64_t stampNs = static_cast<std::int64_t>(timing->timestamp.tv_sec) * 1'000'000'000 +
                                 static_cast<std::int64_t>(timing->timestamp.tv_usec) * 1000;
    const std::int64_t mixed = timing->write_index / static_cast<std::int64_t>(sizeof(float));
    const std::int64_t onTheWayNs = static_cast<std::int64_t>(timing->source_usec) * 1000;
    const std::int64_t sinkLatencyNs = static_cast<std::int64_t>(timing->sink_usec) * 1000;
    // The last mixed sample is `mixed` plus what is on its way; it plays after the sink's latency.
    const std::int64_t playedNs = stampNs + wallToMonotonic + sinkLatencyNs - onTheWayNs;
    recorder.files->anchor(mixed, playedNs, sinkLatencyNs);
}

void onTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    if (recorder.stream != nullptr && pa_stream_get_state(recorder.stream) == PA_STREAM_READY) {
        if (pa_operation* operation =
                pa_stream_update_timing_info(recorder.stream, onTiming, &recorder)) {
            pa_operation_unref(operation);
        }
    }
    timeval next{};
    pa_timeval_add(pa_gettimeofday(&next), kTimingEveryUsec);
    api->time_restart(event, &next);
}

void onOverflow(pa_stream*, void* userdata) {
    ++static_cast<Recorder*>(userdata)->overflows;
}

void onStreamState(pa_stream* stream, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) {
        fail(recorder, "cannot record " + recorder.options.device + ": " + contextError(recorder));
    }
}

void startStream(Recorder& recorder) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
    recorder.stream = pa_stream_new(recorder.context, "monitor recording", &format, nullptr);
    if (recorder.stream == nullptr) {
        fail(recorder, "cannot make a stream: " + contextError(recorder));
        return;
    }
    pa_stream_set_state_callback(recorder.stream, onStreamState, &recorder);
    pa_stream_set_read_callback(recorder.stream, onRead, &recorder);
    pa_stream_set_overflow_callback(recorder.stream, onOverflow, &recorder);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    // Without ADJUST_LATENCY the fragment is the latency asked of the source, and through the
    // monitor of the sink: no lower than the sink's own.
    attr.fragsize = static_cast<std::uint32_t>(recorder.options.latencyMs * kRate / 1000) *
                    static_cast<std::uint32_t>(sizeof(float));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(recorder.stream, recorder.options.device.c_str(), &attr, flags) <
        0) {
        fail(recorder, "cannot record " + recorder.options.device + ": " + contextError(recorder));
        return;
    }
    timeval now{};
    recorder.api->time_new(recorder.api, pa_gettimeofday(&now), onTimer, &recorder);
}

void onContextState(pa_context* context, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            startStream(recorder);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            fail(recorder, "lost the sound server: " + contextError(recorder));
            break;
        default:
            break;
    }
}

void onSignal(pa_mainloop_api*, pa_signal_event*, int, void* userdata) {
    pa_mainloop_quit(static_cast<Recorder*>(userdata)->loop, 0);
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--device") {
            options.device = value;
        } else if (name == "--wav") {
            options.wavPath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--latency-ms") {
            options.latencyMs = std::atof(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.device.empty() && !options.wavPath.empty() &&
           !options.logPath.empty() && options.latencyMs > 0;
}

int run(int argc, char** argv) {
    Recorder recorder;
    if (!parse(argc, argv, recorder.options)) {
        std::fprintf(stderr,
                     "usage: rig_record_pulse --device SOURCE --wav FILE --log FILE "
                     "[--latency-ms MS]\n");
        return 2;
    }
    recorder.files = std::make_unique<RecordingFiles>(
        recorder.options.wavPath, recorder.options.logPath,
        "frame played_monotonic_ns sink_latency_ns");
    if (!recorder.files->ok()) {
        std::fprintf(stderr, "rig_record_pulse: %s\n", recorder.files->error().c_str());
        return 1;
    }

    recorder.loop = pa_mainloop_new();
    recorder.api = pa_mainloop_get_api(recorder.loop);
    pa_signal_init(recorder.api);
    pa_signal_new(SIGINT, onSignal, &recorder);
    pa_signal_new(SIGTERM, onSignal, &recorder);
    recorder.context = pa_context_new(recorder.api, "vindelor rig recorder");
    pa_context_set_state_callback(recorder.context, onContextState, &recorder);
    if (pa_context_connect(recorder.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::fprintf(stderr, "rig_record_pulse: cannot reach the sound server: %s\n",
                     contextError(recorder).c_str());
        recorder.exitCode = 1;
    } else {
        int ignored = 0;
        pa_mainloop_run(recorder.loop, &ignored);
    }

    pa_context_set_state_callback(recorder.context, nullptr, nullptr);
    if (recorder.stream != nullptr) {
        pa_stream_set_state_callback(recorder.stream, nullptr, nullptr);
        pa_stream_disconnect(recorder.stream);
        pa_stream_unref(recorder.stream);
    }
    pa_context_disconnect(recorder.context);
    pa_context_unref(recorder.context);
    pa_signal_done();
    pa_mainloop_free(recorder.loop);
    recorder.files->note("frames " + std::to_string(recorder.files->frames()) +
                         ", lost to holes " + std::to_string(recorder.holes) + ", overflows " +
                         std::to_string(recorder.overflows));
    recorder.files.reset();
    if (recorder.overflows > 0 || recorder.holes > 0) {
        std::fprintf(stderr,
                     "rig_record_pulse: %d overflows, %llu frames lost: positions are not true\n",
                     recorder.overflows, static_cast<unsigned long long>(recorder.holes));
        return 1;
    }
    return recorder.exitCode;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    return vindelor::rig::run(argc, argv);
}
