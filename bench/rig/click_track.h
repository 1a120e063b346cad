#pragma once

#include <string_view>
#include <vector>

namespace vindelor::rig {

// A perfectly regular click track: clicks of the three kinds made here (clipped tone bursts of
// the program's clips' pitches and lengths), each starting on its exact sample. Played through
// the sound server, it shows what the recording chain itself adds to the figures.
struct ClickTrackSettings {
    double sampleRate = 48000;
    int bpm = 120;
    std::string_view pattern = "Annn";  // 'A', 'T', 'n' or 'R' (reference) per beat, repeated
    double seconds = 10;                // of beats; the track ends with the last clip
    double leadInSeconds = 0.2;         // silence before the first click
};

// Beat k starts at lead-in + llround(k * rate * 60 / bpm) samples.
std::vector<float> makeClickTrack(const ClickTrackSettings& settings);

}  // namespace vindelor::rig
