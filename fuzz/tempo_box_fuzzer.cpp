// Any string of key presses and pastes into the tempo box, then Enter: the program goes on,
// the tempo stays within 50..200, and slider, box and timer interval agree after every Enter.
// The bytes are read as actions by TempoBoxTypist (tests/robustness/tempo_box_typist.h).
//
// Runs on Qt's offscreen platform; no display is needed.

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "tests/robustness/tempo_box_typist.h"
#include "tests/robustness/window_rig.h"

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

void require(bool holds, const std::string& what) {
    if (!holds) {
        std::fprintf(stderr, "tempo box: %s\n", what.c_str());
        std::abort();
    }
}

void requireAgreement(const vindelor::test::WindowRig& rig, const char* when) {
    const auto disagreement = rig.disagreement();
    require(!disagreement, std::string(when) + ": " + disagreement.value_or(""));
}

// One window, the actions typed into its box, and an Enter to end with.
void type(std::span<const std::uint8_t> actions) {
    vindelor::test::WindowRig rig;
    rig.Text1->setFocus();
    vindelor::test::TempoBoxTypist typist(*rig.Text1);
    while (!actions.empty()) {
        bool entered = false;
        actions = actions.subspan(typist.act(actions, entered));
        require(!rig.window.isNull() && rig.window->isVisible(), "the window went away");
        require(rig.Text1->text().size() <= 3, "the box holds more than three characters");
        if (entered) {
            requireAgreement(rig, "after an Enter");
        }
    }
    typist.pressEnter();
    requireAgreement(rig, "after the last Enter");
    // Start runs the timer at the tempo the slider, and the box, show.
    rig.Command1->click();
    require(rig.running() && rig.window->tickTimer().interval() != 0.0, "Start did not start");
    requireAgreement(rig, "after Start");
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
