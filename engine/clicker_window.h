#pragma once

#include <cstdint>
#include <vector>

#include "click_clip.h"

namespace vindelor {

// The whole RIFF/WAVE image of one clip, exactly as the program carries it.
using ClipBuffer = std::vector<std::uint8_t>;

// The state record of the main window: the clip bank and the position in the bar.
// Lives as long as the window; only the window's thread touches it.
struct ClickerWindow {
    ClipBuffer NormalClick;
    ClipBuffer AccentClick;
    ClipBuffer TripleAccentClick;
    std::int32_t BeatIndex = 0;   // beat of the bar that the next tick sounds, 0-based
    std::int32_t MeterIndex = 0;  // row of the meter list last selected; -1 for none

    ClipBuffer& buffer(ClickClip clip);
    const ClipBuffer& buffer(ClickClip clip) const;
};

inline ClipBuffer& ClickerWindow::buffer(ClickClip clip) {
    switch (clip) {
        case ClickClip::AccentClick:
            return AccentClick;
        case ClickClip::TripleAccentClick:
            return TripleAccentClick;
        case ClickClip::NormalClick:
            break;
    }
    return NormalClick;
}

inline const ClipBuffer& ClickerWindow::buffer(ClickClip clip) const {
    return const_cast<ClickerWindow*>(this)->buffer(clip);
}

}  // namespace vindelor
