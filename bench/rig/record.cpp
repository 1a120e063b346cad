// Records what a sink plays to a 32-bit float mono WAV file at 48 kHz, and ties its samples to
// CLOCK_MONOTONIC in a timing log, so that it needs no small blocks and never drags the sink
// or the graph down.
//
//   rig record --server pulseaudio|pipewire --sink NAME --wav FILE --log FILE [--latency FRAMES]
//
// The log has a line per anchor, "frame played_ns more": the recording's sample `frame` played
// at CLOCK_MONOTONIC `played_ns` (TimeMap reads it); and "# missed frame count" where it wrote
// silence for time it was given nothing.
//  - PulseAudio: the sink's monitor, one anchor per timing reply (ten a second), `more` the
//    sink's latency. For a monitor, the server's write index plus what is on its way is the
//    last sample the sink has mixed, and that sample plays the sink's latency later. Asking
//    for 40 ms (1920 frames, the default) keeps within a desktop's usual 20 to 50.
//  - PipeWire: its own API, every graph cycle stamped with the driver's time, `more` the
//    cycle's quantum (the sink's monitor hands each cycle's mix to its readers in the cycle
//    after it was made, as a device plays it). Time it was given no samples for (a missed
//    cycle, or a short one while the graph changes its quantum) is filled with silence, so
//    that positions stay true to the driver's clock. FRAMES is the latency it asks of the
//    graph: 1920, the program's own, or 4096 to hold the graph at its largest quantum as a
//    music player does.
// Prints "recording" once samples arrive; stops on SIGINT or SIGTERM, completes the files and
// exits 0, or 1 if samples were lost. Talks to the server PULSE_SERVER (or PipeWire's socket)
// names.

#include <pipewire/pipewire.h>
#include <pulse/pulseaudio.h>
#include <sndfile.h>
#include <spa/param/audio/format-utils.h>
#include <time.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/rig/rig.h"

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = 48000;

// The WAV file and the timing log. Both stay readable while they grow.
class RecordingFiles {
  public:
    RecordingFiles(const std::string& wavPath, const std::string& logPath, const char* columns) {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        wav_ = sf_open(wavPath.c_str(), SFM_WRITE, &info);
        if (wav_ == nullptr) {
            throw std::runtime_error("cannot write " + wavPath + ": " + sf_strerror(nullptr));
        }
        sf_command(wav_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
        log_ = std::fopen(logPath.c_str(), "w");
        if (log_ == nullptr) {
            sf_close(wav_);
            throw std::runtime_error("cannot write " + logPath + ": " + std::strerror(errno));
        }
        setvbuf(log_, nullptr, _IOLBF, 0);  // whole lines
        std::fprintf(log_, "# %s (rate %u)\n", columns, kRate);
    }
    ~RecordingFiles() {
        sf_close(wav_);
        std::fclose(log_);
    }
    RecordingFiles(const RecordingFiles&) = delete;
    RecordingFiles& operator=(const RecordingFiles&) = delete;

    void write(const float* samples, std::uint64_t count) {
        sf_writef_float(wav_, samples, static_cast<sf_count_t>(count));
        frames_ += count;
    }
    // Where the recorder was given nothing: positions stay true.
    void silence(std::uint64_t count) {
        std::fprintf(log_, "# missed %llu %llu\n", static_cast<unsigned long long>(frames_),
                     static_cast<unsigned long long>(count));
        zeros_.assign(count, 0.0f);
        write(zeros_.data(), count);
    }
    void anchor(long long frame, long long playedNs, long long more) {
        std::fprintf(log_, "%lld %lld %lld\n", frame, playedNs, more);
    }
    void note(const std::string& line) { std::fprintf(log_, "# %s\n", line.c_str()); }
    std::uint64_t frames() const { return frames_; }

  private:
    SNDFILE* wav_ = nullptr;
    std::FILE* log_ = nullptr;
    std::uint64_t frames_ = 0;
    std::vector<float> zeros_;
};

void announce(bool& announced) {
    if (!announced) {
        announced = true;
        std::printf("recording\n");
        std::fflush(stdout);
    }
}

// --- PulseAudio: the sink's monitor ---

constexpr pa_usec_t kTimingEveryUsec = 100'000;

struct PulseRecorder {
    std::string device;
    std::uint32_t latency = 1920;
    pa_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    RecordingFiles* files = nullptr;
    std::uint64_t holes = 0;
    int overflows = 0;
    bool announced = false;
    int exitCode = 0;
};

void fail(PulseRecorder& recorder, const std::string& what) {
    std::fprintf(stderr, "rig record: %s\n", what.c_str());
    recorder.exitCode = 1;
    pa_mainloop_quit(recorder.loop, 1);
}

std::string contextError(const PulseRecorder& recorder) {
    return pa_strerror(pa_context_errno(recorder.context));
}

// A hole (data the server lost) is written as silence of its length, so that sample positions
// stay true.
void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& recorder = *static_cast<PulseRecorder*>(userdata);
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
    if (recorder.files->frames() > 0) {
        announce(recorder.announced);
    }
}

