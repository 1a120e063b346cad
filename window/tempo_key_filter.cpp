#include "window/tempo_key_filter.h"

#include <QKeyEvent>
#include <optional>

#include "engine/tempo.h"

namespace vindelor {
namespace {

constexpr char16_t kBackspace = 8;
constexpr char16_t kEnter = 13;
constexpr char16_t kDelete = 127;

// The character a key press types, as a 16-bit code; none for a key that types nothing.
std::optional<char16_t> typedCharacter(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool control = modifiers & Qt::ControlModifier;
    switch (event.key()) {
        case Qt::Key_Backspace:
            return control ? kDelete : kBackspace;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kEnter;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:  // moves no character in, though some systems give it a text
            return std::nullopt;
        default:
            break;
    }
    // Control with a letter types a control code (Ctrl+V is 22), as on any terminal.
    if (control && !(modifiers & Qt::AltModifier) && event.key() >= Qt::Key_A &&
        event.key() <= Qt::Key_Z) {
        return static_cast<char16_t>(event.key() - Qt::Key_A + 1);
    }
    const QString text = event.text();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // A press that types several characters at once is as good as its worst one.
    for (const QChar c : text) {
        if (filterTempoKey(c.unicode()) == 0) {
            return c.unicode();
        }
    }
    return text.front().unicode();
}

}  // namespace

TempoKeyFilter::TempoKeyFilter(QObject* parent) : QObject(parent) {}

bool TempoKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const std::optional<char16_t> typed = typedCharacter(*static_cast<QKeyEvent*>(event));
    if (!typed) {
        return false;
    }
    switch (filterTempoKey(*typed)) {
        case 0:
            return true;
        case kEnter:
            emit entered();
            return true;
        default:
            return false;
    }
}

}  // namespace vindelor
