#include "beat_engine.h"

#include "meter.h"

namespace vindelor {

BeatEngine::BeatEngine(ClickerWindow& state, ClickPlayer& player, InputPump& input)
    : state_(state), player_(player), input_(input) {}

void BeatEngine::selectMeter(std::int32_t row) {
    state_.MeterIndex = row;
}

void BeatEngine::resetBar() {
    state_.BeatIndex = 0;
}

void BeatEngine::onTick() {
    if (const auto pattern = meterPatternOfRow(state_.MeterIndex)) {
        // A switch to a shorter meter can leave the position past the end of the new bar;
        // such a tick begins a new bar rather than falling silent.
        if (state_.BeatIndex < 0 || state_.BeatIndex >= pattern->barLength) {
            state_.BeatIndex = 0;
        }
        const ClickClip clip = state_.BeatIndex == 0 ? pattern->downbeat : ClickClip::NormalClick;
        player_.playClick(clip);
        state_.BeatIndex += 1;
        if (state_.BeatIndex == pattern->barLength) {
            state_.BeatIndex = 0;
        }
    }
    // All state changes are done: a tick nested in this pass sees a consistent bar position.
    if (input_.isInputWaiting()) {
        input_.processPendingEvents();
    }
}

}  // namespace vindelor
