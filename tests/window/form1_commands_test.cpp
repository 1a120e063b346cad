#include <qpa/qwindowsysteminterface.h>
#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "tests/window/window_harness.h"
#include "window/program.h"

namespace vindelor {
namespace {

// Queues a click as the window system would, for the event loop to deliver later.
void queueClick(QWidget* target) {
    QWindow* window = target->window()->windowHandle();
    const QPointF local = target->mapTo(target->window(), target->rect().center());
    const QPointF global = target->mapToGlobal(target->rect().center());
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

// Catches what the program writes to stderr while `run` runs.
QByteArray stderrOf(const std::function<void()>& run) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    std::FILE* capture = std::tmpfile();
    dup2(fileno(capture), STDERR_FILENO);
    run();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(capture);
    QByteArray written;
    char chunk[256];
    while (const std::size_t read = std::fread(chunk, 1, sizeof chunk, capture)) {
        written.append(chunk, static_cast<qsizetype>(read));
    }
    std::fclose(capture);
    return written;
}

}  // namespace

// The window's load, its Start/Stop and close commands, and the program around it.
class Form1CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void afterTheLoadTheClickerWaitsAt120In4Of4();
    void startSetsTheIntervalAndTheRunOpensWithTheAccent();
    void stopSilencesAndTheNextStartBeginsANewBar();
    void eachMeterSoundsItsOwnPattern_data();
    void eachMeterSoundsItsOwnPattern();
    void aTempoChosenWhileStoppedIsPickedUpByTheNextStart();
    void theAccessKeysPressTheButtons();
    void avbrytClosesTheWindowAsTheFrameDoes_data();
    void avbrytClosesTheWindowAsTheFrameDoes();
    void aCloseHandledInsideATickReleasesTheWindowOnlyAfterIt();
    void aMissingClipIsReportedOnceAndNoWindowShows();
    void theProgramEndsWithItsWindow();
};

void Form1CommandsTest::afterTheLoadTheClickerWaitsAt120In4Of4() {
    WindowHarness harness;
    harness.open();
    QCOMPARE(harness.Slider1->value(), 120);
    QCOMPARE(harness.Text1->text(), QStringLiteral("120"));
    QCOMPARE(harness.List1->selectedItems().size(), 1);
    QCOMPARE(harness.List1->selectedItems().front()->text(), QStringLiteral("4 / 4"));
    QCOMPARE(harness.Command1->text(), QStringLiteral("&Start"));
    QVERIFY(!harness.window->tickTimer().isEnabled());
    // The clips went to the output, in the order 101, 102, 103, and nothing sounds yet.
    QCOMPARE(harness.output.prepared.size(), std::size_t{3});
    QCOMPARE(harness.output.prepared[0].first, ClickClip::NormalClick);
    QCOMPARE(harness.output.prepared[1].first, ClickClip::AccentClick);
    QCOMPARE(harness.output.prepared[2].first, ClickClip::TripleAccentClick);
    QTest::qWait(20);
    QVERIFY(harness.output.plays.empty());
}

void Form1CommandsTest::startSetsTheIntervalAndTheRunOpensWithTheAccent() {
    WindowHarness harness;
    harness.open();
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    QCOMPARE(harness.Command1->text(), QStringLiteral("&Stop"));
    QVERIFY(harness.window->tickTimer().isEnabled());
    QCOMPARE(harness.window->tickTimer().interval(), 500.0);
    QCOMPARE(harness.output.heard(), QStringLiteral("A"));
    QVERIFY2(harness.output.plays.front().startsRun, "the first beat opens the run");
    for (int beat = 0; beat < 7; ++beat) {
        harness.tick();
    }
    QCOMPARE(harness.output.heard(), QStringLiteral("AnnnAnnn"));
}

void Form1CommandsTest::stopSilencesAndTheNextStartBeginsANewBar() {
    WindowHarness harness;
    harness.open();
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    harness.tick();
    QCOMPARE(harness.output.heard(), QStringLiteral("An"));

    harness.clock.time += std::chrono::milliseconds(700);
    QTest::mouseClick(harness.Command1, Qt::LeftButton);
    QCOMPARE(harness.Command1->text(), QStringLiteral("&Start"));
    QVERIFY(!harness.window->tickTimer().isEnabled());
    QCOMPARE(harness.output.stops.size(), std::size_t{1});
    QCOMPARE(harness.output.stops.front(), harness.clock.time);

    harness.output.clear();
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    harness.tick();
    QCOMPARE(harness.output.heard(), QStringLiteral("An"));
}

void Form1CommandsTest::eachMeterSoundsItsOwnPattern_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("heard");
    QTest::newRow("4 / 4 accents every fourth beat") << 1 << "AnnnAnn";
    QTest::newRow("3 / 4 has an accent of its own") << 3 << "TnnTnnT";
    QTest::newRow("6 / 8 accents every sixth beat") << 5 << "AnnnnnA";
    QTest::newRow("a blank row is silent") << 2 << "";
}

