#include "meter.h"

namespace vindelor {

std::optional<MeterPattern> meterPatternOfRow(std::int32_t row) {
    switch (row) {
        case 1:
            return MeterPattern{4, ClickClip::AccentClick};
        case 3:
            return MeterPattern{3, ClickClip::TripleAccentClick};
        case 5:
            return MeterPattern{6, ClickClip::AccentClick};
        default:
            return std::nullopt;
    }
}

}  // namespace vindelor
