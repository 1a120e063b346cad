#include "window/up_down.h"

#include <QAbstractSlider>
#include <algorithm>

namespace vindelor {

UpDown::UpDown(QAbstractSlider& buddy, int minimum, int maximum, QWidget* parent)
    : ArrowPair(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum) {
    connect(this, &ArrowPair::upArrowClicked, this, [this] {
        step(+1);
        emit upClick();
    });
    connect(this, &ArrowPair::downArrowClicked, this, [this] {
        step(-1);
        emit downClick();
    });
}

void UpDown::step(int by) {
    buddy_.setValue(std::clamp(buddy_.value() + by, minimum_, maximum_));
}

}  // namespace vindelor
