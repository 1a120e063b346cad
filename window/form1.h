#pragma once

#include <QPixmap>
#include <QWidget>

#include "engine/beat_engine.h"
#include "engine/clicker_window.h"
#include "engine/tempo.h"
#include "sound/click_sound_bank.h"
#include "timer/tick_timer.h"
#include "window/qt_input_pump.h"
#include "window/tiled_background.h"
#include "window/timer_beat_timing.h"

class QListWidget;
class QLineEdit;
class QPushButton;
class QSlider;

namespace vindelor {

class SpinButton;
class TempoKeyFilter;
class UpDown;

// The program's only window, and the map from its controls to the beat engine.
//
// How a beat flows: Start sets the interval of the tick timer Hitime1 from the slider and
// enables it; every tick goes to BeatEngine::onTick, which has the ClickSoundBank play the
// beat's clip through the ClickOutput, placed at the tick's due time. How a tempo change flows:
// the slider, the spin button, the up-down or Enter in the tempo box moves the slider (the only
// store of the tempo), sends 60000 / tempo to the timer, running or not, and writes the tempo
// back into the box. The running state is the caption of Command1.
//
// Closing the window (through its frame or with "&Avbryt") stops the clicking and deletes the
// window, once no tick is being handled: create it with new. Its output and clock must outlive
// it. Window's thread only.
class Form1 final : public QWidget {
    Q_OBJECT

  public:
    // Pictures and clips are looked up through `resources`; a missing picture leaves a plain
    // background, a missing clip is reported by load().
    Form1(ClickOutput& output, const Clock& clock, ResourceLookup resources,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Brings the window into its starting state: clips loaded, tempo 120 from the tempo box,
    // the "4 / 4" row selected, the clicker stopped. Throws MissingClipError, before anything
    // else is changed, when a clip is not among the resources.
    void load();

    // The timer that drives the beats, for the program to tune and for tests to drive.
    TickTimer& tickTimer() { return Hitime1; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void onTick();
    void silence();
    void onStartStop();
    void onMeterSelectionChanged();
    void onSliderMoved();
    void onSpinDown();
    void onSpinUp();
    void commitTempoEntry();
    void refreshTempo();
    void moveSlider(std::int64_t position);
    Tempo tempo() const;

    ClickOutput& output_;
    const Clock& clock_;
    ResourceLookup resources_;

    ClickerWindow state_;
    TickTimer Hitime1;
    TimerBeatTiming timing_{Hitime1};
    ClickSoundBank bank_{state_, output_, timing_};
    QtInputPump pump_;
    BeatEngine engine_{state_, bank_, pump_};

    TiledBackground background_;
    QPixmap Image1;
    QRect captionsArea_;  // where the two captions' letters may reach
    bool programMovesSlider_ = false;
    int ticksRunning_ = 0;  // ticks being handled, nested ones counted
    bool deleteAfterTicks_ = false;

    QPushButton* Command1;
    QPushButton* Command2;
    QListWidget* List1;
    QSlider* Slider1;
    SpinButton* SpinButton1;
    UpDown* UpDown1;
    QLineEdit* Text1;
    TempoKeyFilter* tempoKeys_;
};

}  // namespace vindelor
