#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>

#include "stream_time.h"

namespace vindelor {

// What the window's thread asks of the sound output: sound a beat, or stop the run.
struct OutputRequest {
    enum class Kind : std::uint8_t { Play, Stop };
    Kind kind = Kind::Play;
    bool startsRun = false;
    std::uint8_t clip = 0;                // the clip's place in the output's bank
    BeatTime due{};                      // the beat's due time, or Stop's moment
    std::chrono::nanoseconds ahead{0};   // how long before `due` it was handed over
    MonotonicTime handed{};              // when it was handed over
};

// The hand-off from the window's thread to the sound thread: a ring that the window's
// thread fills without a lock, and the rule for when a request must wake the sound thread.
//
// A beat need not be written the moment it is handed over: the lead leaves room. So after each
// beat the sound thread announces when it will look at the ring by itself (when the next
// beat should have come, and a little more), and a beat handed over shortly before that look
// is only stored: the window's thread wakes nobody. A run's first beat, Stop, and anything the
// sound thread did not foresee wake it.
class RequestRing {
  public:
    static constexpr std::uint64_t kCapacity = 64;
    // A beat handed over no more than this before an announced look waits for it.
    static constexpr std::chrono::nanoseconds kLookWindow = std::chrono::milliseconds(10);
    // The look comes this long after the next beat should have been handed over.
    static constexpr std::chrono::nanoseconds kLookDelay = std::chrono::milliseconds(4);
    // Beats further apart than this (50 BPM is 1.2 s) are not foreseen.
    static constexpr std::chrono::nanoseconds kLongestForeseen = std::chrono::seconds(2);

    // Window's thread. Stores `request`; false, storing nothing, when the ring is full.
    bool push(const OutputRequest& request);
    // Window's thread, right after push: whether the sound thread must be woken for it.
    bool needsWake(const OutputRequest& request, MonotonicTime now) const;
    bool full() const;

    // Loop lock held: the oldest request, if any.
    std::optional<OutputRequest> pop();

    // Loop lock held: after a beat due at `due` and handed over at `handed`, when to look at
    // the ring for the next one, if the beats so far tell. The look is
    // announced before this returns; the caller arms its timer for it.
    std::optional<MonotonicTime> foreseeNextBeat(BeatTime due, MonotonicTime handed,
                                                 MonotonicTime now);
    // Loop lock held: the announced look has come, or will not. True if one was announced: a
    // request stored in the belief that it would come may be waiting.
    bool withdrawLook();
    // Loop lock held: a new run or Stop; the beats so far foretell nothing.
    void forgetBeats() { lastDue_.reset(); }

  private:
    static constexpr std::int64_t kNoLook = std::numeric_limits<std::int64_t>::min();

    std::array<OutputRequest, kCapacity> requests_{};
    std::atomic<std::uint64_t> in_{0};   // moved on by the window's thread only
    std::atomic<std::uint64_t> out_{0};  // moved on with the loop lock held
    std::atomic<std::int64_t> lookAtNs_{kNoLook};  // monotonic, since the clock's epoch
    std::optional<BeatTime> lastDue_;              // loop lock held
};

}  // namespace vindelor
