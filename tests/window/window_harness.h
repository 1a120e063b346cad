#pragma once

#include <QPointer>
#include <QString>
#include <vector>

#include "sound/click_output.h"
#include "timer/clock.h"
#include "window/form1.h"
#include "window/spin_button.h"
#include "window/up_down.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace vindelor {

// Hears what the window asks of its sound output: A the accent, T the "3 / 4" accent, n the
// ordinary click.
class RecordingClickOutput final : public ClickOutput {
  public:
    void prepare(ClickClip clip, std::span<const std::uint8_t>) override {
        prepared.push_back(clip);
    }
    void play(ClickClip clip, std::chrono::nanoseconds, std::chrono::nanoseconds,
              bool startsRun) override {
        heard += clip == ClickClip::AccentClick         ? u'A'
                 : clip == ClickClip::TripleAccentClick ? u'T'
                                                        : u'n';
        firstStartsRun = heard.size() == 1 ? startsRun : firstStartsRun;
    }
    void stop(std::chrono::nanoseconds now) override { stops.push_back(now); }

    std::vector<ClickClip> prepared;
    QString heard;
    bool firstStartsRun = false;
    std::vector<std::chrono::nanoseconds> stops;
};

class FakeClock final : public Clock {
  public:
    Nanoseconds now() const override { return time; }
    Nanoseconds time{std::chrono::seconds{1000}};
};

// A background whose every pixel has a colour of its own, and a metronome's picture that is
// opaque red on its left half and transparent on its right half.
QImage testBackground();
inline constexpr QRgb kMetronomeRed = 0xffc81e1e;

// Placeholder clips (none when `withClips` is false) and test pictures under the program's ids.
ResourceLookup testResources(bool withClips = true);

// One window on a recording output and a clock that stands still: the only tick that comes by
// itself is the first of a run, the others are driven by tick().
struct WindowHarness {
    WindowHarness();
    ~WindowHarness() { delete window; }

    void open();  // load and show, with the window active
    void tick() { emit window->tickTimer().tick(); }
    // Presses Start and waits for the run's first tick, which the timer delivers at once.
    void clickStart();

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
