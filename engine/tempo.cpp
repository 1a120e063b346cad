#include "tempo.h"

#include <limits>

namespace vindelor {

std::optional<std::int64_t> wholeNumberIn(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto last = text.find_last_not_of(" \t");
    const std::string_view digits = text.substr(first, last - first + 1);

    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
}

std::string tempoText(Tempo tempo) {
    return std::to_string(tempo);
}

}  // namespace vindelor
