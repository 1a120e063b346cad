#include "request_ring.h"

#include <utility>

namespace vindelor {

bool RequestRing::push(const OutputRequest& request) {
    const std::uint64_t in = in_.load(std::memory_order_relaxed);
    if (in - out_.load(std::memory_order_acquire) == kCapacity) {
        return false;
    }
    requests_[in % kCapacity] = request;
    // Sequentially consistent with the look's withdrawal: either the look sees this request,
    // or needsWake sees that the look has been.
    in_.store(in + 1, std::memory_order_seq_cst);
    return true;
}

bool RequestRing::full() const {
    return in_.load(std::memory_order_relaxed) - out_.load(std::memory_order_acquire) == kCapacity;
}

bool RequestRing::needsWake(const OutputRequest& request, MonotonicTime now) const {
    if (request.kind == OutputRequest::Kind::Stop || request.startsRun) {
        return true;
    }
    const std::int64_t look = lookAtNs_.load(std::memory_order_seq_cst);
    return look == kNoLook || look - now.time_since_epoch().count() > kLookWindow.count();
}

std::optional<OutputRequest> RequestRing::pop() {
    const std::uint64_t out = out_.load(std::memory_order_relaxed);
    if (out == in_.load(std::memory_order_seq_cst)) {
        return std::nullopt;
    }
    const OutputRequest request = requests_[out % kCapacity];
    out_.store(out + 1, std::memory_order_release);
    return request;
}

std::optional<MonotonicTime> RequestRing::foreseeNextBeat(BeatTime due, MonotonicTime handed,
                                                          MonotonicTime now) {
    const std::optional<BeatTime> previous = std::exchange(lastDue_, due);
    if (!previous || due <= *previous || due - *previous > kLongestForeseen) {
        return std::nullopt;
    }
    const MonotonicTime look = handed + (due - *previous) + kLookDelay;
    if (look <= now) {
        return std::nullopt;
    }
    // Announced before the timer is set: a look that comes earlier than announced only looks
    // sooner.
    lookAtNs_.store(look.time_since_epoch().count(), std::memory_order_seq_cst);
    return look;
}

bool RequestRing::withdrawLook() {
    return lookAtNs_.exchange(kNoLook, std::memory_order_seq_cst) != kNoLook;
}

}  // namespace vindelor
