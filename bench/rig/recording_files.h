#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct sf_private_tag;

namespace vindelor::rig {

// What a recorder writes: 32-bit float mono WAV at 48 kHz, and a timing log of anchors, one
// line each, "frame played_ns [more]" (TimeMap reads it). Both stay readable while they grow.
class RecordingFiles {
  public:
    static constexpr int kRate = 48000;

    // `columns` names the log's columns in its header line. Check ok() after.
    RecordingFiles(const std::string& wavPath, const std::string& logPath, const char* columns);
    ~RecordingFiles();
    RecordingFiles(const RecordingFiles&) = delete;
    RecordingFiles& operator=(const RecordingFiles&) = delete;

    bool ok() const { return wav_ != nullptr && log_ != nullptr; }
    // The reason when not ok().
    std::string error() const { return error_; }

    void write(const float* samples, std::uint64_t count);
    // Silence of `count` frames, where the recorder was given nothing: positions stay true.
    void silence(std::uint64_t count);
    // Sample `frames()` (the next to be written) played at `playedNs`; `more` ends the line.
    void anchor(long long frame, long long playedNs, long long more);
    void note(const std::string& line);  // a comment in the log

    std::uint64_t frames() const { return frames_; }

  private:
    sf_private_tag* wav_ = nullptr;  // libsndfile's SNDFILE
    std::FILE* log_ = nullptr;
    std::string error_;
    std::uint64_t frames_ = 0;
    std::vector<float> zeros_;
};

}  // namespace vindelor::rig