void Form1CommandsTest::eachMeterSoundsItsOwnPattern() {
    QFETCH(int, row);
    QFETCH(QString, heard);
    WindowHarness harness;
    harness.open();
    QTest::mouseClick(harness.List1->viewport(), Qt::LeftButton, {},
                      harness.List1->visualItemRect(harness.List1->item(row)).center());
    QCOMPARE(harness.List1->currentRow(), row);
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    for (int beat = 1; beat < 7; ++beat) {
        harness.tick();
    }
    QCOMPARE(harness.output.heard(), heard);
}

void Form1CommandsTest::aTempoChosenWhileStoppedIsPickedUpByTheNextStart() {
    WindowHarness harness;
    harness.open();
    harness.Slider1->setFocus();
    QTest::keyClick(harness.Slider1, Qt::Key_End);
    QTest::mouseClick(harness.Command1, Qt::LeftButton);
    QCOMPARE(harness.window->tickTimer().interval(), 300.0);
}

void Form1CommandsTest::theAccessKeysPressTheButtons() {
    WindowHarness harness;
    harness.open();
    harness.Text1->setFocus();
    harness.awaitFirstTickAfter(
        [&] { QTest::keyClick(harness.window, Qt::Key_S, Qt::AltModifier); });
    QCOMPARE(harness.Command1->text(), QStringLiteral("&Stop"));
    // An access key presses its button as a click would, after showing it pressed briefly.
    QTest::keyClick(harness.window, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(harness.Command1->text(), QStringLiteral("&Start"));
    QTest::keyClick(harness.window, Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(harness.window.isNull());
}

void Form1CommandsTest::avbrytClosesTheWindowAsTheFrameDoes_data() {
    QTest::addColumn<bool>("throughTheFrame");
    QTest::newRow("Avbryt closes the window") << false;
    QTest::newRow("the frame closes the window") << true;
}

void Form1CommandsTest::avbrytClosesTheWindowAsTheFrameDoes() {
    QFETCH(bool, throughTheFrame);
    WindowHarness harness;
    harness.open();
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    if (throughTheFrame) {
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
            harness.window->windowHandle());
    } else {
        QTest::mouseClick(harness.Command2, Qt::LeftButton);
    }
    QVERIFY(!harness.window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(harness.window.isNull(), "the window is gone with its controls and timer");
    QCOMPARE(harness.output.stops.size(), std::size_t{1});
}

void Form1CommandsTest::aCloseHandledInsideATickReleasesTheWindowOnlyAfterIt() {
    WindowHarness harness;
    harness.open();
    harness.awaitFirstTickAfter([&] { QTest::mouseClick(harness.Command1, Qt::LeftButton); });
    harness.output.clear();

    // The click on Avbryt waits in the queue; the tick lets it through. Whatever else runs in
    // that pass, even a flush of deferred deletions, must leave the window whole.
    connect(harness.Command2, &QPushButton::clicked, harness.Command2,
            [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
    queueClick(harness.Command2);
    harness.tick();
    QVERIFY2(!harness.window.isNull(), "the window stays whole until the tick has returned");
    QVERIFY2(!harness.window->isVisible(), "the click was handled inside the tick");
    QVERIFY(!harness.window->tickTimer().isEnabled());
    QCOMPARE(harness.output.heard(), QStringLiteral("n"));
    QCOMPARE(harness.output.stops.size(), std::size_t{1});
    QTRY_VERIFY(harness.window.isNull());
}

void Form1CommandsTest::aMissingClipIsReportedOnceAndNoWindowShows() {
    RecordingClickOutput output;
    FakeClock clock;
    QString shown;
    int boxes = 0;
    bool aWindowShowed = false;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            aWindowShowed = aWindowShowed || (qobject_cast<Form1*>(widget) && widget->isVisible());
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            QCOMPARE(box->icon(), QMessageBox::Critical);
            shown = box->text();
            ++boxes;
            box->accept();
        }
    });
    watcher.start(5);
    int status = 0;
    const QByteArray written = stderrOf(
        [&] { status = runVindelor(output, clock, {}, testResources(/*withClips=*/false)); });
    watcher.stop();

    QCOMPARE(status, 1);
    QCOMPARE(boxes, 1);
    QVERIFY2(shown.contains(QStringLiteral("101")), qPrintable(shown));
    QCOMPARE(written.count(shown.toUtf8()), 1);
    QVERIFY(!aWindowShowed);
    QVERIFY(output.prepared.empty());
}

void Form1CommandsTest::theProgramEndsWithItsWindow() {
    RecordingClickOutput output;
    FakeClock clock;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<Form1*>(widget) && widget->isVisible()) {
                QTest::mouseClick(widget->findChild<QPushButton*>(QStringLiteral("Command2")),
                                  Qt::LeftButton);
            }
        }
    });
    closer.start(5);
    QCOMPARE(runVindelor(output, clock, {}, testResources()), 0);
    QCOMPARE(output.prepared.size(), std::size_t{3});
}

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1CommandsTest)
#include "form1_commands_test.moc"
