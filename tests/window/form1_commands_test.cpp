#include <qpa/qwindowsysteminterface.h>
#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "tests/window/window_harness.h"
#include "window/program.h"

namespace vindelor {
namespace {

enum class Close { WithAvbryt, ThroughTheFrame, WithAvbrytLetThroughByATick };

// Calls `act` every few milliseconds while the event loop runs, until destroyed.
struct Watcher {
    explicit Watcher(const std::function<void()>& act) {
        QObject::connect(&timer, &QTimer::timeout, act);
        timer.start(5);
    }
    QTimer timer;
};

Form1* shownWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<Form1*>(widget) && widget->isVisible()) {
            return static_cast<Form1*>(widget);
        }
    }
    return nullptr;
}

}  // namespace

// The load, the Start/Stop and close commands, and the program around the window.
class Form1CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void afterTheLoadTheClickerWaitsAt120In4Of4();
    void startStopAndStartAgainEachBeginANewBar();
    void theSelectedMeterIsHeard_data();
    void theSelectedMeterIsHeard();
    void theAccessKeysPressTheButtons();
    void closingStopsTheClicksAndReleasesTheWindow_data();
    void closingStopsTheClicksAndReleasesTheWindow();
    void aMissingClipIsReportedOnceAndNoWindowShows();
    void theProgramEndsWithItsWindow();
};

void Form1CommandsTest::afterTheLoadTheClickerWaitsAt120In4Of4() {
    WindowHarness h;
    h.open();
    QCOMPARE(h.Slider1->value(), 120);
    QCOMPARE(h.Text1->text(), QStringLiteral("120"));
    QCOMPARE(h.List1->selectedItems().size(), 1);
    QCOMPARE(h.List1->selectedItems().front()->text(), QStringLiteral("4 / 4"));
    QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
    QVERIFY(!h.window->tickTimer().isEnabled());
    const std::vector<ClickClip> inOrder = {ClickClip::NormalClick, ClickClip::AccentClick,
                                            ClickClip::TripleAccentClick};
    QCOMPARE(h.output.prepared, inOrder);
    QTest::qWait(20);
    QCOMPARE(h.output.heard, QString());
}

void Form1CommandsTest::startStopAndStartAgainEachBeginANewBar() {
    WindowHarness h;
    h.open();
    h.clickStart();
    QCOMPARE(h.Command1->text(), QStringLiteral("&Stop"));
    QCOMPARE(h.window->tickTimer().interval(), 500.0);
    QVERIFY2(h.output.firstStartsRun, "the first click opens the run");
    for (int beat = 1; beat < 6; ++beat) {
        h.tick();
    }
    QCOMPARE(h.output.heard, QStringLiteral("AnnnAn"));

    h.clock.time += std::chrono::milliseconds(700);
    QTest::mouseClick(h.Command1, Qt::LeftButton);
    QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
    QVERIFY(!h.window->tickTimer().isEnabled());
    QCOMPARE(h.output.stops, std::vector{h.clock.time});

    h.clickStart();
    h.tick();
    QCOMPARE(h.output.heard, QStringLiteral("AnnnAnAn"));
}

void Form1CommandsTest::theSelectedMeterIsHeard_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("heard");
    QTest::newRow("3 / 4 has an accent of its own") << 3 << "TnnTnn";
    QTest::newRow("6 / 8 accents every sixth beat") << 5 << "AnnnnnA";
    QTest::newRow("a blank row is silent") << 2 << "";
}

void Form1CommandsTest::theSelectedMeterIsHeard() {
    QFETCH(int, row);
    QFETCH(QString, heard);
    WindowHarness h;
    h.open();
    const QRect shown = h.List1->visualItemRect(h.List1->item(row));
    QTest::mouseClick(h.List1->viewport(), Qt::LeftButton, {}, shown.center());
    h.clickStart();
    while (h.output.heard.size() < heard.size()) {
        h.tick();
    }
    QCOMPARE(h.output.heard, heard);
}

void Form1CommandsTest::theAccessKeysPressTheButtons() {
    WindowHarness h;
    h.open();
    h.Text1->setFocus();
    h.awaitFirstTickAfter([&] { QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier); });
    QCOMPARE(h.Command1->text(), QStringLiteral("&Stop"));
    // An access key shows its button pressed for a moment, then clicks it.
    QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(h.Command1->text(), QStringLiteral("&Start"));
    QTest::keyClick(h.window, Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(h.window.isNull());
}

void Form1CommandsTest::closingStopsTheClicksAndReleasesTheWindow_data() {
    QTest::addColumn<Close>("how");
    QTest::newRow("Avbryt closes the window") << Close::WithAvbryt;
    QTest::newRow("the frame closes it the same way") << Close::ThroughTheFrame;
    QTest::newRow("a close let through by a tick waits for the tick to return")
        << Close::WithAvbrytLetThroughByATick;
}

void Form1CommandsTest::closingStopsTheClicksAndReleasesTheWindow() {
    QFETCH(Close, how);
    WindowHarness h;
    h.open();
    h.clickStart();
    if (how == Close::WithAvbryt) {
        QTest::mouseClick(h.Command2, Qt::LeftButton);
    } else if (how == Close::ThroughTheFrame) {
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
            h.window->windowHandle());
    } else {
        // The click waits in the queue until the tick lets it through. Whatever else runs in
        // that pass, even a flush of deferred deletions, must leave the window whole.
        connect(h.Command2, &QPushButton::clicked, h.Command2,
                [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
        const QPoint centre = h.Command2->geometry().center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
                h.window->windowHandle(), centre, h.window->mapToGlobal(centre),
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton,
                type);
        }
        h.tick();
        QVERIFY2(!h.window.isNull(), "whole until the tick has returned");
        QCOMPARE(h.output.heard, QStringLiteral("An"));
    }
    QVERIFY(!h.window->isVisible());
    QVERIFY(!h.window->tickTimer().isEnabled());
    QCOMPARE(h.output.stops.size(), std::size_t{1});
    QTRY_VERIFY(h.window.isNull());
}

void Form1CommandsTest::aMissingClipIsReportedOnceAndNoWindowShows() {
    RecordingClickOutput output;
    FakeClock clock;
    QStringList boxes;
    bool aWindowShowed = false;
    const Watcher watcher([&] {
        aWindowShowed = aWindowShowed || shownWindow() != nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.append(box->icon() == QMessageBox::Critical ? box->text() : QString());
            box->accept();
        }
    });

    // What the program writes to stderr goes to a file for the while.
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    std::FILE* written = std::tmpfile();
    dup2(fileno(written), STDERR_FILENO);
    const int status = runVindelor(output, clock, {}, testResources(/*withClips=*/false));
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    std::rewind(written);
    char line[512] = {};
    std::fgets(line, sizeof line, written);
    std::fclose(written);

    QCOMPARE(status, 1);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.front().contains(QStringLiteral("101")), qPrintable(boxes.front()));
    QCOMPARE(QString::fromUtf8(line).trimmed(), boxes.front());
    QVERIFY(!aWindowShowed);
    QVERIFY(output.prepared.empty());
}

void Form1CommandsTest::theProgramEndsWithItsWindow() {
    RecordingClickOutput output;
    FakeClock clock;
    const Watcher avbryt([] {
        if (Form1* window = shownWindow()) {
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command2")),
                              Qt::LeftButton);
        }
    });
    QCOMPARE(runVindelor(output, clock, {}, testResources()), 0);
    QCOMPARE(output.prepared.size(), std::size_t{3});
    QVERIFY(shownWindow() == nullptr);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1CommandsTest)
#include "form1_commands_test.moc"
