#include "click_sound_bank.h"

#include <string>

namespace vindelor {

MissingClipError::MissingClipError(int resourceId)
    : std::runtime_error("Vindelor cannot start: its click sound " + std::to_string(resourceId) +
                         " (resource type \"VINDELOR\") is missing from the program."),
      resourceId_(resourceId) {}

ClickSoundBank::ClickSoundBank(ClickerWindow& state, ClickOutput& output, const BeatTiming& timing)
    : state_(state), output_(output), timing_(timing) {}

void ClickSoundBank::loadClickSounds(const ResourceLookup& lookup) {
    for (const ClickClip clip : kAllClickClips) {
        const auto bytes = lookup ? lookup(kClipResourceType, resourceIdOf(clip)) : std::nullopt;
        if (!bytes) {
            throw MissingClipError(resourceIdOf(clip));
        }
        state_.buffer(clip).assign(bytes->begin(), bytes->end());
    }
    // Handed over only once all three are there: a missing one stops the program first.
    for (const ClickClip clip : kAllClickClips) {
        output_.prepare(clip, state_.buffer(clip));
    }
}

void ClickSoundBank::playClick(ClickClip clip) {
    output_.play(clip, timing_.dueOfCurrentBeat(), timing_.now(), timing_.currentBeatStartsRun());
}

}  // namespace vindelor
