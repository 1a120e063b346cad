// The three click clips as the program carries them: their wave layout byte for byte, and the
// sound they hold, measured from the samples.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "sound/click_sound_bank.h"
#include "tests/resources/resource_bytes.h"

namespace vindelor {
namespace {

constexpr double kSampleRate = 8000.0;

struct ClipFacts {
    const char* name;
    int id;
    const char* fileName;
    int sampleCount;
    std::int16_t firstSample;
    double frequency;  // Hz
    int repeatPeriod;  // samples after which the wave first comes back
    int samplesAtLimits;
    double rmsDbfs;
    double thirdHarmonicDb;  // relative to the tone
};

const ClipFacts kClips[] = {
    {"NormalClick", 101, "normal_click.wav", 275, 8042, 14 * 8000.0 / 134, 67, 150, -1.4, -17},
    {"AccentClick", 102, "accent_click.wav", 421, 3018, 23 * 8000.0 / 204, 204, 227, -1.5, -18},
    {"TripleAccentClick", 103, "triple_accent_click.wav", 815, 3018, 23 * 8000.0 / 204, 204, 451,
     -1.5, -18}};

ByteView clipBytes(int id) {
    return embedded(kClipResourceType, id);
}

// The samples, from the end of the 44-byte header to the 82-byte LIST chunk at the end.
std::vector<double> samplesOf(ByteView clip) {
    std::vector<double> samples;
    for (std::size_t at = 44; at + 83 < clip.size(); at += 2) {
        samples.push_back(static_cast<std::int16_t>(clip[at] | clip[at + 1] << 8));
    }
    return samples;
}

// Magnitude of the Hann-windowed spectrum of `samples` at `frequency` Hz.
double spectrumAt(const std::vector<double>& samples, double frequency) {
    std::complex<double> sum;
    const double n1 = static_cast<double>(samples.size() - 1);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / n1);
        sum += window * samples[n] *
               std::polar(1.0, -2.0 * std::numbers::pi * frequency * n / kSampleRate);
    }
    return std::abs(sum);
}

// The frequency of the spectrum's highest peak between 50 Hz and just under half the rate.
double dominantFrequency(const std::vector<double>& samples) {
    auto peakIn = [&](double from, double to, double step) {
        double best = from;
        for (double f = from; f <= to; f += step) {
            best = spectrumAt(samples, f) > spectrumAt(samples, best) ? f : best;
        }
        return best;
    };
    const double coarse = peakIn(50.0, 3950.0, 2.0);
    return peakIn(coarse - 2.0, coarse + 2.0, 0.01);
}

// The shortest lag after which every sample but the first and last eight comes back.
int repeatPeriodOf(const std::vector<double>& samples) {
    for (std::size_t lag = 1; lag + 16 < samples.size(); ++lag) {
        if (std::equal(samples.begin() + 8, samples.end() - 8 - lag, samples.begin() + 8 + lag)) {
            return static_cast<int>(lag);
        }
    }
    return 0;
}

class ClipFile : public testing::TestWithParam<ClipFacts> {};

TEST_P(ClipFile, IsAWaveImageLaidOutByteForByte) {
    const ClipFacts& facts = GetParam();
    const auto clip = clipBytes(facts.id);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(facts.sampleCount) * 2;
    ASSERT_EQ(clip.size(), dataSize + 126);
    // PCM, one channel, 8000 samples of 16 bits a second.
    EXPECT_TRUE(holdsAt(clip, 0,
                        {"RIFF", u32(dataSize + 118), "WAVEfmt ", u32(16), u16(1), u16(1),
                         u32(8000), u32(16000), u16(2), u16(16), "data", u32(dataSize)}));
    EXPECT_TRUE(holdsAt(clip, 44 + dataSize,
                        {"LIST", u32(74), "INFOISFT", u32(62), "Vindelor make_clips"}));
    const std::string software(clip.end() - 62, clip.end());
    EXPECT_EQ(software.find('\0'), 61u) << "61 characters, then the terminating NUL";
}

TEST_P(ClipFile, HoldsAHardClippedToneAtFullScale) {
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(facts.sampleCount));
    EXPECT_EQ(samples[0], facts.firstSample);
    const auto atLimits = std::count_if(samples.begin(), samples.end(),
                                        [](double s) { return s == 32767.0 || s == -32768.0; });
    EXPECT_NEAR(static_cast<double>(atLimits), facts.samplesAtLimits, 0.02 * facts.sampleCount);
    double power = 0.0;
    for (const double sample : samples) {
        power += sample * sample / samples.size();
    }
    EXPECT_NEAR(20.0 * std::log10(std::sqrt(power) / 32768.0), facts.rmsDbfs, 0.2);
    const double tone = dominantFrequency(samples);
    EXPECT_NEAR(tone, facts.frequency, 3.0);
    const double third = spectrumAt(samples, 3.0 * tone) / spectrumAt(samples, tone);
    EXPECT_NEAR(20.0 * std::log10(third), facts.thirdHarmonicDb, 1.0);
    EXPECT_EQ(repeatPeriodOf(samples), facts.repeatPeriod);
}

INSTANTIATE_TEST_SUITE_P(Clips, ClipFile, testing::ValuesIn(kClips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClipFiles, TheTripleAccentBeginsAsTheAccentButForOneSample) {
    const auto accent = samplesOf(clipBytes(102));
    const auto triple = samplesOf(clipBytes(103));
    ASSERT_GE(accent.size(), 414u);
    ASSERT_GE(triple.size(), 414u);
    int differing = 0;
    for (std::size_t n = 0; n < 414; ++n) {
        differing += accent[n] != triple[n] ? 1 : 0;
    }
    EXPECT_EQ(differing, 1);
}

class Fakes final : public ClickOutput, public BeatTiming {
  public:
    void prepare(ClickClip clip, ByteView image) override {
        prepared.push_back({clip, image.size()});
    }
    void play(ClickClip, std::chrono::nanoseconds, std::chrono::nanoseconds, bool) override {}
    void stop(std::chrono::nanoseconds) override {}
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return {}; }
    bool currentBeatStartsRun() const override { return false; }
    std::chrono::nanoseconds now() const override { return {}; }
    std::vector<std::pair<ClickClip, std::size_t>> prepared;
};

TEST(ClipBank, LoadsEachEmbeddedClipWholeAndUnchanged) {
    ClickerWindow state;
    Fakes fakes;
    ClickSoundBank(state, fakes, fakes).loadClickSounds(findEmbeddedResource);
    for (const ClipFacts& facts : kClips) {
        const ClipBuffer& buffer = state.buffer(static_cast<ClickClip>(facts.id));
        const auto stored = clipBytes(facts.id);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), stored.begin(), stored.end()))
            << facts.name;
    }
    EXPECT_EQ(fakes.prepared, (std::vector<std::pair<ClickClip, std::size_t>>{
                                  {ClickClip::NormalClick, 676},
                                  {ClickClip::AccentClick, 968},
                                  {ClickClip::TripleAccentClick, 1756}}));
}

TEST(ClipGenerator, ReproducesTheCommittedClipsExactly) {
    withGeneratorOutput(VINDELOR_MAKE_CLIPS, [](const std::filesystem::path& folder) {
        for (const ClipFacts& facts : kClips) {
            EXPECT_TRUE(sameFile(folder / facts.fileName, clipBytes(facts.id)))
                << "run the update_clips target";
        }
    });
}

}  // namespace
}  // namespace vindelor
