#pragma once

#include <string>
#include <vector>

namespace vindelor::rig {

// A sound file read whole, its channels averaged into one.
struct MonoRecording {
    std::vector<float> samples;
    double sampleRate = 0;
};

// Throws std::runtime_error naming the file when it cannot be read.
MonoRecording readMonoRecording(const std::string& path);

// Writes 32-bit float mono WAV. Throws std::runtime_error when it cannot.
void writeMonoWav(const std::string& path, const std::vector<float>& samples, double sampleRate);

}  // namespace vindelor::rig
