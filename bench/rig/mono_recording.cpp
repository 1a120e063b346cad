#include "bench/rig/mono_recording.h"

#include <sndfile.h>

#include <cstddef>
#include <stdexcept>

namespace vindelor::rig {

MonoRecording readMonoRecording(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    MonoRecording recording;
    recording.sampleRate = info.samplerate;
    recording.samples.resize(static_cast<std::size_t>(got));
    for (std::size_t frame = 0; frame < recording.samples.size(); ++frame) {
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += interleaved[frame * channels + c];
        }
        recording.samples[frame] = sum / static_cast<float>(channels);
    }
    return recording;
}

void writeMonoWav(const std::string& path, const std::vector<float>& samples, double sampleRate) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    const auto frames = static_cast<sf_count_t>(samples.size());
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("cannot write all of " + path);
    }
}

}  // namespace vindelor::rig
