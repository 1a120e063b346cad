// The three click clips as the program carries them: their wave layout byte for byte, and the
// sound they hold, measured from the samples.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resources/embedded_resources.h"
#include "sound/click_sound_bank.h"
#include "tests/resources/resource_bytes.h"

namespace vindelor {
namespace {

constexpr double kSampleRate = 8000.0;

struct ClipFacts {
    const char* name;
    int id;
    const char* fileName;
    std::uint32_t size;
    int sampleCount;
    std::int16_t firstSample;
    double frequency;  // Hz
    int loopLength;    // samples of the stretch that repeats
    int samplesAtLimits;
    double rmsDbfs;
    double thirdHarmonicDb;  // relative to the tone
};

const ClipFacts kNormal{
    "NormalClick", 101,  "normal_click.wav", 676, 275, 8042, 14 * 8000.0 / 134, 134, 150,
    -1.4,          -17.0};
const ClipFacts kAccent{
    "AccentClick", 102,  "accent_click.wav", 968, 421, 3018, 23 * 8000.0 / 204, 204, 227,
    -1.5,          -18.0};
const ClipFacts kTripleAccent{"TripleAccentClick",
                              103,
                              "triple_accent_click.wav",
                              1756,
                              815,
                              3018,
                              23 * 8000.0 / 204,
                              204,
                              451,
                              -1.5,
                              -18.0};

std::span<const std::uint8_t> clipBytes(int id) {
    const auto bytes = findEmbeddedResource("VINDELOR", id);
    if (!bytes) {
        ADD_FAILURE() << "clip " << id << " is not among the embedded resources";
        return {};
    }
    return *bytes;
}

std::vector<double> samplesOf(std::span<const std::uint8_t> clip) {
    std::vector<double> samples;
    const std::uint32_t dataSize = readU32(clip, 40);
    for (std::size_t offset = 44; offset + 1 < 44 + dataSize && offset + 1 < clip.size();
         offset += 2) {
        samples.push_back(static_cast<std::int16_t>(readU16(clip, offset)));
    }
    return samples;
}

bool atLimit(double sample) {
    return sample == 32767.0 || sample == -32768.0;
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
        double bestMagnitude = -1.0;
        for (double f = from; f <= to; f += step) {
            const double magnitude = spectrumAt(samples, f);
            if (magnitude > bestMagnitude) {
                best = f;
                bestMagnitude = magnitude;
            }
        }
        return best;
    };
    const double coarse = peakIn(50.0, 3950.0, 2.0);
    return peakIn(coarse - 2.0, coarse + 2.0, 0.01);
}

double rmsDbfs(const std::vector<double>& samples) {
    double sum = 0.0;
    for (const double sample : samples) {
        sum += sample * sample;
    }
    return 20.0 * std::log10(std::sqrt(sum / samples.size()) / 32768.0);
}

// Samples in [from, to) whose value comes back `lag` samples later.
bool repeatsAfter(const std::vector<double>& samples, std::size_t lag, std::size_t from,
                  std::size_t to) {
    for (std::size_t n = from; n < to; ++n) {
        if (samples[n] != samples[n + lag]) {
            return false;
        }
    }
    return true;
}

class ClipFile : public testing::TestWithParam<ClipFacts> {};

TEST_P(ClipFile, IsAWaveImageLaidOutByteForByte) {
    const ClipFacts& facts = GetParam();
    const auto clip = clipBytes(facts.id);
    ASSERT_EQ(clip.size(), facts.size);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(facts.sampleCount) * 2;
    ASSERT_EQ(dataSize + 126, facts.size);

    EXPECT_EQ(readText(clip, 0, 4), "RIFF");
    EXPECT_EQ(readU32(clip, 4), facts.size - 8);
    EXPECT_EQ(readText(clip, 8, 4), "WAVE");
    EXPECT_EQ(readText(clip, 12, 4), "fmt ");
    EXPECT_EQ(readU32(clip, 16), 16u);
    EXPECT_EQ(readU16(clip, 20), 1u);  // PCM
    EXPECT_EQ(readU16(clip, 22), 1u);  // one channel
    EXPECT_EQ(readU32(clip, 24), 8000u);
    EXPECT_EQ(readU32(clip, 28), 16000u);
    EXPECT_EQ(readU16(clip, 32), 2u);
    EXPECT_EQ(readU16(clip, 34), 16u);
    EXPECT_EQ(readText(clip, 36, 4), "data");
    EXPECT_EQ(readU32(clip, 40), dataSize);

    const std::size_t list = 44 + dataSize;
    EXPECT_EQ(readText(clip, list, 4), "LIST");
    EXPECT_EQ(readU32(clip, list + 4), 74u);
    EXPECT_EQ(readText(clip, list + 8, 4), "INFO");
    EXPECT_EQ(readText(clip, list + 12, 4), "ISFT");
    EXPECT_EQ(readU32(clip, list + 16), 62u);
    const std::string software = readText(clip, list + 20, 62);
    EXPECT_EQ(software.find('\0'), 61u) << "61 characters, then the terminating NUL";
    EXPECT_TRUE(software.starts_with("Vindelor make_clips")) << software;
    EXPECT_EQ(list + 20 + 62, clip.size()) << "nothing follows the LIST chunk";
}

TEST_P(ClipFile, StartsMidWaveAtItsFirstSample) {
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(facts.sampleCount));
    EXPECT_EQ(samples[0], facts.firstSample);
}

