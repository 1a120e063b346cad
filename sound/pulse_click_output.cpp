#include "pulse_click_output.h"

namespace vindelor {

// Silent until the stream lands.
struct PulseClickOutput::Impl {};

PulseClickOutput::PulseClickOutput() : impl_(std::make_unique<Impl>()) {}
PulseClickOutput::~PulseClickOutput() = default;
void PulseClickOutput::prepare(ClickClip, std::span<const std::uint8_t>) {}
void PulseClickOutput::play(ClickClip, std::chrono::nanoseconds, bool) {}
void PulseClickOutput::stop(std::chrono::nanoseconds) {}
std::optional<std::chrono::nanoseconds> PulseClickOutput::playbackTime() const { return std::nullopt; }
std::chrono::nanoseconds PulseClickOutput::lead() const { return std::chrono::nanoseconds{0}; }

}  // namespace vindelor
