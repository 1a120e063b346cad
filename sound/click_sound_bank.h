#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>

#include "click_output.h"
#include "engine/clicker_window.h"
#include "engine/platform.h"

namespace vindelor {

// Finds a resource the program carries by its type name and id.
using ResourceLookup =
    std::function<std::optional<std::span<const std::uint8_t>>(std::string_view type, int id)>;

inline constexpr std::string_view kClipResourceType = "VINDELOR";

// A clip the program needs is not among its resources.
class MissingClipError : public std::runtime_error {
  public:
    explicit MissingClipError(int resourceId);
    int resourceId() const { return resourceId_; }

  private:
    int resourceId_;
};

// The three clips, loaded once into the window's state, and the one way to sound them.
class ClickSoundBank final : public ClickPlayer {
  public:
    ClickSoundBank(ClickerWindow& state, ClickOutput& output, const BeatTiming& timing);

    // Copies the clips 101, 102 and 103, in that order, unchanged into the window's buffers
    // and hands them to the output. Throws MissingClipError for a clip that is not there.
    void loadClickSounds(const ResourceLookup& lookup);

    // Hands the clip to the output for the current beat; returns at once.
    void playClick(ClickClip clip) override;

  private:
    ClickerWindow& state_;
    ClickOutput& output_;
    const BeatTiming& timing_;
};

}  // namespace vindelor
