// Any string of key presses and pastes into the tempo box, then Enter: the program goes on,
// the box holds at most three characters, and the window agrees with itself on one tempo
// within 50..200 after every Enter and after Start.
//
// Runs on Qt's offscreen platform; no display is needed.

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "tests/window/window_harness.h"

namespace {

// Any message from Qt while the window is driven is noise a user would see on the terminal.
bool initialised = false;

// Qt's one note that the machine's only font cannot shape a script that was pasted: about the
// fonts installed, not the program, and gone where a fallback font has the script.
bool aboutTheFonts(const QString& message) {
    return message.trimmed().startsWith(QLatin1String("OpenType support missing for"));
}

void failOnMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (initialised && type != QtDebugMsg && type != QtInfoMsg && !aboutTheFonts(message)) {
        std::fprintf(stderr, "Qt said: %s\n", qPrintable(message));
        std::abort();
    }
}

void require(bool holds, const char* when, const QString& what) {
    if (!holds) {
        std::fprintf(stderr, "tempo box, %s: %s\n", when, qPrintable(what));
        std::abort();
    }
}

// Does in the box the action `bytes` begin with, as a user can, and returns how many bytes it
// took. An action is its first byte modulo 32, and the corpus is written in these numbers:
// 0 to 9 type that digit, 22 pastes the bytes that follow, 23 is the context menu's Paste, and
// the others are these from 10 on: keys as a shortcut names them, or a character typed alone.
// U+0663 is an Arabic-Indic three, a digit but not one the box takes.
std::size_t act(QLineEdit& box, std::span<const std::uint8_t> bytes, bool& entered) {
    static const char* const kKeys[] = {"Backspace",  "Del",       "Left",       "Right",
                                        "Home",       "End",       "Shift+Left", "Ctrl+A",
                                        "Return",     "Num+Enter", "Ctrl+V",     "Ctrl+Z",
                                        "",           "",          "a",          " ",
                                        "-",          ".",         "\u0663",     "Ctrl+Backspace",
                                        "Shift+Home", "Ctrl+X"};
    const int action = bytes.front() % 32;
    entered = action == 18 || action == 19;
    if (action < 10) {
        QTest::keyClick(&box, static_cast<Qt::Key>(Qt::Key_0 + action));
    } else if (action == 22) {
        // The next byte gives the length, up to 7: more than the box takes.
        const std::size_t length =
            bytes.size() > 2 ? std::min<std::size_t>(bytes[1] % 8, bytes.size() - 2) : 0;
        const auto text = bytes.subspan(std::min<std::size_t>(2, bytes.size()), length);
        QGuiApplication::clipboard()->setText(QString::fromUtf8(
            reinterpret_cast<const char*>(text.data()), static_cast<qsizetype>(text.size())));
        QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
        return std::min<std::size_t>(bytes.size(), 2 + length);
    } else if (action == 23) {
        box.paste();
    } else if (const QString key = QString::fromUtf8(kKeys[action - 10]); key.size() == 1) {
        QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_unknown, key, Qt::NoModifier);
    } else {
        QTest::keySequence(&box, QKeySequence(key));
    }
    return 1;
}

// One window, the actions typed into its box, and an Enter to end with.
void type(std::span<const std::uint8_t> actions) {
    vindelor::WindowHarness h;
    // Shown but not waited on to be active: the keys go straight to the box.
    h.window->load();
    h.window->show();
    h.Text1->setFocus();
    while (!actions.empty()) {
        bool entered = false;
        actions = actions.subspan(act(*h.Text1, actions, entered));
        require(!h.window.isNull() && h.window->isVisible(), "typing", "the window went away");
        require(h.Text1->text().size() <= 3, "typing", "the box holds " + h.Text1->text());
        require(!entered || h.disagreement().isEmpty(), "after an Enter", h.disagreement());
    }
    QTest::keyClick(h.Text1, Qt::Key_Return);
    require(h.disagreement().isEmpty(), "after the last Enter", h.disagreement());
    h.Command1->click();
    const bool started = h.running() && h.window->tickTimer().interval() != 0.0;
    require(started && h.disagreement().isEmpty(), "after Start", h.disagreement());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt wants a private runtime folder and says so on stderr when there is none.
    static std::string runtime = "/tmp/vindelor-fuzz-runtime-" + std::to_string(getuid());
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    qInstallMessageHandler(failOnMessage);
    // Never destroyed: at exit, Qt's own statics may already be gone before a static one.
    static const QApplication* const app = new QApplication(*argc, *argv);
    (void)app;
    initialised = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    type(std::span(data, size));
    // What the window left queued goes now, not piled up over millions of inputs.
    QCoreApplication::processEvents();
    return 0;
}
