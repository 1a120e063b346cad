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

enum class Close { WithAvbryt, ThroughTheFrame, WithAvbrytLetThroughByATick };

// The load, the Start/Stop and close commands, and the program around the window.
class Form1CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void afterTheLoadTheClickerWaitsAt120In4Of4() {
        WindowHarness h;
        h.open();
        QCOMPARE(h.Slider1->value(), 120);
        QCOMPARE(h.Text1->text(), QStringLiteral("120"));
        QCOMPARE(h.List1->selectedItems().size(), 1);
        QCOMPARE(h.List1->selectedItems().front()->text(), QStringLiteral("4 / 4"));
        QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
        QVERIFY(!h.window->tickTimer().isEnabled());
        QCOMPARE(h.output.prepared, (std::vector{ClickClip::NormalClick, ClickClip::AccentClick,
                                                 ClickClip::TripleAccentClick}));
    }

    void startStopAndStartAgainEachBeginANewBar() {
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

    // A button's letter acts as its click does, and as soon: Alt+S starts and stops within the
    // key press, Alt+A closes.
    void theButtonsLettersActAtOnce() {
        WindowHarness h;
        h.open();
        QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(h.Command1->text(), QStringLiteral("&Stop"));
        QVERIFY(h.window->tickTimer().isEnabled());
        QTRY_COMPARE(h.output.heard, QStringLiteral("A"));
        h.clock.time += std::chrono::milliseconds(300);
        QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
        QCOMPARE(h.output.stops, std::vector{h.clock.time});
        QTest::keyClick(h.window, Qt::Key_A, Qt::AltModifier);
        QVERIFY(!h.window->isVisible());
    }

    void theSelectedMeterIsHeard_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("heard");
        QTest::newRow("3 / 4") << 3 << "TnnTnn";
        QTest::newRow("6 / 8") << 5 << "AnnnnnA";
        QTest::newRow("a blank row is silent") << 2 << "";
    }

    void theSelectedMeterIsHeard() {
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

    void closingStopsTheClicksAndReleasesTheWindow_data() {
        QTest::addColumn<Close>("how");
        QTest::newRow("Avbryt") << Close::WithAvbryt;
        QTest::newRow("the frame") << Close::ThroughTheFrame;
        QTest::newRow("Avbryt let through by a tick") << Close::WithAvbrytLetThroughByATick;
    }

    void closingStopsTheClicksAndReleasesTheWindow() {
        QFETCH(Close, how);
        WindowHarness h;
        h.open();
        h.clickStart();
        QWindow* handle = h.window->windowHandle();
        if (how == Close::WithAvbryt) {
            QTest::mouseClick(h.Command2, Qt::LeftButton);
        } else if (how == Close::ThroughTheFrame) {
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                handle);
        } else {
            // The click waits in the queue until the tick lets it through. Whatever else runs
            // in that pass, even a flush of deferred deletions, must leave the window whole.
            connect(h.Command2, &QPushButton::clicked, h.Command2,
                    [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
            const QPoint at = h.Command2->geometry().center();
            using Queued = QWindowSystemInterface::AsynchronousDelivery;
            QWindowSystemInterface::handleMouseEvent<Queued>(handle, at, h.window->mapToGlobal(at),
                                                             Qt::LeftButton, Qt::LeftButton,
                                                             QEvent::MouseButtonPress);
            QWindowSystemInterface::handleMouseEvent<Queued>(handle, at, h.window->mapToGlobal(at),
                                                             Qt::NoButton, Qt::LeftButton,
                                                             QEvent::MouseButtonRelease);
            h.tick();
            QVERIFY2(!h.window.isNull(), "whole until the tick has returned");
            QCOMPARE(h.output.heard, QStringLiteral("An"));
        }
        QVERIFY(!h.window->isVisible());
        QVERIFY(!h.window->tickTimer().isEnabled());
        QCOMPARE(h.output.stops.size(), std::size_t{1});
        QTRY_VERIFY(h.window.isNull());
    }

    void aMissingClipIsReportedOnceAndNoWindowShows() {
        RecordingClickOutput output;
        FakeClock clock;
        QStringList boxes;
        bool aWindowShowed = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                aWindowShowed =
                    aWindowShowed || (qobject_cast<Form1*>(widget) && widget->isVisible());
            }
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.append(box->icon() == QMessageBox::Critical ? box->text() : QString());
                box->accept();
            }
        });
        watcher.start(5);
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
};

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1CommandsTest)
#include "form1_commands_test.moc"
