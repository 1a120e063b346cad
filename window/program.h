#pragma once

#include <functional>

#include "sound/click_sound_bank.h"
#include "timer/clock.h"

namespace vindelor {

// Runs the program on the QApplication that exists: creates the window on `output` and `clock`,
// loads it, shows it centred and runs the event loop until the window is gone. Returns the
// exit status: that of the event loop, or 1 when a clip is missing, which is then reported once
// on stderr and in a message box before any window shows. `lead` tells how long before its due
// time each beat must be handed to the output.
int runVindelor(ClickOutput& output, const Clock& clock, std::function<Nanoseconds()> lead,
                const ResourceLookup& resources);

}  // namespace vindelor
