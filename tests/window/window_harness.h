#pragma once

#include <qpa/qwindowsysteminterface.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "engine/tempo.h"
#include "resources/embedded_resources.h"
#include "tests/fakes.h"
#include "window/form1.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {

// One of the pictures the program carries, as Qt decodes it.
inline QImage picture(int id) {
    const auto bytes = findEmbeddedResource(kPictureResourceType, id);
    return QImage::fromData(bytes->data(), static_cast<int>(bytes->size()));
}

// The program's own resources, all but the clip `missingClip`.
inline ResourceLookup testResources(std::optional<int> missingClip = std::nullopt) {
    return [missingClip](std::string_view type, int id) {
        return type == kClipResourceType && id == missingClip ? std::nullopt
                                                                : findEmbeddedResource(type, id);
    };
}

// A click at `where` in `widget`, handed to Qt as the window system does: it waits in the
// queue until something processes events.
inline void queueClick(QWidget* widget, QPoint where) {
    using Queued = QWindowSystemInterface::AsynchronousDelivery;
    QWindow* window = widget->window()->windowHandle();
    const QPointF local = widget->mapTo(widget->window(), where);
    const QPointF global = widget->mapToGlobal(where);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton,
                                                     Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton,
                                                     Qt::LeftButton, QEvent::MouseButtonRelease);
}

// The program's window on the fake output and a clock that stands still, its controls found by
// their names. The only tick that comes by itself is the first of a run; tick() drives the
// others.
struct WindowHarness {
    ~WindowHarness() { delete window; }

    // Loads and shows the window; true once it is the active window.
    [[nodiscard]] bool open() {
        window->load();
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }

    void tick() { emit window->tickTimer().tick(); }
    bool running() const { return window->tickTimer().isEnabled(); }
    QString heard() const { return QString::fromStdString(output.heard); }

    // Presses Start and waits for the run's first tick, which the timer delivers at once.
    void clickStart() {
        QSignalSpy ticks(&window->tickTimer(), &TickTimer::tick);
        QTest::mouseClick(Command1, Qt::LeftButton);
        QTRY_COMPARE(ticks.count(), 1);
    }

    // Empties the tempo box with the keyboard and types `keys`, then Enter if `enter`.
    void type(const QString& keys, bool enter = true) {
        Text1->setFocus();
        QTest::keyClick(Text1, Qt::Key_End);
        for (int i = 0; i < kTempoEntryLength; ++i) {
            QTest::keyClick(Text1, Qt::Key_Backspace);
        }
        QTest::keyClicks(Text1, keys);
        if (enter) {
            QTest::keyClick(Text1, Qt::Key_Return);
        }
    }

    // Empty when Command1's caption and the timer agree on whether the clicker runs, and the
    // slider, the tempo box (unless `withBox` is false) and the timer's interval on one tempo
    // within 50..200; else what they show. The timer has no interval until Start or a change of
    // tempo gives it one.
    QString disagreement(bool withBox = true) const {
        const int tempo = Slider1->value();
        const double interval = window->tickTimer().interval();
        const bool agree = running() == (Command1->text() == QStringLiteral("&Stop")) &&
                           tempo >= kMinTempo && tempo <= kMaxTempo &&
                           (!withBox || Text1->text() == QString::number(tempo)) &&
                           (interval == 0.0 || interval == beatInterval(tempo));
        return agree ? QString()
                     : QStringLiteral("%1, slider %2, box %3, interval %4 ms, timer %5")
                           .arg(Command1->text(), QString::number(tempo), Text1->text())
                           .arg(interval)
                           .arg(running() ? "on" : "off");
    }

    FakeClickOutput output;
    FakeClock clock;
    QPointer<Form1> window = new Form1(output, clock, testResources());
    QPushButton* Command1 = window->findChild<QPushButton*>("Command1");
    QPushButton* Command2 = window->findChild<QPushButton*>("Command2");
    QListWidget* List1 = window->findChild<QListWidget*>("List1");
    QSlider* Slider1 = window->findChild<QSlider*>("Slider1");
    SpinButton* SpinButton1 = window->findChild<SpinButton*>("SpinButton1");
    UpDown* UpDown1 = window->findChild<UpDown*>("UpDown1");
    QLineEdit* Text1 = window->findChild<QLineEdit*>("Text1");
};

}  // namespace vindelor
