#include "sound/click_sound_bank.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/fakes.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

struct Timing final : BeatTiming {
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return 1500ms; }
    bool currentBeatStartsRun() const override { return true; }
    std::chrono::nanoseconds now() const override { return 1400ms; }
};

struct ClickSoundBankTest : testing::Test {
    ClickerWindow state;
    FakeClickOutput output;
    Timing timing;
    ClickSoundBank bank{state, output, timing};
};

TEST_F(ClickSoundBankTest, LoadsTheThreeClipsInOrderUnchangedAndHandsOverItsOwnBuffers) {
    const std::map<int, std::vector<std::uint8_t>> stored = {
        {101, {1, 2, 3}}, {102, {4, 5}}, {103, {6, 7, 8, 9}}};
    std::vector<int> asked;
    bank.loadClickSounds([&](std::string_view type, int id) {
        EXPECT_EQ(type, "VINDELOR");
        asked.push_back(id);
        return std::optional<std::span<const std::uint8_t>>(stored.at(id));
    });
    EXPECT_EQ(asked, (std::vector<int>{101, 102, 103}));
    EXPECT_EQ(state.TripleAccentClick, stored.at(103));
    EXPECT_EQ(output.prepared, (std::vector<ClickClip>(std::begin(kAllClickClips), std::end(kAllClickClips))));
    EXPECT_EQ(output.preparedBytes[1], stored.at(102));
}

TEST_F(ClickSoundBankTest, PlaysForTheBeatBeingSounded) {
    bank.playClick(ClickClip::TripleAccentClick);
    EXPECT_EQ(output.heard, "T");
    EXPECT_EQ(output.last.due, 1500ms);
    EXPECT_EQ(output.last.now, 1400ms);
    EXPECT_TRUE(output.last.startsRun);
}

}  // namespace
}  // namespace vindelor
