#pragma once

#include <QPointer>
#include <cstdint>
#include <optional>
#include <string>

#include "sound/click_sound_bank.h"
#include "timer/clock.h"
#include "window/form1.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace vindelor {

class SpinButton;
class UpDown;

namespace test {

// Counts what the window asks of its sound output and keeps nothing per beat, so that a long
// run costs no memory.
class CountingClickOutput final : public ClickOutput {
  public:
    void prepare(ClickClip, std::span<const std::uint8_t>) override { ++prepared; }
    void play(ClickClip, std::chrono::nanoseconds, std::chrono::nanoseconds,
              bool startsRun) override {
        ++plays;
        runs += startsRun ? 1 : 0;
    }
    void stop(std::chrono::nanoseconds) override { ++stops; }

    int prepared = 0;
    std::int64_t plays = 0;
    std::int64_t runs = 0;
    std::int64_t stops = 0;
};

class StandingClock final : public Clock {
  public:
    Nanoseconds now() const override { return time; }
    Nanoseconds time{std::chrono::hours(1)};
};

// Placeholder clips under the program's ids, all but `missing` (none for all three); no
// pictures, so that the window paints its plain ground.
ResourceLookup placeholderClips(std::optional<int> missing = std::nullopt);

// The program's window on a counting output and a clock that stands still, loaded and shown
// (on Qt's offscreen platform in the tests), its controls found by their names.
struct WindowRig {
    WindowRig();
    ~WindowRig();
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    // Why slider, tempo box and timer interval do not all stand for one tempo within 50..200;
    // none when they do. An interval not yet given to the timer stands for none. The box is
    // left out when the user has typed into it without Enter.
    std::optional<std::string> disagreement(bool includingBox = true) const;
    // The clicker runs: Start has been pressed and not Stop.
    bool running() const;

    CountingClickOutput output;
    StandingClock clock;
    QPointer<Form1> window;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QListWidget* List1 = nullptr;
    QSlider* Slider1 = nullptr;
    SpinButton* SpinButton1 = nullptr;
    UpDown* UpDown1 = nullptr;
    QLineEdit* Text1 = nullptr;
};

}  // namespace test
}  // namespace vindelor
