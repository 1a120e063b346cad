#include "tests/robustness/tempo_box_typist.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <algorithm>

namespace vindelor::test {
namespace {

constexpr std::size_t kLongestPaste = 7;  // over the box's three characters, to be cut

void key(QLineEdit& box, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&box, key, modifiers);
}

void typed(QLineEdit& box, const QString& text) {
    QTest::sendKeyEvent(QTest::KeyAction::Click, &box, Qt::Key_unknown, text, Qt::NoModifier);
}

}  // namespace

void TempoBoxTypist::paste(std::span<const std::uint8_t> text) {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(
        reinterpret_cast<const char*>(text.data()), static_cast<qsizetype>(text.size())));
    key(box_, Qt::Key_Insert, Qt::ShiftModifier);
}

void TempoBoxTypist::pressEnter() {
    key(box_, Qt::Key_Return);
}

std::size_t TempoBoxTypist::act(std::span<const std::uint8_t> bytes, bool& entered) {
    entered = false;
    const int action = bytes.front() % 32;
    if (action <= 9) {
        key(box_, static_cast<Qt::Key>(Qt::Key_0 + action));
        return 1;
    }
    switch (action) {
        case 10:
            key(box_, Qt::Key_Backspace);
            break;
        case 11:
            key(box_, Qt::Key_Delete);
            break;
        case 12:
            key(box_, Qt::Key_Left);
            break;
        case 13:
            key(box_, Qt::Key_Right);
            break;
        case 14:
            key(box_, Qt::Key_Home);
            break;
        case 15:
            key(box_, Qt::Key_End);
            break;
        case 16:
            key(box_, Qt::Key_Left, Qt::ShiftModifier);
            break;
        case 17:
            key(box_, Qt::Key_A, Qt::ControlModifier);  // select all, were it let through
            break;
        case 18:
            pressEnter();
            entered = true;
            break;
        case 19:
            key(box_, Qt::Key_Enter, Qt::KeypadModifier);
            entered = true;
            break;
        case 20:
            key(box_, Qt::Key_V, Qt::ControlModifier);
            break;
        case 21:
            key(box_, Qt::Key_Z, Qt::ControlModifier);
            break;
        case 22: {
            // A paste: the next byte gives its length, the bytes after it its text.
            const std::size_t length =
                bytes.size() > 1
                    ? std::min<std::size_t>(bytes[1] % (kLongestPaste + 1), bytes.size() - 2)
                    : 0;
            paste(bytes.subspan(std::min<std::size_t>(2, bytes.size()), length));
            return std::min<std::size_t>(bytes.size(), 2 + length);
        }
        case 23:
            box_.paste();  // the context menu's Paste, with what the clipboard holds
            break;
        case 24:
            typed(box_, QStringLiteral("a"));
            break;
        case 25:
            typed(box_, QStringLiteral(" "));
            break;
        case 26:
            typed(box_, QStringLiteral("-"));
            break;
        case 27:
            typed(box_, QStringLiteral("."));
            break;
        case 28:
            typed(box_, QString(QChar(0x0663)));  // an Arabic-Indic three: a digit, not ours
            break;
        case 29:
            key(box_, Qt::Key_Backspace, Qt::ControlModifier);
            break;
        case 30:
            key(box_, Qt::Key_Home, Qt::ShiftModifier);
            break;
        default:
            key(box_, Qt::Key_X, Qt::ControlModifier);  // cut, were it let through
            break;
    }
    return 1;
}

}  // namespace vindelor::test
