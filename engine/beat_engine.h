#pragma once

#include <cstdint>

#include "clicker_window.h"
#include "platform.h"

namespace vindelor {

// Decides what each tick sounds and keeps the position in the bar.
// Every call comes on the window's thread; onTick may be re-entered from its own event pass.
class BeatEngine {
  public:
    BeatEngine(ClickerWindow& state, ClickPlayer& player, InputPump& input);

    // The meter list's selection changed to `row` (-1 for none). Touches nothing else.
    void selectMeter(std::int32_t row);
    // The next tick sounds the first beat of a bar.
    void resetBar();
    // One beat: sound it, move on in the bar, then let waiting input through.
    void onTick();

  private:
    ClickerWindow& state_;
    ClickPlayer& player_;
    InputPump& input_;
};

}  // namespace vindelor
