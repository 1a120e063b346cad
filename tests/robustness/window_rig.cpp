#include "tests/robustness/window_rig.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <array>
#include <map>

#include "engine/tempo.h"
#include "window/spin_button.h"
#include "window/up_down.h"

namespace vindelor::test {

ResourceLookup placeholderClips(std::optional<int> missing) {
    static const std::map<int, std::array<std::uint8_t, 4>> clips = {
        {101, {'R', 'I', 'F', 'F'}}, {102, {'R', 'I', 'F', 'F'}}, {103, {'R', 'I', 'F', 'F'}}};
    return
        [missing](std::string_view type, int id) -> std::optional<std::span<const std::uint8_t>> {
            const auto found = clips.find(id);
            if (type != kClipResourceType || found == clips.end() || id == missing) {
                return std::nullopt;
            }
            return std::span<const std::uint8_t>(found->second);
        };
}

WindowRig::WindowRig() : window(new Form1(output, clock, placeholderClips())) {
    Command1 = window->findChild<QPushButton*>(QStringLiteral("Command1"));
    Command2 = window->findChild<QPushButton*>(QStringLiteral("Command2"));
    List1 = window->findChild<QListWidget*>(QStringLiteral("List1"));
    Slider1 = window->findChild<QSlider*>(QStringLiteral("Slider1"));
    SpinButton1 = window->findChild<SpinButton*>(QStringLiteral("SpinButton1"));
    UpDown1 = window->findChild<UpDown*>(QStringLiteral("UpDown1"));
    Text1 = window->findChild<QLineEdit*>(QStringLiteral("Text1"));
    window->load();
    window->show();
}

WindowRig::~WindowRig() {
    delete window;
}

std::optional<std::string> WindowRig::disagreement(bool includingBox) const {
    const int tempo = Slider1->value();
    const QString box = Text1->text();
    const double interval = window->tickTimer().interval();
    if (tempo < kMinTempo || tempo > kMaxTempo) {
        return "the slider stands at " + std::to_string(tempo);
    }
    if (includingBox && box != QString::number(tempo)) {
        return "the box shows \"" + box.toStdString() + "\", the slider " + std::to_string(tempo);
    }
    // The timer holds no interval until the first tempo change or Start gives it one; from then
    // on it must be the slider's.
    if (interval != 0.0 && interval != beatInterval(tempo)) {
        return "the timer's interval is " + std::to_string(interval) + " ms, the slider " +
               std::to_string(tempo);
    }
    return std::nullopt;
}

bool WindowRig::running() const {
    return window->tickTimer().isEnabled();
}

}  // namespace vindelor::test
