#include "stream_clock.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace vindelor {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
}  // namespace

void StreamClock::addReply(std::int64_t monotonicNs, Frames readFrame, std::int64_t sinkLatencyNs,
                           std::int64_t configuredLatencyNs) {
    if (count_ > 0 && readFrame != reply(0).readFrame) {
        const Frames moved = readFrame - reply(0).readFrame;
        quantum_ = std::gcd(quantum_, moved < 0 ? -moved : moved);
        ++steps_;
    }
    replies_[next_] = Reply{monotonicNs, readFrame, framesIn(std::max<std::int64_t>(0, sinkLatencyNs)),
                            framesIn(std::max<std::int64_t>(0, configuredLatencyNs))};
    next_ = (next_ + 1) % kReplies;
    count_ = std::min(count_ + 1, kReplies);
}

const StreamClock::Reply& StreamClock::reply(std::size_t age) const {
    return replies_[(next_ + kReplies - 1 - age) % kReplies];
}

StreamClock::Frames StreamClock::framesIn(std::int64_t ns) const {
    // Whole seconds and the rest apart, so that no product overflows.
    const std::int64_t whole = ns / kNsPerSecond;
    const std::int64_t rest = ns % kNsPerSecond;
    const std::int64_t half = rest >= 0 ? kNsPerSecond / 2 : -kNsPerSecond / 2;
    return whole * rate_ + (rest * rate_ + half) / kNsPerSecond;
}

StreamClock::Frames StreamClock::playingAt(std::int64_t monotonicNs) const {
    Frames edge = std::numeric_limits<Frames>::min();
    for (std::size_t age = 0; age < count_; ++age) {
        const Reply& r = reply(age);
        edge = std::max(edge, r.readFrame - r.latency + framesIn(monotonicNs - r.monotonicNs));
    }
    return edge;
}

StreamClock::Frames StreamClock::horizon() const {
    if (quantized_) {
        // One step may span several quanta; the common divisor of two or more is the quantum.
        return steps_ >= 2 && quantum_ >= kSmallestQuantum ? quantum_ : unknownQuantum_;
    }
    Frames latency = 0;
    for (std::size_t age = 0; age < count_; ++age) {
        latency = std::max({latency, reply(age).latency, reply(age).configuredLatency});
    }
    return latency;
}

StreamClock::Frames StreamClock::lastRead() const {
    return count_ > 0 ? reply(0).readFrame : 0;
}

}  // namespace vindelor
