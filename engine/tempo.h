#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vindelor {

// Beats per minute; the slider's position is the only store of it.
using Tempo = std::int32_t;

inline constexpr Tempo kMinTempo = 50;
inline constexpr Tempo kMaxTempo = 200;
inline constexpr Tempo kSpinStep = 5;
inline constexpr Tempo kUpDownStep = 1;
inline constexpr int kTempoEntryLength = 3;  // characters the tempo box takes
inline constexpr std::string_view kStartTempoText = "120";

// Milliseconds between beats: 60000 / tempo in double precision, never rounded.
// 120 gives 500, 70 gives 857.142857...
constexpr double beatInterval(Tempo tempo) {
    return 60000.0 / static_cast<double>(tempo);
}

// The nearer end of 50..200 for a tempo outside it.
constexpr Tempo clampTempo(std::int64_t tempo) {
    return static_cast<Tempo>(tempo < kMinTempo   ? kMinTempo
                              : tempo > kMaxTempo ? kMaxTempo
                                                  : tempo);
}

// The key filter of the tempo box: Backspace (8), Enter (13) and the digits pass unchanged,
// every other key becomes 0 and has no effect.
constexpr char16_t filterTempoKey(char16_t key) {
    const bool passes = key == 8 || key == 13 || (key >= u'0' && key <= u'9');
    return passes ? key : char16_t{0};
}

// The whole number that `text` holds: decimal digits only, surrounding blanks allowed, leading
// zeros read as usual ("050" is 50). Saturates at INT64_MAX. None for empty text or anything
// else (a sign, a decimal point, a letter), so that pasted junk can be told apart.
std::optional<std::int64_t> wholeNumberIn(std::string_view text);

// The tempo as the box shows it: plain decimal, no sign, no blank, no leading zero.
std::string tempoText(Tempo tempo);

}  // namespace vindelor
