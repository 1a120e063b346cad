#pragma once

#include <qpa/qwindowsysteminterface.h>

#include <QBuffer>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <map>

#include "engine/tempo.h"
#include "resources/embedded_resources.h"
#include "tests/fakes.h"
#include "window/form1.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor {

// The background picture, a little larger than one tile, each pixel a colour of its own.
inline QImage testBackground() {
    QImage picture(77, 127, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x * 3, y * 2, 255 - x - y));
        }
    }
    return picture;
}

// The metronome's picture is this red on its left half and clear on its right half.
inline constexpr QRgb kMetronomeRed = 0xffc81e1e;

// Placeholder clips under the program's ids, all but `missingClip`, and the test pictures.
inline ResourceLookup testResources(std::optional<int> missingClip = std::nullopt) {
    auto table = std::make_shared<std::map<std::pair<std::string_view, int>, QByteArray>>();
    for (const ClickClip clip : kAllClickClips) {
        if (resourceIdOf(clip) != missingClip) {
            (*table)[{kClipResourceType, resourceIdOf(clip)}] = "RIFF placeholder";
        }
    }
    QImage metronome(144, 239, QImage::Format_ARGB32);
    metronome.fill(Qt::transparent);
    QPainter(&metronome).fillRect(0, 0, 72, 239, QColor::fromRgba(kMetronomeRed));
    for (const auto& [id, picture] :
         {std::pair{kBackgroundPictureId, testBackground()}, {kMetronomePictureId, metronome}}) {
        QBuffer buffer(&(*table)[{kPictureResourceType, id}]);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    return [table](std::string_view type, int id) -> std::optional<std::span<const std::uint8_t>> {
        const auto found = table->find({type, id});
        using Bytes = std::span<const std::uint8_t>;
        return found == table->end()
                   ? std::optional<Bytes>()
                   : Bytes(reinterpret_cast<const std::uint8_t*>(found->second.constData()),
                           static_cast<std::size_t>(found->second.size()));
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
    QPointer<Form1> window = new Form1(output, clock, [] {
        static const ResourceLookup all = testResources();  // the pictures are made once
        return all;
    }());
    QPushButton* Command1 = window->findChild<QPushButton*>("Command1");
    QPushButton* Command2 = window->findChild<QPushButton*>("Command2");
    QListWidget* List1 = window->findChild<QListWidget*>("List1");
    QSlider* Slider1 = window->findChild<QSlider*>("Slider1");
    SpinButton* SpinButton1 = window->findChild<SpinButton*>("SpinButton1");
    UpDown* UpDown1 = window->findChild<UpDown*>("UpDown1");
    QLineEdit* Text1 = window->findChild<QLineEdit*>("Text1");
};

}  // namespace vindelor
