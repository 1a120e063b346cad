#pragma once

#include <string>
#include <string_view>

namespace vindelor::rig {

// Shortens a run's string of click kinds for a table: "AnnnAnnnAn" becomes "(Annn)x2+An".
// A long string that repeats no bar of up to 8 beats is cut after 12 kinds and marked
// irregular; one too short to tell is shown whole.
std::string summarizePattern(std::string_view kinds);

}  // namespace vindelor::rig
