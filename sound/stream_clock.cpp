#include "stream_clock.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace vindelor {

namespace {
// How long after a reply from a sink that is settling to ask again.
constexpr std::chrono::nanoseconds kSettle = std::chrono::milliseconds(20);
}  // namespace

void StreamClock::addReply(MonotonicTime at, Frames readFrame,
                           std::chrono::nanoseconds sinkLatency,
                           std::chrono::nanoseconds configuredLatency) {
    if (count_ > 0 && readFrame != reply(0).readFrame) {
        const Frames moved = readFrame - reply(0).readFrame;
        quantum_ = std::gcd(quantum_, moved < 0 ? -moved : moved);
        ++steps_;
    }
    const std::chrono::nanoseconds none{0};
    replies_[next_] = Reply{at, readFrame, rate_.framesIn(std::max(none, sinkLatency)),
                            rate_.framesIn(std::max(none, configuredLatency))};
    next_ = (next_ + 1) % kReplies;
    count_ = std::min(count_ + 1, kReplies);
}

const StreamClock::Reply& StreamClock::reply(std::size_t age) const {
    return replies_[(next_ + kReplies - 1 - age) % kReplies];
}

Frames StreamClock::playingAt(MonotonicTime at) const {
    Frames edge = std::numeric_limits<Frames>::min();
    for (std::size_t age = 0; age < count_; ++age) {
        const Reply& r = reply(age);
        edge = std::max(edge, r.readFrame - r.latency + rate_.framesIn(at - r.at));
    }
    return edge;
}

Frames StreamClock::horizon() const {
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

Frames StreamClock::spread() const {
    if (!quantized_) {
        // Until the server reads the stream, its place comes from the latency alone.
        if (count_ < 2 || steps_ == 0) {
            return rate_.framesIn(kSettle);
        }
        const Reply& last = reply(0);
        const Reply& before = reply(1);
        const Frames moved = before.readFrame - before.latency +
                             rate_.framesIn(last.at - before.at);
        const Frames gap = last.readFrame - last.latency - moved;
        return gap < 0 ? -gap : gap;
    }
    const Frames quantum = horizon();
    if (steps_ < 2 || quantum_ < kSmallestQuantum) {
        return quantum;
    }
    // At the latest reply: each reply's read index, moved on to then, is a floor of the edge,
    // and the same a quantum on its ceiling.
    const MonotonicTime at = reply(0).at;
    Frames low = std::numeric_limits<Frames>::min();
    Frames high = std::numeric_limits<Frames>::max();
    for (std::size_t age = 0; age < count_; ++age) {
        const Reply& r = reply(age);
        const Frames moved = r.readFrame - r.latency + rate_.framesIn(at - r.at);
        low = std::max(low, moved);
        high = std::min(high, moved + quantum);
    }
    return std::max<Frames>(0, high - low);
}

std::optional<MonotonicTime> StreamClock::usefulReplyAt(MonotonicTime after) const {
    if (!quantized_) {
        return std::max(after, reply(0).at + kSettle);
    }
    if (steps_ < 2 || quantum_ < kSmallestQuantum) {
        return std::nullopt;
    }
    const Frames quantum = quantum_;
    const Frames middle = playingAt(after) + spread() / 2;
    // The read index steps at frames of one phase: the latest reply's, modulo the quantum.
    const Frames phase = ((reply(0).readFrame % quantum) + quantum) % quantum;
    Frames target = middle - ((middle - phase) % quantum + quantum) % quantum;
    if (target < middle) {
        target += quantum;
    }
    return after + rate_.durationOf(target - middle);
}

Frames StreamClock::lastRead() const {
    return count_ > 0 ? reply(0).readFrame : 0;
}

}  // namespace vindelor
