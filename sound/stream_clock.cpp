#include "stream_clock.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace vindelor {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// How long after a reply from a sink that is settling to ask again.
constexpr std::int64_t kSettleNs = 20'000'000;
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

StreamClock::Frames StreamClock::spread() const {
    if (!quantized_) {
        // Until the server reads the stream, its place comes from the latency alone.
        if (count_ < 2 || steps_ == 0) {
            return framesIn(kSettleNs);
        }
        const Reply& last = reply(0);
        const Reply& before = reply(1);
        const Frames moved = before.readFrame - before.latency +
                             framesIn(last.monotonicNs - before.monotonicNs);
        const Frames gap = last.readFrame - last.latency - moved;
        return gap < 0 ? -gap : gap;
    }
    const Frames quantum = horizon();
    if (steps_ < 2 || quantum_ < kSmallestQuantum) {
        return quantum;
    }
    // At the latest reply: each reply's read index, moved on to then, is a floor of the edge,
    // and the same a quantum on its ceiling.
    const std::int64_t at = reply(0).monotonicNs;
    Frames low = std::numeric_limits<Frames>::min();
    Frames high = std::numeric_limits<Frames>::max();
    for (std::size_t age = 0; age < count_; ++age) {
        const Reply& r = reply(age);
        const Frames moved = r.readFrame - r.latency + framesIn(at - r.monotonicNs);
        low = std::max(low, moved);
        high = std::min(high, moved + quantum);
    }
    return std::max<Frames>(0, high - low);
}

std::optional<std::int64_t> StreamClock::usefulReplyAt(std::int64_t afterNs) const {
    if (!quantized_) {
        return std::max(afterNs, reply(0).monotonicNs + kSettleNs);
    }
    if (steps_ < 2 || quantum_ < kSmallestQuantum) {
        return std::nullopt;
    }
    const Frames quantum = quantum_;
    const Frames middle = playingAt(afterNs) + spread() / 2;
    // The read index steps at frames of one phase: the latest reply's, modulo the quantum.
    const Frames phase = ((reply(0).readFrame % quantum) + quantum) % quantum;
    Frames target = middle - ((middle - phase) % quantum + quantum) % quantum;
    if (target < middle) {
        target += quantum;
    }
    const Frames ahead = target - middle;
    return afterNs + ahead / rate_ * kNsPerSecond + ahead % rate_ * kNsPerSecond / rate_;
}

StreamClock::Frames StreamClock::lastRead() const {
    return count_ > 0 ? reply(0).readFrame : 0;
}

}  // namespace vindelor
