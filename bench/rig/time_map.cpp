#include "bench/rig/time_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vindelor::rig {

namespace {

// Anchors within this distance of a position are taken to share its clock.
constexpr double kReachS = 10;

double quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::ranges::nth_element(values, values.begin() + static_cast<std::ptrdiff_t>(at));
    return values[at];
}

}  // namespace

TimeMap::TimeMap(std::vector<Anchor> anchors, double sampleRate)
    : anchors_(std::move(anchors)), rate_(sampleRate) {
    std::ranges::sort(anchors_, {}, &Anchor::frame);
}

TimeMap TimeMap::fromLog(std::istream& log, double sampleRate) {
    std::vector<Anchor> anchors;
    std::string line;
    int number = 0;
    while (std::getline(log, line)) {
        ++number;
        // A line still being written, read before the recorder has finished it.
        if (line.empty() || line.front() == '#' || log.eof()) {
            continue;
        }
        std::istringstream fields(line);
        Anchor anchor;
        if (!(fields >> anchor.frame >> anchor.playedNs)) {
            throw std::runtime_error("timing log line " + std::to_string(number) +
                                     " is not \"frame played_ns\"");
        }
        anchors.push_back(anchor);
    }
    return TimeMap(std::move(anchors), sampleRate);
}

// When sample 0 played, as this anchor alone tells it.
double TimeMap::baseNs(const Anchor& anchor) const {
    return static_cast<double>(anchor.playedNs) - static_cast<double>(anchor.frame) * 1e9 / rate_;
}

std::optional<double> TimeMap::baseNear(double samplePosition) const {
    const double reach = kReachS * rate_;
    const auto from = std::ranges::lower_bound(anchors_, samplePosition - reach, {}, [](const Anchor& a) {
        return static_cast<double>(a.frame);
    });
    std::vector<double> bases;
    for (auto it = from; it != anchors_.end() && static_cast<double>(it->frame) <= samplePosition + reach;
         ++it) {
        bases.push_back(baseNs(*it));
    }
    if (bases.empty()) {
        return std::nullopt;
    }
    return quantile(std::move(bases), 0.5);
}

std::optional<double> TimeMap::monotonicNsAt(double samplePosition) const {
    const std::optional<double> base = baseNear(samplePosition);
    if (!base) {
        return std::nullopt;
    }
    return *base + samplePosition * 1e9 / rate_;
}

double TimeMap::driftPpm() const {
    if (anchors_.size() < 2) {
        return 0;
    }
    const auto first = static_cast<double>(anchors_.front().frame) + kReachS * rate_;
    const auto last = static_cast<double>(anchors_.back().frame) - kReachS * rate_;
    if (last - first < kReachS * rate_) {
        return 0;
    }
    const std::optional<double> early = baseNear(first);
    const std::optional<double> late = baseNear(last);
    const double elapsedNs = (last - first) * 1e9 / rate_;
    // A sink that runs fast plays its samples early: the base moves back.
    return (*early - *late) / elapsedNs * 1e6;
}

std::vector<double> TimeMap::strays() const {
    std::vector<double> strays;
    for (const Anchor& anchor : anchors_) {
        strays.push_back(std::abs(baseNs(anchor) - *baseNear(static_cast<double>(anchor.frame))));
    }
    return strays;
}

double TimeMap::medianStrayNs() const {
    return quantile(strays(), 0.5);
}

double TimeMap::wideStrayNs() const {
    return quantile(strays(), 0.95);
}

}  // namespace vindelor::rig
