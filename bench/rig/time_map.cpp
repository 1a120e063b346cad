#include "bench/rig/time_map.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vindelor::rig {

namespace {

// Reads within this distance of a position are trusted to share its clock: over 250 ms even
// a sink clock 100 ppm off moves by 25 µs.
constexpr double kNeighbourhoodS = 0.25;

double quantile(std::vector<std::int64_t> values, double q) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::ranges::nth_element(values, values.begin() + static_cast<std::ptrdiff_t>(at));
    return static_cast<double>(values[at]);
}

}  // namespace

TimeMap::TimeMap(std::vector<TimingRead> reads, double sampleRate)
    : reads_(std::move(reads)), rate_(sampleRate) {
    std::ranges::sort(reads_, {}, &TimingRead::framesEnd);
}

TimeMap TimeMap::fromLog(std::istream& log, double sampleRate) {
    std::vector<TimingRead> reads;
    std::string line;
    int number = 0;
    while (std::getline(log, line)) {
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::istringstream fields(line);
        TimingRead read;
        if (!(fields >> read.monotonicNs >> read.framesEnd >> read.latencyNs)) {
            throw std::runtime_error("timing log line " + std::to_string(number) +
                                     " is not \"monotonic_ns frames_end latency_ns\"");
        }
        reads.push_back(read);
    }
    return TimeMap(std::move(reads), sampleRate);
}

// The monotonic time of sample 0 as this read alone tells it, leaving out the latency.
double TimeMap::readBaseNs(const TimingRead& read) const {
    return static_cast<double>(read.monotonicNs) -
           static_cast<double>(read.framesEnd) * 1e9 / rate_;
}

std::optional<double> TimeMap::monotonicNsAt(double samplePosition) const {
    if (reads_.empty() || samplePosition < 0 ||
        samplePosition > static_cast<double>(reads_.back().framesEnd)) {
        return std::nullopt;
    }
    const double reach = kNeighbourhoodS * rate_;
    const auto from = std::ranges::lower_bound(
        reads_, samplePosition - reach, {},
        [](const TimingRead& r) { return static_cast<double>(r.framesEnd); });
    double base = std::numeric_limits<double>::infinity();
    std::vector<std::int64_t> latencies;
    for (auto it = from;
         it != reads_.end() && static_cast<double>(it->framesEnd) <= samplePosition + reach; ++it) {
        base = std::min(base, readBaseNs(*it));
        latencies.push_back(it->latencyNs);
    }
    return base + samplePosition * 1e9 / rate_ - quantile(std::move(latencies), 0.5);
}

double TimeMap::driftPpm() const {
    if (reads_.empty()) {
        return 0;
    }
    const auto second = static_cast<std::uint64_t>(rate_);
    const std::uint64_t lastFrame = reads_.back().framesEnd;
    if (lastFrame < 3 * second) {
        return 0;
    }
    const TimingRead* first = nullptr;
    const TimingRead* last = nullptr;
    for (const TimingRead& read : reads_) {
        if (read.framesEnd <= second && (!first || readBaseNs(read) < readBaseNs(*first))) {
            first = &read;
        }
        if (read.framesEnd + second >= lastFrame &&
            (!last || readBaseNs(read) < readBaseNs(*last))) {
            last = &read;
        }
    }
    const double frames = static_cast<double>(last->framesEnd - first->framesEnd);
    const double elapsedNs = static_cast<double>(last->monotonicNs - first->monotonicNs);
    return (frames * 1e9 / rate_ / elapsedNs - 1) * 1e6;
}

double TimeMap::medianLatencyNs() const {
    std::vector<std::int64_t> latencies;
    for (const TimingRead& read : reads_) {
        latencies.push_back(read.latencyNs);
    }
    return quantile(std::move(latencies), 0.5);
}

double TimeMap::latencySpreadNs() const {
    std::vector<std::int64_t> latencies;
    for (const TimingRead& read : reads_) {
        latencies.push_back(read.latencyNs);
    }
    return quantile(latencies, 0.95) - quantile(latencies, 0.05);
}

}  // namespace vindelor::rig
