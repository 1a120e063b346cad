#include <QApplication>

#include "resources/embedded_resources.h"
#include "sound/pulse_click_output.h"
#include "timer/clock.h"
#include "window/program.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