TEST_P(ClipFile, IsAHardClippedBurstAtFullScale) {
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(facts.sampleCount));

    const auto atLimits = std::count_if(samples.begin(), samples.end(), atLimit);
    EXPECT_NEAR(static_cast<double>(atLimits), facts.samplesAtLimits, 0.02 * facts.sampleCount);
    EXPECT_NEAR(rmsDbfs(samples), facts.rmsDbfs, 0.2);
}

TEST_P(ClipFile, KeepsItsLevelFromFirstSampleToLast) {
    // No fade in or out: every stretch of one period and a sample touches both rails.
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    const auto span = static_cast<std::size_t>(std::ceil(kSampleRate / facts.frequency)) + 1;
    ASSERT_GT(samples.size(), span);
    for (std::size_t start = 0; start + span <= samples.size(); ++start) {
        const auto from = samples.begin() + static_cast<std::ptrdiff_t>(start);
        const auto to = from + static_cast<std::ptrdiff_t>(span);
        EXPECT_TRUE(std::find(from, to, 32767.0) != to && std::find(from, to, -32768.0) != to)
            << "no full swing in samples " << start << " to " << start + span - 1;
    }
}

TEST_P(ClipFile, IsASteadyToneWithItsThirdHarmonicWellBelow) {
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(facts.sampleCount));
    const double tone = dominantFrequency(samples);
    EXPECT_NEAR(tone, facts.frequency, 3.0);
    const double third =
        20.0 * std::log10(spectrumAt(samples, 3.0 * tone) / spectrumAt(samples, tone));
    EXPECT_NEAR(third, facts.thirdHarmonicDb, 1.0);
}

