#include "sound/click_sound_bank.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace vindelor {
namespace {

using namespace std::chrono_literals;

class RecordingOutput final : public ClickOutput {
  public:
    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        prepared.push_back({clip, image});
    }
    void play(ClickClip clip, std::chrono::nanoseconds due, std::chrono::nanoseconds,
              bool startsRun) override {
        played.push_back({clip, due, startsRun});
    }
    void stop(std::chrono::nanoseconds) override {}

    struct Prepared {
        ClickClip clip;
        std::span<const std::uint8_t> image;
    };
    struct Played {
        ClickClip clip;
        std::chrono::nanoseconds due;
        bool startsRun;
    };
    std::vector<Prepared> prepared;
    std::vector<Played> played;
};

class FixedTiming final : public BeatTiming {
  public:
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return due; }
    bool currentBeatStartsRun() const override { return first; }
    std::chrono::nanoseconds now() const override { return due; }
    std::chrono::nanoseconds due{0};
    bool first = false;
};

struct Fixture {
    ClickerWindow state;
    RecordingOutput output;
    FixedTiming timing;
    ClickSoundBank bank{state, output, timing};
};

TEST(ClickSoundBankTest, LoadsTheThreeClipsInOrderUnchangedAndHandsThemOver) {
    const std::map<int, std::vector<std::uint8_t>> stored = {
        {101, {1, 2, 3}}, {102, {4, 5}}, {103, {6, 7, 8, 9}}};
    std::vector<int> asked;
    Fixture f;
    f.bank.loadClickSounds([&](std::string_view type, int id) {
        EXPECT_EQ(type, "VINDELOR");
        asked.push_back(id);
        return std::optional<std::span<const std::uint8_t>>(stored.at(id));
    });
    EXPECT_EQ(asked, (std::vector<int>{101, 102, 103}));
    EXPECT_EQ(f.state.NormalClick, stored.at(101));
    EXPECT_EQ(f.state.AccentClick, stored.at(102));
    EXPECT_EQ(f.state.TripleAccentClick, stored.at(103));

    // The output reads the window's own buffers, not a copy that could go away.
    ASSERT_EQ(f.output.prepared.size(), 3u);
    EXPECT_EQ(f.output.prepared[1].clip, ClickClip::AccentClick);
    EXPECT_EQ(f.output.prepared[1].image.data(), f.state.AccentClick.data());
    EXPECT_EQ(f.output.prepared[2].image.size(), 4u);
}

TEST(ClickSoundBankTest, AMissingClipIsAnErrorThatNamesIt) {
    Fixture f;
    const std::vector<std::uint8_t> bytes = {1};
    try {
        f.bank.loadClickSounds([&](std::string_view, int id) {
            return id == 102 ? std::nullopt : std::optional<std::span<const std::uint8_t>>(bytes);
        });
        FAIL() << "no error";
    } catch (const MissingClipError& error) {
        EXPECT_EQ(error.resourceId(), 102);
        EXPECT_NE(std::string(error.what()).find("102"), std::string::npos);
    }
    EXPECT_TRUE(f.output.prepared.empty());
}

TEST(ClickSoundBankTest, PlaysForTheCurrentBeat) {
    Fixture f;
    f.timing.due = 1500ms;
    f.timing.first = true;
    f.bank.playClick(ClickClip::TripleAccentClick);
    ASSERT_EQ(f.output.played.size(), 1u);
    EXPECT_EQ(f.output.played[0].clip, ClickClip::TripleAccentClick);
    EXPECT_EQ(f.output.played[0].due, 1500ms);
    EXPECT_TRUE(f.output.played[0].startsRun);
}

}  // namespace
}  // namespace vindelor
