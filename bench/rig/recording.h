#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vindelor::rig {

// What a recording of the sink holds: its samples, the clicks found in them and what each
// click is taken to be; and the regular click tracks the rig plays itself.

// A click's kind, from its pitch and length.
enum class ClickKind : char {
    normal = 'n',         // about 835 Hz, about 34 ms
    accent = 'A',         // about 902 Hz, about 53 ms
    tripleAccent = 'T',   // about 902 Hz, about 102 ms
    reference = 'R',      // about 1400 Hz, about 20 ms: the rig's own regular track
    referencePart = 'r',  // about 1400 Hz, shorter: a reference click cut short
    unknown = '?',        // a fragment, or a sound that is none of these
};

// One click found in a recording. Positions are in samples of the recording.
struct DetectedClick {
    double onset = 0;     // where the signal first crosses the onset level, to a fraction
    std::size_t end = 0;  // one past the last sample above the silence level
    double pitchHz = 0;   // from the rising crossings over the whole click; 0 if too short
    double lengthMs = 0;  // from the onset to the end
    ClickKind kind = ClickKind::unknown;
};

// The clips start at full scale out of silence, so the first crossing of a high level marks
// each one at the same place within its clip; interpolating between the two samples around
// the crossing gives it to a fraction of a sample. A click ends where the signal has stayed
// below the silence level for longer than any half-period of the tones.
struct ClickDetectorSettings {
    double sampleRate = 48000;
    float onsetLevel = 0.5f;     // of full scale
    float silenceLevel = 0.02f;  // of full scale
    double gapMs = 4;            // silence that ends a click
};
std::vector<DetectedClick> detectClicks(std::span<const float> samples,
                                        const ClickDetectorSettings& settings = {});

// How long a whole clip of `kind` is; 0 for the unknown.
double clipLengthMs(ClickKind kind);

// The accents are pitched about 8 % above the normal click and differ from each other in
// length only. A click cut short (as at Stop) comes out unknown; a reference click cut short,
// as a part of one.
ClickKind classifyClick(double pitchHz, double lengthMs);

// Time a recorder was given no samples for and wrote as silence, so that positions stay
// true: samples [from, to) of the recording.
struct MissedSpan {
    double from = 0;
    double to = 0;
};
// A click that missed time cut short is not the sound's fault: it is known by its pitch alone,
// and one that lost its start is dated by its end, which lies the same distance after the
// start in every whole click of its kind (the same samples, written at whole frames). Returns
// how many clicks it mended; clicks no missed time touched are left as they are.
int mendCutClicks(std::vector<DetectedClick>& clicks, std::span<const MissedSpan> missed,
                  const ClickDetectorSettings& settings = {});

// A perfectly regular click track: tone bursts of the program's clips' pitches and lengths
// (and the reference's), each starting on its exact sample: beat k at lead-in +
// llround(k * rate * 60 / bpm).
struct ClickTrackSettings {
    double sampleRate = 48000;
    int bpm = 120;
    std::string_view pattern = "Annn";  // 'A', 'T', 'n' or 'R' per beat, repeated
    double seconds = 10;                // of beats; the track ends with the last clip
    double leadInSeconds = 0.2;         // silence before the first click
};
std::vector<float> makeClickTrack(const ClickTrackSettings& settings);

// A sound file read whole, its channels averaged into one. Both throw std::runtime_error
// naming the file.
struct MonoRecording {
    std::vector<float> samples;
    double sampleRate = 0;
};
MonoRecording readMonoRecording(const std::string& path);
void writeMonoWav(const std::string& path, const std::vector<float>& samples, double sampleRate);

}  // namespace vindelor::rig
