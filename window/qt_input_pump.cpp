#include "window/qt_input_pump.h"

#include <qpa/qwindowsysteminterface_p.h>
#include <QCoreApplication>

namespace vindelor {

bool QtInputPump::isInputWaiting() {
    using Queue = QWindowSystemInterfacePrivate;
    for (const Queue::EventType type :
         {Queue::Mouse, Queue::Wheel, Queue::Key, Queue::Touch, Queue::Tablet}) {
        if (Queue::peekWindowSystemEvent(type) != nullptr) {
            return true;
        }
    }
    return false;
}

void QtInputPump::processPendingEvents() {
    QCoreApplication::processEvents();
}

}  // namespace vindelor
