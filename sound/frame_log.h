#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream_time.h"

namespace vindelor {

// Where the output wrote each click, for the timing rig to set beside what the sink played:
// a fault of ours shows in the log, one of the server's only in the recording. Off unless
// VINDELOR_FRAME_LOG names a file. Room for its entries is taken when it is made, so that
// noting one on the sound thread neither allocates nor writes; the file is written when the
// log goes, with the output, on the window's thread. Loop lock held for note().
class FrameLog {
  public:
    enum class Kind : char {
        Anchor = 'a',    // a run's click that the grid hangs from
        Click = 'c',     // a later click of the run
        Withdrawn = 'w', // zeros over what was written from `frame` on (Stop)
    };

    // None unless the environment asks for one.
    static std::unique_ptr<FrameLog> fromEnvironment();
    explicit FrameLog(std::string path);
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    // `stream` counts the streams the output made; `due` is the beat's due time.
    void note(Kind kind, std::uint32_t stream, Frames frame, BeatTime due, MonotonicTime at);

    static constexpr std::size_t kCapacity = 1 << 16;  // a day at 50 BPM is less

  private:
    struct Entry {
        Kind kind;
        std::uint32_t stream;
        Frames frame;
        BeatTime due;
        MonotonicTime at;
    };
    std::string path_;
    std::vector<Entry> entries_;
};

}  // namespace vindelor
