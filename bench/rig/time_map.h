#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <vector>

namespace vindelor::rig {

// Ties the samples of a recording to CLOCK_MONOTONIC. The recorder notes, at every read, the
// monotonic time, how many frames it holds so far and the stream's latency then: the last
// frame read played on the sink at (time - latency).
//
// The two parts are treated apart. A read is only ever late, by the time the recorder took
// to wake, so among nearby reads the earliest (time - frames / rate) is the truest. The
// latency the library reports is interpolated between the server's timing updates and drifts
// for a while after the sink changes its latency (as it does when the recorder connects), so
// the median of nearby reads stands for it.
struct TimingRead {
    std::int64_t monotonicNs = 0;
    std::uint64_t framesEnd = 0;
    std::int64_t latencyNs = 0;  // negative when the monitor hands out samples before they play
};

class TimeMap {
  public:
    TimeMap(std::vector<TimingRead> reads, double sampleRate);

    // Reads the recorder's log: lines of "monotonic_ns frames_end latency_ns"; lines starting
    // with '#' are comments. Throws std::runtime_error on a malformed line.
    static TimeMap fromLog(std::istream& log, double sampleRate);

    // The monotonic time at which the (fractional) sample position played; none when the
    // position lies outside what the log covers.
    std::optional<double> monotonicNsAt(double samplePosition) const;

    // How much faster the sink's sample clock ran than the monotonic clock, in parts per
    // million, from the earliest reads of the first and the last second.
    double driftPpm() const;

    // The median latency over the whole log, and how far the middle 90 % of reports spread.
    double medianLatencyNs() const;
    double latencySpreadNs() const;

    bool empty() const { return reads_.empty(); }

  private:
    double readBaseNs(const TimingRead& read) const;

    std::vector<TimingRead> reads_;
    double rate_;
};

}  // namespace vindelor::rig
