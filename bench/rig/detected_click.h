#pragma once

#include <cstddef>

namespace vindelor::rig {

// What a click in a recording is taken to be, from its pitch and length.
enum class ClickKind : char {
    normal = 'n',        // about 835 Hz, about 34 ms
    accent = 'A',        // about 902 Hz, about 53 ms
    tripleAccent = 'T',  // about 902 Hz, about 102 ms
    reference = 'R',     // about 1400 Hz, about 20 ms: the rig's own regular track
    referencePart = 'r',  // about 1400 Hz, shorter: a reference click cut as its stream starts
    unknown = '?',       // a fragment, or a sound that is none of the three
};

// One click found in a recording. Positions are in samples of the recording.
struct DetectedClick {
    double onset = 0;     // where the signal first crosses the onset level, to a fraction
    std::size_t end = 0;  // one past the last sample above the silence level
    double pitchHz = 0;   // from the zero crossings over the whole click; 0 if too short
    double lengthMs = 0;  // from the onset to the end
    ClickKind kind = ClickKind::unknown;
};

}  // namespace vindelor::rig
