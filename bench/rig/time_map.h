#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <vector>

namespace vindelor::rig {

// Ties the samples of a recording to CLOCK_MONOTONIC. The recorders log anchors, each saying
// that sample `frame` played at `playedNs`. PipeWire's recorder stamps every graph cycle with
// the driver's time: exact. PulseAudio's derives its anchors from the server's timing
// replies, which stray by tens of milliseconds either way around a sink's rewinds and latency
// changes, and are exact in between. So a sample's time comes from the median of the anchors
// within ten seconds of it: over that span even a sink clock 100 ppm off the monotonic clock
// moves by a millisecond, and a null sink's does not move at all.
struct Anchor {
    std::int64_t frame = 0;
    std::int64_t playedNs = 0;
};

class TimeMap {
  public:
    TimeMap(std::vector<Anchor> anchors, double sampleRate);

    // Reads a recorder's log: lines "frame played_ns [more]"; lines starting with '#' are
    // comments. Throws std::runtime_error on a malformed line.
    static TimeMap fromLog(std::istream& log, double sampleRate);

    // The monotonic time at which the (fractional) sample position played; none when the log
    // has no anchor within reach of it.
    std::optional<double> monotonicNsAt(double samplePosition) const;

  private:
    std::vector<Anchor> anchors_;
    double rate_;
};

}  // namespace vindelor::rig
