#include "engine/beat_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/fakes.h"

namespace vindelor {
namespace {

// Hears each click as its letter, and lets input through as it is told.
class Fakes final : public ClickPlayer, public InputPump {
  public:
    void playClick(ClickClip clip) override {
        heard += letterOf(clip);
    }
    bool isInputWaiting() override { return waiting; }
    void processPendingEvents() override {
        ++passes;
        if (duringPass) {
            duringPass();
        }
    }
    std::string heard;
    bool waiting = false;
    int passes = 0;
    std::function<void()> duringPass;
};

class BeatEngineTest : public ::testing::Test {
  protected:
    std::string ticks(int count) {
        fakes.heard.clear();
        for (int i = 0; i < count; ++i) {
            engine.onTick();
        }
        return fakes.heard;
    }

    ClickerWindow state;
    Fakes fakes;
    BeatEngine engine{state, fakes, fakes};
};

TEST_F(BeatEngineTest, EachMeterSoundsItsPatternFromAFreshBar) {
    for (const auto& [row, pattern] : {std::pair{1, "AnnnAnnnA"}, {3, "TnnTnnT"},
                                       {5, "AnnnnnAnnnnnA"}}) {
        engine.selectMeter(row);
        engine.resetBar();
        EXPECT_EQ(ticks(static_cast<int>(std::string(pattern).size())), pattern) << row;
    }
}

TEST_F(BeatEngineTest, BlankRowsAndNoSelectionAreSilentAndKeepThePosition) {
    engine.selectMeter(1);
    ticks(2);
    for (const int row : {0, 2, 4, -1, 6}) {
        engine.selectMeter(row);
        EXPECT_EQ(ticks(5), "") << "row " << row;
        EXPECT_EQ(state.BeatIndex, 2) << "row " << row;
    }
    engine.selectMeter(1);
    EXPECT_EQ(ticks(3), "nnA");
}

TEST_F(BeatEngineTest, AChangeOfMeterKeepsThePositionOrStartsABarPastTheNewEnd) {
    engine.selectMeter(1);
    ticks(2);
    engine.selectMeter(3);  // beat 2 of "4 / 4" is beat 2 of "3 / 4"
    EXPECT_EQ(ticks(4), "nTnn");
    engine.selectMeter(5);
    engine.resetBar();  // wherever the run was, the bar starts again
    EXPECT_EQ(ticks(5), "Annnn");
    engine.selectMeter(1);  // beat 5 lies past the end of "4 / 4"
    EXPECT_EQ(ticks(5), "AnnnA");
}

TEST_F(BeatEngineTest, InputIsLetThroughOnlyWhenItWaitsAndANestedTickSeesTheBarMovedOn) {
    engine.selectMeter(1);
    ticks(3);
    EXPECT_EQ(fakes.passes, 0);

    fakes.waiting = true;
    int nested = 0;
    fakes.duringPass = [&] {
        if (nested++ == 0) {
            EXPECT_EQ(state.BeatIndex, 0);  // the tick that let input through is done
            engine.onTick();
        }
    };
    EXPECT_EQ(ticks(1), "nA");
    EXPECT_EQ(fakes.passes, 2);
    engine.selectMeter(0);  // a silent tick lets input through too
    ticks(1);
    EXPECT_EQ(fakes.passes, 3);
}

}  // namespace
}  // namespace vindelor
