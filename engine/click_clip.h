#pragma once

namespace vindelor {

// The three clicks the program can sound. The values are the clips' resource ids.
enum class ClickClip : int {
    NormalClick = 101,        // the ordinary beat
    AccentClick = 102,        // the first beat of "4 / 4" and "6 / 8"
    TripleAccentClick = 103,  // the first beat of "3 / 4"
};

inline constexpr ClickClip kAllClickClips[] = {ClickClip::NormalClick, ClickClip::AccentClick,
                                               ClickClip::TripleAccentClick};

constexpr int resourceIdOf(ClickClip clip) {
    return static_cast<int>(clip);
}

}  // namespace vindelor
