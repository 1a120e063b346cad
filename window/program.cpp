#include "window/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <cstdio>

#include "window/form1.h"
#include "window/window_texts.h"

namespace vindelor {

int runVindelor(ClickOutput& output, const Clock& clock, std::function<Nanoseconds()> lead,
                const ResourceLookup& resources) {
    const QPointer<Form1> window = new Form1(output, clock, resources);
    window->tickTimer().setLead(std::move(lead));
    try {
        window->load();
    } catch (const MissingClipError& error) {
        delete window;
        std::fprintf(stderr, "%s\n", error.what());
        QMessageBox::critical(nullptr, texts::kErrorTitle.toString(),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    QApplication::setWindowIcon(window->windowIcon());
    window->show();
    const int status = QApplication::exec();
    // Closing deletes the window; one the loop left behind goes before its output and clock.
    delete window;
    return status;
}

}  // namespace vindelor