void onTiming(pa_stream* stream, int success, void* userdata) {
    auto& recorder = *static_cast<PulseRecorder*>(userdata);
    const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
    if (timing == nullptr || timing->write_index_corrupt != 0 || timing->write_index < 0) {
        return;
    }
    // The reply's time stamp is the server's wall clock; both clocks are read here together.
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const std::int64_t wallToMonotonic = monotonicNs() - wall.tv_sec * 1'000'000'000LL - wall.tv_nsec;
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
    auto& recorder = *static_cast<PulseRecorder*>(userdata);
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
    ++static_cast<PulseRecorder*>(userdata)->overflows;
}

void onStreamState(pa_stream* stream, void* userdata) {
    auto& recorder = *static_cast<PulseRecorder*>(userdata);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) {
        fail(recorder, "cannot record " + recorder.device + ": " + contextError(recorder));
    }
}

void startStream(PulseRecorder& recorder) {
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
    attr.fragsize = recorder.latency * static_cast<std::uint32_t>(sizeof(float));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(recorder.stream, recorder.device.c_str(), &attr, flags) <
        0) {
        fail(recorder, "cannot record " + recorder.device + ": " + contextError(recorder));
        return;
    }
    timeval now{};
    recorder.api->time_new(recorder.api, pa_gettimeofday(&now), onTimer, &recorder);
}

void onContextState(pa_context* context, void* userdata) {
    auto& recorder = *static_cast<PulseRecorder*>(userdata);
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
    pa_mainloop_quit(static_cast<PulseRecorder*>(userdata)->loop, 0);
}

