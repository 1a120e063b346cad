#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "click_clip.h"

namespace vindelor {

// What one meter sounds: a bar of `barLength` beats, `downbeat` on beat 0, NormalClick after.
struct MeterPattern {
    std::int32_t barLength;
    ClickClip downbeat;
};

// The rows of the meter list, in order; rows without a meter are blank spacer lines.
inline constexpr std::string_view kMeterRows[] = {"", "4 / 4", "", "3 / 4", "", "6 / 8"};
inline constexpr std::int32_t kMeterRowCount = 6;

// The pattern of meter-list row `row`, or none for a blank row or any index outside the list
// (-1 stands for "no selection").
std::optional<MeterPattern> meterPatternOfRow(std::int32_t row);

}  // namespace vindelor
