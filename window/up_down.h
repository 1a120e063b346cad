#pragma once

#include "window/arrow_pair.h"

class QAbstractSlider;

namespace vindelor {

// A small pair of arrows bound to a slider's position. An arrow press first moves the slider
// by one step from wherever it stands, held within the pair's range (no wrap-around: up at the
// top and down at the bottom leave it where it is), and only then raises upClick() or
// downClick(), so that a listener finds the new position on the slider.
class UpDown : public ArrowPair {
    Q_OBJECT

  public:
    UpDown(QAbstractSlider& buddy, int minimum, int maximum, QWidget* parent = nullptr);

  signals:
    void upClick();
    void downClick();

  private:
    void step(int by);

    QAbstractSlider& buddy_;
    int minimum_;
    int maximum_;
};

}  // namespace vindelor
