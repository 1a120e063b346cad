#pragma once

#include <compare>
#include <cstdint>

namespace vindelor {

// One colour, 8 bits a channel.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    auto operator<=>(const Rgb&) const = default;
};

}  // namespace vindelor
