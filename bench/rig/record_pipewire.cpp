// Records what a PipeWire sink plays, through PipeWire's own API, to a 32-bit float mono WAV
// file, and stamps every graph cycle with the driver's time, so that it records at the graph's
// own quantum and never pulls it down.
//
//   rig_record_pipewire --sink rig --wav out.wav --log out.timing [--latency 1920]
//
// The log has one line per cycle, "frame played_ns quantum": the recording's sample `frame`,
// the first of the cycle, played at CLOCK_MONOTONIC `played_ns`, the driver's time of the
// cycle that delivered it (the sink's monitor hands each cycle's mix to its readers in the
// cycle after it was made, as a device plays it). Time the recorder was given no samples for
// (a missed cycle, or a short one while the graph changes its quantum) is filled with
// silence, so that positions stay true to the driver's clock. Its latency, 1920 frames, is
// the one the program asks for while it plays: the graph runs at the program's own quantum.
// Prints "recording" once samples arrive; stops on SIGINT or SIGTERM, completes the file and
// exits 0.

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <memory>

#include "bench/rig/recording_files.h"

namespace vindelor::rig {
namespace {

constexpr std::uint32_t kRate = RecordingFiles::kRate;

struct Options {
    std::string sink;
    std::string wavPath;
    std::string logPath;
    int latency = 1920;  // frames asked of the graph
};

struct Recorder {
    Options options;
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    std::unique_ptr<RecordingFiles> files;
    std::uint64_t filled = 0;  // frames of missed time, written as silence
    std::int64_t nextNs = 0;   // when the next cycle is due if none was missed
    bool started = false;
    std::map<std::uint32_t, std::uint64_t> quanta;  // cycle size -> cycles
};

void onProcess(void* userdata) {
    auto& recorder = *static_cast<Recorder*>(userdata);
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
        ++recorder.quanta[count];
        recorder.nextNs = time.now + static_cast<std::int64_t>(count) * 1'000'000'000 / kRate;
        if (!recorder.started) {
            recorder.started = true;
            std::printf("recording\n");
            std::fflush(stdout);
        }
    }
    pw_stream_queue_buffer(recorder.stream, buffer);
}

const pw_stream_events kEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.process = onProcess;
    return events;
}();

void onSignal(void* userdata, int) {
    pw_main_loop_quit(static_cast<Recorder*>(userdata)->loop);
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--sink") {
            options.sink = value;
        } else if (name == "--wav") {
            options.wavPath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--latency") {
            options.latency = std::atoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.sink.empty() && !options.wavPath.empty() &&
           !options.logPath.empty() && options.latency > 0;
}

int run(int argc, char** argv) {
    Recorder recorder;
    if (!parse(argc, argv, recorder.options)) {
        std::fprintf(stderr,
                     "usage: rig_record_pipewire --sink NODE --wav FILE --log FILE "
                     "[--latency FRAMES]\n");
        return 2;
    }
    recorder.files = std::make_unique<RecordingFiles>(
        recorder.options.wavPath, recorder.options.logPath, "frame played_monotonic_ns quantum");
    if (!recorder.files->ok()) {
        std::fprintf(stderr, "rig_record_pipewire: %s\n", recorder.files->error().c_str());
        return 1;
    }

    pw_init(&argc, &argv);
    recorder.loop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(recorder.loop);
    pw_loop_add_signal(loop, SIGINT, onSignal, &recorder);
    pw_loop_add_signal(loop, SIGTERM, onSignal, &recorder);

    const std::string latency = std::to_string(recorder.options.latency) + "/" + std::to_string(kRate);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
        "Production", PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT,
        recorder.options.sink.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(), PW_KEY_NODE_NAME,
        "vindelor-rig-recorder", nullptr);
    recorder.stream = pw_stream_new_simple(loop, "monitor recording", properties, &kEvents, &recorder);

    std::uint8_t podBuffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof podBuffer);
    spa_audio_info_raw raw{};
    raw.format = SPA_AUDIO_FORMAT_F32;
    raw.rate = kRate;
    raw.channels = 1;
    raw.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                    PW_STREAM_FLAG_MAP_BUFFERS);
    int status = 0;
    if (pw_stream_connect(recorder.stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
        std::fprintf(stderr, "rig_record_pipewire: cannot record %s\n",
                     recorder.options.sink.c_str());
        status = 1;
    } else {
        pw_main_loop_run(recorder.loop);
    }
    pw_stream_destroy(recorder.stream);
    pw_main_loop_destroy(recorder.loop);
    pw_deinit();
    for (const auto& [quantum, cycles] : recorder.quanta) {  // as the timing table shows it
        recorder.files->note("quantum " + std::to_string(quantum) + ": " +
                             std::to_string(cycles) + " cycles");
    }
    recorder.files->note("frames " + std::to_string(recorder.files->frames()) +
                         ", missed time filled with " + std::to_string(recorder.filled) +
                         " frames");
    recorder.files.reset();
    return status;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    return vindelor::rig::run(argc, argv);
}
