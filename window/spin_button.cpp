#include "window/spin_button.h"

namespace vindelor {

SpinButton::SpinButton(QWidget* parent) : ArrowPair(parent) {
    connect(this, &ArrowPair::upArrowClicked, this, &SpinButton::up);
    connect(this, &ArrowPair::downArrowClicked, this, &SpinButton::down);
}

}  // namespace vindelor
