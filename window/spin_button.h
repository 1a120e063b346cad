#pragma once

#include "window/arrow_pair.h"

namespace vindelor {

// A tall pair of arrow buttons that holds no value of its own: each press raises up() or
// down(), and whoever listens decides what that changes.
class SpinButton : public ArrowPair {
    Q_OBJECT

  public:
    explicit SpinButton(QWidget* parent = nullptr);

  signals:
    void up();
    void down();
};

}  // namespace vindelor
