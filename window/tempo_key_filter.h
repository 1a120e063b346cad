#pragma once

#include <QObject>

namespace vindelor {

// Watches the key presses of the tempo box. A key that types a character goes through
// filterTempoKey (engine/tempo.h): Backspace and the digits reach the box, Enter is taken and
// raises entered(), every other character is dropped before the box sees it. Keys that type
// nothing (the arrows, Home, End, Delete, Tab, Shift+Insert) go on to the box unchanged.
class TempoKeyFilter : public QObject {
    Q_OBJECT

  public:
    explicit TempoKeyFilter(QObject* parent = nullptr);

  signals:
    void entered();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vindelor
