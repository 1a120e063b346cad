#include <QApplication>
#include <cstdio>

#include "resources/embedded_resources.h"
#include "sound/pulse_click_output.h"
#include "timer/clock.h"
#include "window/program.h"
#include "window/utf8_locale.h"
#include "window/window_style.h"

namespace {

QtMessageHandler qtMessageHandler = nullptr;

// A root shell outside a login session has no XDG_RUNTIME_DIR. Qt then makes a folder of its
// own under /tmp and says so at every start: nothing the user could act on. Every other
// message goes on to Qt's handler.
void leaveOutRuntimeDirNote(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    if (type == QtWarningMsg && message.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set")) {
        return;
    }
    qtMessageHandler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
    vindelor::useUtf8CharacterType();
    // Without a desktop Qt would end the program with an abort and a note about plugins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("Vindelor needs a desktop to show its window: neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set.\n",
                   stderr);
        return 1;
    }
    // On X11, a window drawn through shared memory makes every repaint wait until the X server
    // has read the previous frame; a button repaints itself twice before it reports a click, so
    // the first beat would wait for two round trips. The window is small: sending its pixels
    // over the connection costs nothing that matters.
    if (qEnvironmentVariableIsEmpty("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
    // The window keeps the look it was drawn for whatever the desktop sets (pinWindowLook): a
    // style asked for here would be loaded only to be dropped, and one Qt lacks would be
    // reported on the terminal.
    qunsetenv("QT_STYLE_OVERRIDE");
    qtMessageHandler = qInstallMessageHandler(leaveOutRuntimeDirNote);
    QApplication app(argc, argv);
    vindelor::pinWindowLook();
    QApplication::setApplicationName(QStringLiteral(VINDELOR_APP_NAME));
    QApplication::setApplicationVersion(QStringLiteral(VINDELOR_VERSION_SHOWN));
    QApplication::setDesktopFileName(QStringLiteral(VINDELOR_APP_ID));

    // The output's own sample clock drives the beats once it plays; until then, and without a
    // sound server, the monotonic clock does.
    vindelor::MonotonicClock monotonic;
    vindelor::PulseClickOutput output;
    vindelor::ContinuousClock clock(monotonic, [&output] { return output.playbackTime(); });
    return vindelor::runVindelor(
        output, clock, [&output] { return output.lead(); }, vindelor::findEmbeddedResource);
}
