#include "engine/beat_engine.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/meter.h"

namespace vindelor {
namespace {

// Hears each click as a letter: A accent, T the "3 / 4" accent, n normal.
class RecordingPlayer final : public ClickPlayer {
  public:
    void playClick(ClickClip clip) override {
        heard += clip == ClickClip::AccentClick         ? 'A'
                 : clip == ClickClip::TripleAccentClick ? 'T'
                                                        : 'n';
    }
    std::string heard;
};

class FakeInput final : public InputPump {
  public:
    bool isInputWaiting() override {
        ++questions;
        return waiting;
    }
    void processPendingEvents() override {
        ++passes;
        if (duringPass) {
            duringPass();
        }
    }
    bool waiting = false;
    int questions = 0;
    int passes = 0;
    std::function<void()> duringPass;
};

class BeatEngineTest : public ::testing::Test {
  protected:
    std::string ticks(int count) {
        player.heard.clear();
        for (int i = 0; i < count; ++i) {
            engine.onTick();
        }
        return player.heard;
    }

    ClickerWindow state;
    RecordingPlayer player;
    FakeInput input;
    BeatEngine engine{state, player, input};
};

TEST_F(BeatEngineTest, EachMeterSoundsItsPatternFromAFreshBar) {
    engine.selectMeter(1);
    EXPECT_EQ(ticks(9), "AnnnAnnnA");
    engine.selectMeter(3);
    engine.resetBar();
    EXPECT_EQ(ticks(7), "TnnTnnT");
    engine.selectMeter(5);
    engine.resetBar();
    EXPECT_EQ(ticks(13), "AnnnnnAnnnnnA");
}

TEST_F(BeatEngineTest, BlankRowsAndNoSelectionAreSilentAndKeepThePosition) {
    engine.selectMeter(1);
    ticks(2);
    for (const int row : {0, 2, 4, -1, 6, 1000}) {
        engine.selectMeter(row);
        EXPECT_EQ(ticks(5), "") << "row " << row;
        EXPECT_EQ(state.BeatIndex, 2) << "row " << row;
    }
    engine.selectMeter(1);
    EXPECT_EQ(ticks(3), "nnA");
}

TEST_F(BeatEngineTest, SelectingAMeterTouchesOnlyTheMeterIndex) {
    engine.selectMeter(5);
    ticks(4);
    engine.selectMeter(3);
    EXPECT_EQ(state.MeterIndex, 3);
    EXPECT_EQ(state.BeatIndex, 4);
    EXPECT_EQ(player.heard, "Annn");
}

TEST_F(BeatEngineTest, AChangeOfMeterInsideTheBarKeepsThePosition) {
    engine.selectMeter(1);
    ticks(2);  // the next tick is beat 2
    engine.selectMeter(3);
    EXPECT_EQ(ticks(4), "nTnn");
}

TEST_F(BeatEngineTest, AChangeToAShorterMeterPastItsEndStartsANewBar) {
    engine.selectMeter(5);
    ticks(5);  // the next tick is beat 5 of "6 / 8"
    engine.selectMeter(1);
    EXPECT_EQ(ticks(5), "AnnnA");

    engine.selectMeter(1);
    engine.resetBar();
    ticks(3);  // the next tick is beat 3 of "4 / 4"
    engine.selectMeter(3);
    EXPECT_EQ(ticks(4), "TnnT");
}

TEST_F(BeatEngineTest, ResetBarRestartsWithTheAccentWhereverTheRunWas) {
    engine.selectMeter(1);
    ticks(3);
    engine.resetBar();
    EXPECT_EQ(state.BeatIndex, 0);
    EXPECT_EQ(ticks(2), "An");
}

TEST_F(BeatEngineTest, EventsAreProcessedOnlyWhenInputWaits) {
    engine.selectMeter(1);
    ticks(3);
    EXPECT_EQ(input.questions, 3);
    EXPECT_EQ(input.passes, 0);

    input.waiting = true;
    ticks(2);
    EXPECT_EQ(input.passes, 2);

    // Blank rows ask too: ticks keep letting input through while silent.
    engine.selectMeter(0);
    ticks(1);
    EXPECT_EQ(input.passes, 3);
}

TEST_F(BeatEngineTest, ATickNestedInTheEventPassSeesTheBarAlreadyMovedOn) {
    engine.selectMeter(1);
    input.waiting = true;
    int nested = 0;
    input.duringPass = [&] {
        if (nested++ == 0) {
            EXPECT_EQ(state.BeatIndex, 1);
            engine.onTick();
        }
    };
    engine.onTick();
    EXPECT_EQ(player.heard, "An");
    EXPECT_EQ(state.BeatIndex, 2);
}

TEST(MeterTable, RowsAndPatternsMatchTheList) {
    ASSERT_EQ(std::size(kMeterRows), static_cast<std::size_t>(kMeterRowCount));
    for (std::int32_t row = 0; row < kMeterRowCount; ++row) {
        EXPECT_EQ(meterPatternOfRow(row).has_value(), !kMeterRows[row].empty()) << row;
    }
    EXPECT_EQ(meterPatternOfRow(1)->barLength, 4);
    EXPECT_EQ(meterPatternOfRow(3)->downbeat, ClickClip::TripleAccentClick);
    EXPECT_EQ(meterPatternOfRow(5)->barLength, 6);
}

}  // namespace
}  // namespace vindelor
