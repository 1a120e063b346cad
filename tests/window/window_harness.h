#pragma once

#include <QImage>
#include <QPointer>
#include <functional>
#include <memory>

#include "tests/window/recording_click_output.h"
#include "timer/clock.h"
#include "window/form1.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace vindelor {

class SpinButton;
class UpDown;

class FakeClock final : public Clock {
  public:
    Nanoseconds now() const override { return time; }
    Nanoseconds time{std::chrono::seconds{1000}};
};

// Pictures that make mistakes visible: every pixel of the background has a colour of its own,
// and the metronome's picture is opaque red on its left half, transparent on its right half.
QImage testBackground();
QImage testMetronome();

// Placeholder clips and the test pictures under the ids the program uses. Without clips when
// `withClips` is false.
ResourceLookup testResources(bool withClips = true);

// One window on a recording output and a clock that stands still: the only tick that comes by
// itself is the first of a run, the others are driven by tick().
struct WindowHarness {
    WindowHarness();
    ~WindowHarness();

    // Load and show, with the window active and exposed.
    void open();
    // One beat of the timer, as it would arrive from the event loop.
    void tick();
    // Runs `start` (a press of Start, say) and waits for the first tick of the run, which the
    // timer delivers at once.
    void awaitFirstTickAfter(const std::function<void()>& start);
    // What the window shows, as an image.
    QImage grab() const;

    RecordingClickOutput output;
    FakeClock clock;
    QPointer<Form1> window;
    QPushButton* Command1;
    QPushButton* Command2;
    QListWidget* List1;
    QSlider* Slider1;
    SpinButton* SpinButton1;
    UpDown* UpDown1;
    QLineEdit* Text1;
};

}  // namespace vindelor
