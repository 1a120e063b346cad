#pragma once

#include "click_clip.h"

namespace vindelor {

// Sounds a clip from the bank. Returns at once; a failure to sound is silent.
class ClickPlayer {
  public:
    virtual ~ClickPlayer() = default;
    virtual void playClick(ClickClip clip) = 0;
};

// Lets waiting user input through while a tick is being handled.
class InputPump {
  public:
    virtual ~InputPump() = default;
    // True when mouse or keyboard input is waiting for the window's thread.
    virtual bool isInputWaiting() = 0;
    // One pass over the pending window events; other handlers, even a further tick, may run
    // inside it.
    virtual void processPendingEvents() = 0;
};

}  // namespace vindelor
