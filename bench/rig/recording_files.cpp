#include "bench/rig/recording_files.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

namespace vindelor::rig {

RecordingFiles::RecordingFiles(const std::string& wavPath, const std::string& logPath,
                               const char* columns) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    wav_ = sf_open(wavPath.c_str(), SFM_WRITE, &info);
    if (wav_ == nullptr) {
        error_ = "cannot write " + wavPath + ": " + sf_strerror(nullptr);
        return;
    }
    // The file stays readable while it grows, for a look before the recording ends.
    sf_command(wav_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    log_ = std::fopen(logPath.c_str(), "w");
    if (log_ == nullptr) {
        error_ = "cannot write " + logPath + ": " + std::strerror(errno);
        return;
    }
    setvbuf(log_, nullptr, _IOLBF, 0);  // whole lines, for a look while it grows
    std::fprintf(log_, "# %s (rate %d)\n", columns, kRate);
}

RecordingFiles::~RecordingFiles() {
    if (wav_ != nullptr) {
        sf_close(wav_);
    }
    if (log_ != nullptr) {
        std::fclose(log_);
    }
}

void RecordingFiles::write(const float* samples, std::uint64_t count) {
    sf_writef_float(wav_, samples, static_cast<sf_count_t>(count));
    frames_ += count;
}

void RecordingFiles::silence(std::uint64_t count) {
    zeros_.assign(count, 0.0f);
    write(zeros_.data(), count);
}

void RecordingFiles::anchor(long long frame, long long playedNs, long long more) {
    std::fprintf(log_, "%lld %lld %lld\n", frame, playedNs, more);
}

void RecordingFiles::note(const std::string& line) {
    std::fprintf(log_, "# %s\n", line.c_str());
}

}  // namespace vindelor::rig
