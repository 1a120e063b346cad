// Writes the three click clips the program carries: normal_click.wav, accent_click.wav and
// triple_accent_click.wav, into the folder given as the only argument.
//
// Each clip is a hard-clipped tone burst at full scale, 16-bit mono PCM at 8000 Hz, followed by a
// LIST/INFO chunk naming this program. The output is the same on every run: the committed files
// in resources/ are this program's output, and a test checks that they still are.
//
//   make_clips <folder>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "tools/byte_writer.h"

namespace vindelor {
namespace {

constexpr int kSampleRate = 8000;
constexpr double kFullScale = 32767.0;

// The text of the ISFT sub-chunk: exactly 61 characters, stored with a terminating NUL.
constexpr std::string_view kSoftwareText =
    "Vindelor make_clips 1.0 - hard-clipped tone bursts at 8000 Hz";
static_assert(kSoftwareText.size() == 61);

// A steady tone of a whole number of periods per loop of samples, so that the loop repeats
// seamlessly. Its wave is a sine with a touch of its octave (which makes the two half-waves
// unequal) and of its third, driven `drive` times past full scale and hard-clipped. The octave
// and third are set so that the third harmonic after clipping lies some 17 to 18 dB below the
// tone: a bright, hard click that is still clearly a pitch.
struct Tone {
    int periodsPerLoop;
    int loopLength;  // samples
    double drive;
    double octave;       // amplitude of the second harmonic before clipping
    double octavePhase;  // radians
    double third;        // amplitude of the third harmonic before clipping

    double angularStep() const {
        return 2.0 * std::numbers::pi * periodsPerLoop / static_cast<double>(loopLength);
    }
    // The wave before clipping, in sample units, at phase x.
    double unclipped(double x) const {
        return drive * kFullScale *
               (std::sin(x) + octave * std::sin(2.0 * x + octavePhase) + third * std::sin(3.0 * x));
    }
};

// Near 835.8 Hz: 14 periods in 134 samples.
constexpr Tone kNormalTone{14, 134, 1.486, 0.215, -1.916, 0.0};
// Near 902.0 Hz: 23 periods in 204 samples.
constexpr Tone kAccentTone{23, 204, 1.579, 0.185, 2.014, -0.048};

// A burst ends on a square final stretch: its last samples are driven to the rail of their sign,
// so the clip stops on a clean full-scale edge wherever in the wave its length falls.
constexpr int kRunOutLength = 8;

struct ClipPlan {
    const char* fileName;
    const Tone& tone;
    int sampleCount;
    std::int16_t firstSample;  // the burst starts on the rising edge at this value
};

constexpr std::array kClips{
    ClipPlan{"normal_click.wav", kNormalTone, 275, 8042},
    ClipPlan{"accent_click.wav", kAccentTone, 421, 3018},
    ClipPlan{"triple_accent_click.wav", kAccentTone, 815, 3018},
};

std::int16_t clampToSample(double value) {
    const long rounded = std::lround(value);
    if (rounded > 32767) {
        return 32767;
    }
    if (rounded < -32768) {
        return -32768;
    }
    return static_cast<std::int16_t>(rounded);
}

// The phase on the wave's first rising edge at which the unclipped wave equals `value`.
double phaseOnRisingEdge(const Tone& tone, double value) {
    constexpr double kScanStep = 1.0 / 1024.0;
    double low = -std::numbers::pi;
    while (!(tone.unclipped(low) < value && tone.unclipped(low + kScanStep) >= value)) {
        low += kScanStep;
    }
    double high = low + kScanStep;
    for (int i = 0; i < 64; ++i) {
        const double middle = (low + high) / 2.0;
        (tone.unclipped(middle) < value ? low : high) = middle;
    }
    return (low + high) / 2.0;
}

std::vector<std::int16_t> renderBurst(const ClipPlan& plan) {
    const double start = phaseOnRisingEdge(plan.tone, plan.firstSample);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(plan.sampleCount));
    for (int n = 0; n < plan.sampleCount; ++n) {
        samples[static_cast<std::size_t>(n)] =
            clampToSample(plan.tone.unclipped(start + plan.tone.angularStep() * n));
    }
    for (std::size_t n = samples.size() - kRunOutLength; n < samples.size(); ++n) {
        samples[n] = samples[n] >= 0 ? std::int16_t{32767} : std::int16_t{-32768};
    }
    return samples;
}

// The whole RIFF/WAVE image: fmt (16 bytes, PCM), data, then LIST/INFO/ISFT.
std::vector<std::uint8_t> waveImage(const std::vector<std::int16_t>& samples) {
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    const auto softwareSize = static_cast<std::uint32_t>(kSoftwareText.size() + 1);
    const std::uint32_t listSize = 4 + 8 + softwareSize;
    const std::uint32_t riffSize = 4 + (8 + 16) + (8 + dataSize) + (8 + listSize);

    ByteWriter out;
    out.text("RIFF");
    out.u32(riffSize);
    out.text("WAVE");
    out.text("fmt ");
    out.u32(16);
    out.u16(1);  // PCM
    out.u16(1);  // channels
    out.u32(kSampleRate);
    out.u32(kSampleRate * 2);  // bytes per second
    out.u16(2);                // block align
    out.u16(16);               // bits per sample
    out.text("data");
    out.u32(dataSize);
    for (const std::int16_t sample : samples) {
        out.u16(static_cast<std::uint16_t>(sample));
    }
    out.text("LIST");
    out.u32(listSize);
    out.text("INFO");
    out.text("ISFT");
    out.u32(softwareSize);
    out.text(kSoftwareText);
    out.u8(0);
    return out.bytes();
}

}  // namespace
}  // namespace vindelor

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_clips <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    for (const vindelor::ClipPlan& plan : vindelor::kClips) {
        const std::filesystem::path path = folder / plan.fileName;
        if (!vindelor::writeFile(path, vindelor::waveImage(vindelor::renderBurst(plan)))) {
            std::fprintf(stderr, "make_clips: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
