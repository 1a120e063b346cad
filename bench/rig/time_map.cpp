#include "bench/rig/time_map.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vindelor::rig {

TimeMap::TimeMap(std::vector<Anchor> anchors, double sampleRate)
    : anchors_(std::move(anchors)), rate_(sampleRate) {
    std::ranges::sort(anchors_, {}, &Anchor::frame);
}

TimeMap TimeMap::fromLog(std::istream& log, double sampleRate) {
    std::vector<Anchor> anchors;
    std::string line;
    for (int number = 1; std::getline(log, line); ++number) {
        // A line still being written, read before the recorder has finished it, is left out.
        if (line.empty() || line.front() == '#' || log.eof()) {
            continue;
        }
        std::istringstream fields(line);
        Anchor& anchor = anchors.emplace_back();
        if (!(fields >> anchor.frame >> anchor.playedNs)) {
            throw std::runtime_error("timing log line " + std::to_string(number) +
                                     " is not \"frame played_ns\"");
        }
    }
    return TimeMap(std::move(anchors), sampleRate);
}

std::optional<double> TimeMap::monotonicNsAt(double samplePosition) const {
    // Anchors within ten seconds share the position's clock: each tells when sample 0 played.
    const double reach = 10 * rate_;
    std::vector<double> bases;
    for (auto it = std::ranges::lower_bound(anchors_, samplePosition - reach, {},
                                            [](const Anchor& a) { return static_cast<double>(a.frame); });
         it != anchors_.end() && static_cast<double>(it->frame) <= samplePosition + reach; ++it) {
        bases.push_back(static_cast<double>(it->playedNs) -
                        static_cast<double>(it->frame) * 1e9 / rate_);
    }
    if (bases.empty()) {
        return std::nullopt;
    }
    const auto middle = bases.begin() + static_cast<std::ptrdiff_t>(bases.size() / 2);
    std::ranges::nth_element(bases, middle);
    return *middle + samplePosition * 1e9 / rate_;
}

}  // namespace vindelor::rig