int recordPulse(const std::string& sink, std::uint32_t latency, RecordingFiles& files) {
    PulseRecorder recorder;
    recorder.device = sink + ".monitor";
    recorder.latency = latency;
    recorder.files = &files;
    recorder.loop = pa_mainloop_new();
    recorder.api = pa_mainloop_get_api(recorder.loop);
    pa_signal_init(recorder.api);
    pa_signal_new(SIGINT, onSignal, &recorder);
    pa_signal_new(SIGTERM, onSignal, &recorder);
    recorder.context = pa_context_new(recorder.api, "vindelor rig recorder");
    pa_context_set_state_callback(recorder.context, onContextState, &recorder);
    if (pa_context_connect(recorder.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        fail(recorder, "cannot reach the sound server: " + contextError(recorder));
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
    files.note("frames " + std::to_string(files.frames()) + ", lost to holes " +
               std::to_string(recorder.holes) + ", overflows " +
               std::to_string(recorder.overflows));
    if (recorder.overflows > 0 || recorder.holes > 0) {
        std::fprintf(stderr, "rig record: %d overflows, %llu frames lost: positions are not true\n",
                     recorder.overflows, static_cast<unsigned long long>(recorder.holes));
        return 1;
    }
    return recorder.exitCode;
}

// --- PipeWire: its own API ---

struct PipeWireRecorder {
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    RecordingFiles* files = nullptr;
    std::uint64_t filled = 0;  // frames of missed time, written as silence
    std::int64_t nextNs = 0;   // when the next cycle is due if none was missed
    bool started = false;
};

void onProcess(void* userdata) {
    auto& recorder = *static_cast<PipeWireRecorder*>(userdata);
    pw_buffer* buffer = pw_stream_dequeue_buffer(recorder.stream);
    if (buffer == nullptr) {
        return;
    }
    pw_time time{};
    pw_stream_get_time_n(recorder.stream, &time, sizeof time);
    spa_data& data = buffer->buffer->datas[0];
    const std::uint32_t count =
        data.data != nullptr && data.chunk != nullptr ? data.chunk->size / sizeof(float) : 0;
    const std::int64_t lateNs = time.now - recorder.nextNs;
    if (recorder.started && lateNs > 1'000'000) {
        const auto missed = static_cast<std::uint64_t>((lateNs * kRate + 500'000'000) / 1'000'000'000);
        recorder.files->silence(missed);
        recorder.filled += missed;
    }
    if (count > 0) {
        recorder.files->anchor(static_cast<long long>(recorder.files->frames()), time.now, count);
        recorder.files->write(
            static_cast<const float*>(data.data) + data.chunk->offset / sizeof(float), count);
        recorder.nextNs = time.now + static_cast<std::int64_t>(count) * 1'000'000'000 / kRate;
        announce(recorder.started);
    }
    pw_stream_queue_buffer(recorder.stream, buffer);
}

const pw_stream_events kPipeWireEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.process = onProcess;
    return events;
}();

void onPipeWireSignal(void* userdata, int) {
    pw_main_loop_quit(static_cast<PipeWireRecorder*>(userdata)->loop);
}

int recordPipeWire(const std::string& sink, std::uint32_t latency, RecordingFiles& files) {
    PipeWireRecorder recorder;
    recorder.files = &files;
    pw_init(nullptr, nullptr);
    recorder.loop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(recorder.loop);
    pw_loop_add_signal(loop, SIGINT, onPipeWireSignal, &recorder);
    pw_loop_add_signal(loop, SIGTERM, onPipeWireSignal, &recorder);
    const std::string nodeLatency = std::to_string(latency) + "/" + std::to_string(kRate);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
        "Production", PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, sink.c_str(),
        PW_KEY_NODE_LATENCY, nodeLatency.c_str(), PW_KEY_NODE_NAME, "vindelor-rig-recorder",
        nullptr);
    recorder.stream =
        pw_stream_new_simple(loop, "monitor recording", properties, &kPipeWireEvents, &recorder);
    std::uint8_t podBuffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof podBuffer);
    spa_audio_info_raw raw{};
    raw.format = SPA_AUDIO_FORMAT_F32;
    raw.rate = kRate;
    raw.channels = 1;
    raw.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw)};
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    int status = 0;
    if (pw_stream_connect(recorder.stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
        std::fprintf(stderr, "rig record: cannot record %s\n", sink.c_str());
        status = 1;
    } else {
        pw_main_loop_run(recorder.loop);
    }
    pw_stream_destroy(recorder.stream);
    pw_main_loop_destroy(recorder.loop);
    pw_deinit();
    files.note("frames " + std::to_string(files.frames()) + ", missed time filled with " +
               std::to_string(recorder.filled) + " frames");
    return status;
}

}  // namespace

int record(Args& args) {
    const std::string server = args.required("--server");
    const std::string sink = args.required("--sink");
    const std::string wav = args.required("--wav");
    const std::string log = args.required("--log");
    const double latency = args.number("--latency", 1920);
    args.finish();
    if (latency < 1 || latency > kRate) {
        throw UsageError("--latency wants frames, 1 to 48000");
    }
    const auto frames = static_cast<std::uint32_t>(latency);
    if (server == "pulseaudio") {
        RecordingFiles files(wav, log, "frame played_monotonic_ns sink_latency_ns");
        return recordPulse(sink, frames, files);
    }
    if (server == "pipewire") {
        RecordingFiles files(wav, log, "frame played_monotonic_ns quantum");
        return recordPipeWire(sink, frames, files);
    }
    throw UsageError("no such server: " + server);
}

}  // namespace vindelor::rig
