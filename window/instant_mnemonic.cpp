#include "window/instant_mnemonic.h"

#include <QAbstractButton>
#include <QShortcutEvent>

namespace vindelor {

InstantMnemonic::InstantMnemonic(QObject* parent) : QObject(parent) {}

bool InstantMnemonic::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Shortcut) {
        return false;
    }
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (button == nullptr || static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        return false;
    }
    button->click();
    return true;
}

}  // namespace vindelor
