#include "bench/rig/pattern_summary.h"

#include <cstddef>

namespace vindelor::rig {

namespace {

constexpr std::size_t kLongestBar = 8;
constexpr std::size_t kIrregularShown = 12;

bool repeats(std::string_view kinds, std::size_t period) {
    for (std::size_t i = period; i < kinds.size(); ++i) {
        if (kinds[i] != kinds[i - period]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string summarizePattern(std::string_view kinds) {
    if (kinds.empty()) {
        return "-";
    }
    // A bar counts once it has come round twice.
    for (std::size_t period = 1; period <= kLongestBar && 2 * period <= kinds.size(); ++period) {
        if (!repeats(kinds, period)) {
            continue;
        }
        const std::size_t whole = kinds.size() / period;
        std::string summary = "(";
        summary.append(kinds.substr(0, period)).append(")x").append(std::to_string(whole));
        if (kinds.size() % period != 0) {
            summary.append("+").append(kinds.substr(whole * period));
        }
        return summary;
    }
    if (kinds.size() < 2 * kLongestBar) {
        return std::string(kinds);  // too short to tell
    }
    return std::string(kinds.substr(0, kIrregularShown)).append("... irregular");
}

}  // namespace vindelor::rig
