#include "frame_log.h"

#include <cstdio>
#include <cstdlib>

namespace vindelor {

std::unique_ptr<FrameLog> FrameLog::fromEnvironment() {
    const char* path = std::getenv("VINDELOR_FRAME_LOG");
    return path != nullptr && *path != '\0' ? std::make_unique<FrameLog>(path) : nullptr;
}

FrameLog::FrameLog(std::string path) : path_(std::move(path)) {
    entries_.reserve(kCapacity);
}

void FrameLog::note(Kind kind, std::uint32_t stream, Frames frame, BeatTime due,
                    MonotonicTime at) {
    if (entries_.size() < kCapacity) {
        entries_.push_back({kind, stream, frame, due, at});
    }
}

// A log that cannot be written is lost quietly: it is the rig's, and the rig says so.
FrameLog::~FrameLog() {
    std::FILE* file = std::fopen(path_.c_str(), "w");
    if (file == nullptr) {
        return;
    }
    std::fprintf(file, "# kind stream frame due_ns written_monotonic_ns\n");
    for (const Entry& e : entries_) {
        std::fprintf(file, "%c %u %lld %lld %lld\n", static_cast<char>(e.kind), e.stream,
                     static_cast<long long>(e.frame),
                     static_cast<long long>(e.due.time_since_epoch().count()),
                     static_cast<long long>(e.at.time_since_epoch().count()));
    }
    std::fclose(file);
}

}  // namespace vindelor
