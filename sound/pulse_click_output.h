#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "click_output.h"

namespace vindelor {

// The clicks' way to the desktop's sound server (PulseAudio, or PipeWire's pulse server):
// one playback stream, written ahead, each click placed at the exact frame of its beat.
// Connects in the background; until a server answers, and whenever it is lost, the output is
// silent and the program runs on. Window's thread only, except where noted.
class PulseClickOutput final : public ClickOutput {
  public:
    PulseClickOutput();
    ~PulseClickOutput() override;
    PulseClickOutput(const PulseClickOutput&) = delete;
    PulseClickOutput& operator=(const PulseClickOutput&) = delete;

    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override;
    void play(ClickClip clip, std::chrono::nanoseconds due, std::chrono::nanoseconds now,
              bool startsRun) override;
    void stop(std::chrono::nanoseconds now) override;

    // The stream's own clock while it plays, none otherwise: the time base the tick timer
    // follows, so that beats are scheduled on the frames they are written into. Any thread.
    std::optional<std::chrono::nanoseconds> playbackTime() const;

    // How long before its due time a beat must be handed over to be placed exactly: how far
    // ahead of what plays the server takes data, how far the run's grid lies behind what
    // played when it began, and a margin. Any thread.
    std::chrono::nanoseconds lead() const;

    // Whether a stream to a sound server is open, so that clicks can sound.
    bool connected() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vindelor
