#pragma once

#include <QObject>

namespace vindelor {

// Makes a button's Alt+letter click it at once. Qt answers a button's shortcut with an
// animated click that holds the button down for 100 ms before it reports the click: "&Start"
// would sound its first beat, and "&Stop" silence the clicks, a tenth of a second late.
// An ambiguous shortcut (two buttons on one letter) keeps Qt's answer: it moves the focus.
class InstantMnemonic : public QObject {
    Q_OBJECT

  public:
    explicit InstantMnemonic(QObject* parent = nullptr);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vindelor
