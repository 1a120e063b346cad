// Records a PulseAudio source (a sink's monitor) to a 32-bit float mono WAV file, with a short
// latency, and logs for every read the CLOCK_MONOTONIC time, the frames held so far and the
// stream's latency, so that every sample can be tied to the monotonic clock.
//
//   rig_record --device rig.monitor --wav out.wav --log out.timing [--fragment-ms 1]
//
// Prints "recording" on stdout once the first samples have arrived; stops on SIGINT or
// SIGTERM, completes the file and exits 0. Talks to the server PULSE_SERVER names.

#include <pulse/pulseaudio.h>
#include <sndfile.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = 48000;

struct Options {
    std::string device;
    std::string wavPath;
    std::string logPath;
    double fragmentMs = 1;
};

struct Recorder {
    Options options;
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    SNDFILE* wav = nullptr;
    std::FILE* log = nullptr;
    std::uint64_t frames = 0;
    std::uint64_t holes = 0;
    int overflows = 0;
    bool announced = false;
    int exitCode = 0;
};

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void fail(Recorder& recorder, const std::string& what) {
    std::fprintf(stderr, "rig_record: %s\n", what.c_str());
    recorder.exitCode = 1;
    pa_mainloop_quit(recorder.loop, 1);
}

std::string contextError(const Recorder& recorder) {
    return pa_strerror(pa_context_errno(recorder.context));
}

// Runs on the main loop: takes everything readable, then notes when it was read. A hole (data
// the server lost) is written as silence of its length so that sample positions stay true.
void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
    const std::int64_t readAt = monotonicNs();
    bool got = false;
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
        const auto count = static_cast<sf_count_t>(bytes / sizeof(float));
        if (data != nullptr) {
            sf_writef_float(recorder.wav, static_cast<const float*>(data), count);
        } else {
            const std::vector<float> silence(static_cast<std::size_t>(count), 0.0f);
            sf_writef_float(recorder.wav, silence.data(), count);
            recorder.holes += static_cast<std::uint64_t>(count);
        }
        recorder.frames += static_cast<std::uint64_t>(count);
        pa_stream_drop(stream);
        got = true;
    }
    if (!got) {
        return;
    }
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
        const auto signedNs = static_cast<std::int64_t>(latency) * 1000 * (negative ? -1 : 1);
        std::fprintf(recorder.log, "%lld %llu %lld\n", static_cast<long long>(readAt),
                     static_cast<unsigned long long>(recorder.frames),
                     static_cast<long long>(signedNs));
    }
    if (!recorder.announced) {
        recorder.announced = true;
        std::printf("recording\n");
        std::fflush(stdout);
    }
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
    attr.fragsize = static_cast<std::uint32_t>(recorder.options.fragmentMs * kRate / 1000) *
                    static_cast<std::uint32_t>(sizeof(float));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(recorder.stream, recorder.options.device.c_str(), &attr, flags) <
        0) {
        fail(recorder, "cannot record " + recorder.options.device + ": " + contextError(recorder));
    }
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
        } else if (name == "--fragment-ms") {
            options.fragmentMs = std::atof(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.device.empty() && !options.wavPath.empty() &&
           !options.logPath.empty() && options.fragmentMs > 0;
}

int run(int argc, char** argv) {
    Recorder recorder;
    if (!parse(argc, argv, recorder.options)) {
        std::fprintf(
            stderr, "usage: rig_record --device SOURCE --wav FILE --log FILE [--fragment-ms MS]\n");
        return 2;
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    recorder.wav = sf_open(recorder.options.wavPath.c_str(), SFM_WRITE, &info);
    if (recorder.wav == nullptr) {
        std::fprintf(stderr, "rig_record: cannot write %s: %s\n", recorder.options.wavPath.c_str(),
                     sf_strerror(nullptr));
        return 1;
    }
    recorder.log = std::fopen(recorder.options.logPath.c_str(), "w");
    if (recorder.log == nullptr) {
        std::fprintf(stderr, "rig_record: cannot write %s: %s\n", recorder.options.logPath.c_str(),
                     std::strerror(errno));
        sf_close(recorder.wav);
        return 1;
    }
    std::fprintf(recorder.log, "# monotonic_ns frames_end latency_ns (rate %u)\n", kRate);

    recorder.loop = pa_mainloop_new();
    pa_mainloop_api* api = pa_mainloop_get_api(recorder.loop);
    pa_signal_init(api);
    pa_signal_new(SIGINT, onSignal, &recorder);
    pa_signal_new(SIGTERM, onSignal, &recorder);
    recorder.context = pa_context_new(api, "vindelor rig recorder");
    pa_context_set_state_callback(recorder.context, onContextState, &recorder);
    if (pa_context_connect(recorder.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::fprintf(stderr, "rig_record: cannot reach the sound server: %s\n",
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
    sf_close(recorder.wav);
    std::fprintf(recorder.log, "# frames %llu, lost to holes %llu, overflows %d\n",
                 static_cast<unsigned long long>(recorder.frames),
                 static_cast<unsigned long long>(recorder.holes), recorder.overflows);
    std::fclose(recorder.log);
    if (recorder.overflows > 0 || recorder.holes > 0) {
        std::fprintf(stderr, "rig_record: %d overflows, %llu frames lost: positions are not true\n",
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
