#pragma once

#include "engine/platform.h"

namespace vindelor {

// Lets waiting user input through from inside a tick, on Qt's event loop.
//
// Input is "waiting" when the window system has handed Qt a mouse, wheel, key, touch or tablet
// event that Qt has not yet delivered to a widget. Input the window system still holds on its
// own side (on X11: events not yet read off the connection) is seen by a later tick.
class QtInputPump final : public InputPump {
  public:
    // Window's thread only.
    bool isInputWaiting() override;
    // One call of QCoreApplication::processEvents(): what is pending now is delivered, including
    // timer events, so that a further tick and any handler may run inside it.
    void processPendingEvents() override;
};

}  // namespace vindelor
