#include "tests/window/window_harness.h"

#include <QBuffer>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <map>

#include "resources/embedded_resources.h"

namespace vindelor {

QImage testBackground() {
    QImage picture(77, 127, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x * 3, y * 2, 255 - x - y));
        }
    }
    return picture;
}

ResourceLookup testResources(bool withClips) {
    auto table = std::make_shared<std::map<std::pair<std::string, int>, QByteArray>>();
    auto add = [&](std::string_view type, int id, const QImage& image, const char* format) {
        QBuffer buffer(&(*table)[{std::string(type), id}]);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
    };
    for (const ClickClip clip : kAllClickClips) {
        if (withClips) {
            (*table)[{std::string(kClipResourceType), resourceIdOf(clip)}] = "RIFF placeholder";
        }
    }
    QImage metronome(144, 239, QImage::Format_ARGB32);
    metronome.fill(Qt::transparent);
    QPainter(&metronome).fillRect(0, 0, 72, 239, QColor::fromRgba(kMetronomeRed));
    QImage icon(32, 32, QImage::Format_RGB32);
    icon.fill(Qt::darkBlue);
    add(kPictureResourceType, kBackgroundPictureId, testBackground(), "BMP");
    add(kPictureResourceType, kMetronomePictureId, metronome, "PNG");
    add(kPictureResourceType, kIconPictureId, icon, "PNG");
    return [table](std::string_view type, int id) -> std::optional<std::span<const std::uint8_t>> {
        const auto found = table->find({std::string(type), id});
        if (found == table->end()) {
            return std::nullopt;
        }
        return std::span(reinterpret_cast<const std::uint8_t*>(found->second.constData()),
                         static_cast<std::size_t>(found->second.size()));
    };
}

WindowHarness::WindowHarness()
    : window(new Form1(output, clock, testResources())),
      Command1(window->findChild<QPushButton*>(QStringLiteral("Command1"))),
      Command2(window->findChild<QPushButton*>(QStringLiteral("Command2"))),
      List1(window->findChild<QListWidget*>(QStringLiteral("List1"))),
      Slider1(window->findChild<QSlider*>(QStringLiteral("Slider1"))),
      SpinButton1(window->findChild<SpinButton*>(QStringLiteral("SpinButton1"))),
      UpDown1(window->findChild<UpDown*>(QStringLiteral("UpDown1"))),
      Text1(window->findChild<QLineEdit*>(QStringLiteral("Text1"))) {}

void WindowHarness::open() {
    window->load();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void WindowHarness::clickStart() {
    QSignalSpy ticks(&window->tickTimer(), &TickTimer::tick);
    QTest::mouseClick(Command1, Qt::LeftButton);
    QTRY_COMPARE(ticks.count(), 1);
}

}  // namespace vindelor