TEST_P(ClipFile, RepeatsOneStretchOfWholePeriodsApartFromItsEnds) {
    const ClipFacts& facts = GetParam();
    const auto samples = samplesOf(clipBytes(facts.id));
    const auto loop = static_cast<std::size_t>(facts.loopLength);
    constexpr std::size_t kEnds = 8;
    ASSERT_GT(samples.size(), loop + 2 * kEnds);
    EXPECT_TRUE(repeatsAfter(samples, loop, kEnds, samples.size() - loop - kEnds));
    // The stretch is a whole number of periods, not a shorter pattern of its own.
    const double periods = facts.loopLength * facts.frequency / kSampleRate;
    EXPECT_NEAR(periods, std::round(periods), 1e-9);
    for (std::size_t lag = 1; lag < 9; ++lag) {
        EXPECT_FALSE(repeatsAfter(samples, lag, kEnds, samples.size() - loop - kEnds)) << lag;
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, ClipFile, testing::Values(kNormal, kAccent, kTripleAccent),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClipFiles, TheAccentStretchDoesNotRepeatSooner) {
    // 23 periods in 204 samples share no factor: no shorter stretch comes back.
    const auto samples = samplesOf(clipBytes(102));
    ASSERT_EQ(samples.size(), 421u);
    for (std::size_t lag = 1; lag < 204; ++lag) {
        EXPECT_FALSE(repeatsAfter(samples, lag, 8, samples.size() - 204 - 8)) << lag;
    }
}

TEST(ClipFiles, TheAccentsDifferByPitchAndLengthNotLoudness) {
    const auto normal = samplesOf(clipBytes(101));
    const auto accent = samplesOf(clipBytes(102));
    const auto triple = samplesOf(clipBytes(103));
    ASSERT_FALSE(normal.empty() || accent.empty() || triple.empty());
    EXPECT_GT(dominantFrequency(accent), dominantFrequency(normal) + 50.0);
    EXPECT_NEAR(dominantFrequency(triple), dominantFrequency(accent), 1.0);
    EXPECT_NEAR(rmsDbfs(accent), rmsDbfs(normal), 0.3);
    EXPECT_NEAR(rmsDbfs(triple), rmsDbfs(accent), 0.3);
}

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
    EXPECT_NEAR(static_cast<double>(triple.size()) / accent.size(), 2.0, 0.1);
}

class NoOutput final : public ClickOutput {
  public:
    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        prepared.push_back({clip, image.size()});
    }
    void play(ClickClip, std::chrono::nanoseconds, bool) override {}
    void stop(std::chrono::nanoseconds) override {}
    struct Prepared {
        ClickClip clip;
        std::size_t size;
    };
    std::vector<Prepared> prepared;
};

class NoTiming final : public BeatTiming {
  public:
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return {}; }
    bool currentBeatStartsRun() const override { return false; }
};

TEST(ClipBank, LoadsEachEmbeddedClipWholeAndUnchanged) {
    ClickerWindow state;
    NoOutput output;
    NoTiming timing;
    ClickSoundBank bank(state, output, timing);
    bank.loadClickSounds(findEmbeddedResource);

    std::size_t total = 0;
    for (const ClipFacts& facts : {kNormal, kAccent, kTripleAccent}) {
        const ClipBuffer& buffer = state.buffer(static_cast<ClickClip>(facts.id));
        const auto stored = clipBytes(facts.id);
        EXPECT_EQ(buffer.size(), facts.size) << facts.name;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), stored.begin(), stored.end()))
            << facts.name;
        total += buffer.size();
    }
    EXPECT_EQ(total, 3400u);
    ASSERT_EQ(output.prepared.size(), 3u);
    EXPECT_EQ(output.prepared[2].clip, ClickClip::TripleAccentClick);
    EXPECT_EQ(output.prepared[2].size, 1756u);
}

TEST(ClipGenerator, ReproducesTheCommittedClipsExactly) {
    const TemporaryFolder folder;
    const std::string command =
        std::string("\"") + VINDELOR_MAKE_CLIPS + "\" \"" + folder.path().string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const ClipFacts& facts : {kNormal, kAccent, kTripleAccent}) {
        const std::vector<std::uint8_t> written = readFile(folder.path() / facts.fileName);
        const auto committed = clipBytes(facts.id);
        EXPECT_TRUE(std::equal(written.begin(), written.end(), committed.begin(), committed.end()))
            << facts.fileName
            << " differs from what make_clips writes; run the update_clips target";
    }
}

}  // namespace
}  // namespace vindelor
