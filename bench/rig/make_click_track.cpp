// Writes a perfectly regular click track as 32-bit float mono WAV at 48 kHz.
//
//   rig_click_track --out FILE [--bpm 120] [--seconds 10] [--pattern Annn] [--lead-in 0.2]

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/rig/click_track.h"
#include "bench/rig/mono_recording.h"

int main(int argc, char** argv) {
    using namespace vindelor::rig;
    ClickTrackSettings settings;
    std::string out;
    std::string pattern = std::string(settings.pattern);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--out") {
            out = value;
        } else if (name == "--bpm") {
            settings.bpm = std::atoi(value);
        } else if (name == "--seconds") {
            settings.seconds = std::atof(value);
        } else if (name == "--pattern") {
            pattern = value;
        } else if (name == "--lead-in") {
            settings.leadInSeconds = std::atof(value);
        } else {
            out.clear();
            break;
        }
    }
    if (out.empty() || argc % 2 == 0) {
        std::fprintf(
            stderr, "usage: rig_click_track --out FILE [--bpm N] [--seconds S] [--pattern Annn] "
                     "[--lead-in S]\n");
        return 2;
    }
    settings.pattern = pattern;
    try {
        writeMonoWav(out, makeClickTrack(settings), settings.sampleRate);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rig_click_track: %s\n", error.what());
        return 1;
    }
    return 0;
}
