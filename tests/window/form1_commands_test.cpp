#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>

#include "tests/window/window_harness.h"
#include "window/program.h"

namespace vindelor {

enum class Close { WithAvbryt, WithAltA, ThroughTheFrame };

// Watches the program start: counts its windows shown, and notes and closes its message boxes.
struct StartWatcher : QObject {
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            windowsShown += qobject_cast<Form1*>(watched) ? 1 : 0;
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                said.append(box->text());
                QMetaObject::invokeMethod(box, &QMessageBox::accept, Qt::QueuedConnection);
            }
        }
        return false;
    }
    int windowsShown = 0;
    QStringList said;
};

// Starting the program, Start and Stop, the meters, closing, and the input a tick lets through.
class Form1CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void aMissingClipIsNamedOnceAndNoWindowShows_data() {
        QTest::addColumn<int>("missing");
        QTest::newRow("without the ordinary click, 101") << 101;
        QTest::newRow("without the accent, 102") << 102;
        QTest::newRow("without the accent of 3 / 4, 103") << 103;
    }

    void aMissingClipIsNamedOnceAndNoWindowShows() {
        QFETCH(int, missing);
        FakeClickOutput output;
        FakeClock clock;
        StartWatcher watcher;
        qApp->installEventFilter(&watcher);
        // What the program prints goes to a file for the while; Qt Test reports on stdout.
        std::FILE* printed = std::tmpfile();
        const int terminal = dup(STDERR_FILENO);
        dup2(fileno(printed), STDERR_FILENO);
        const int status = runVindelor(output, clock, {}, testResources(missing));
        dup2(terminal, STDERR_FILENO);
        close(terminal);
        std::rewind(printed);
        QFile file;
        QVERIFY(file.open(printed, QIODevice::ReadOnly, QFile::AutoCloseHandle));

        QCOMPARE(status, 1);
        QCOMPARE(watcher.said.size(), 1);
        QVERIFY2(watcher.said[0].contains(QString::number(missing)), qPrintable(watcher.said[0]));
        QCOMPARE(QString::fromUtf8(file.readAll()), watcher.said[0] + u'\n');
        QCOMPARE(watcher.windowsShown, 0);
        QVERIFY(output.prepared.empty());
    }

    void startingUpWaitsAt120In4Of4AndEachStartBeginsANewBar() {
        WindowHarness h;
        QVERIFY(h.open());
        QCOMPARE(h.Slider1->value(), 120);
        QCOMPARE(h.Text1->text(), QStringLiteral("120"));
        QCOMPARE(h.List1->selectedItems(), QList{h.List1->item(1)});  // "4 / 4"
        QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
        QVERIFY(!h.running());
        QTest::qWait(20);
        QCOMPARE(h.heard(), QString());
        h.clickStart();
        QCOMPARE(h.Command1->text(), QStringLiteral("&Stop"));
        QCOMPARE(h.window->tickTimer().interval(), 500.0);
        QVERIFY2(h.output.last.startsRun, "the first click opens the run");
        h.tick();
        h.tick();
        QCOMPARE(h.heard(), QStringLiteral("Ann"));
        // A button's letter acts within the key press: Qt's own answer holds it down 100 ms.
        h.clock.advance(std::chrono::milliseconds(700));
        QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(h.Command1->text(), QStringLiteral("&Start"));
        QVERIFY(!h.running());
        QCOMPARE(h.output.stops, std::vector{h.clock.time});
        // A tempo chosen while stopped is the next run's.
        QTest::mouseClick(h.SpinButton1->upArrow(), Qt::LeftButton);
        QTest::keyClick(h.window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(h.Command1->text(), QStringLiteral("&Stop"));
        QCOMPARE(h.window->tickTimer().interval(), 480.0);
        QTRY_COMPARE(h.heard(), QStringLiteral("AnnA"));
    }

    void theSelectedMeterIsHeard_data() {
        QTest::addColumn<QList<int>>("rows");  // chosen in turn, three beats apart
        QTest::addColumn<QString>("heard");
        QTest::newRow("3 / 4 sounds T n n") << QList{3, 3} << "TnnTnn";
        QTest::newRow("a blank row is silent and keeps the place in the bar")
            << QList{1, 2, 1} << "AnnnAn";
    }

    void theSelectedMeterIsHeard() {
        QFETCH(QList<int>, rows);
        QFETCH(QString, heard);
        WindowHarness h;
        QVERIFY(h.open());
        for (const int row : rows) {
            const QRect shown = h.List1->visualItemRect(h.List1->item(row));
            QTest::mouseClick(h.List1->viewport(), Qt::LeftButton, {}, shown.center());
            h.running() ? h.tick() : h.clickStart();
            h.tick();
            h.tick();
        }
        QVERIFY(h.running());
        QCOMPARE(h.heard(), heard);
    }

    void closingStopsTheClicksAndReleasesTheWindow_data() {
        QTest::addColumn<Close>("how");
        QTest::newRow("with Avbryt") << Close::WithAvbryt;
        QTest::newRow("with Alt+A, at once") << Close::WithAltA;
        QTest::newRow("through the frame") << Close::ThroughTheFrame;
    }

    void closingStopsTheClicksAndReleasesTheWindow() {
        QFETCH(Close, how);
        WindowHarness h;
        QVERIFY(h.open());
        h.clickStart();
        if (how == Close::WithAvbryt) {
            QTest::mouseClick(h.Command2, Qt::LeftButton);
        } else if (how == Close::WithAltA) {
            QTest::keyClick(h.window, Qt::Key_A, Qt::AltModifier);
        } else {
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                h.window->windowHandle());
        }
        QVERIFY(!h.window->isVisible());
        QVERIFY(!h.running());
        QCOMPARE(h.output.stops.size(), std::size_t{1});
        QTRY_VERIFY(h.window.isNull());
    }

    void aTickLetsWaitingInputThrough_data() {
        QTest::addColumn<bool>("inputWaits");
        QTest::newRow("a click on Avbryt waits: the tick lets it and all pending through") << true;
        QTest::newRow("no input waits: the tick lets nothing through") << false;
    }

    // Whatever runs in the tick's pass, even a close and a flush of deferred deletions, must
    // leave the window whole until the tick has returned.
    void aTickLetsWaitingInputThrough() {
        QFETCH(bool, inputWaits);
        WindowHarness h;
        QVERIFY(h.open());
        h.clickStart();
        connect(h.Command2, &QPushButton::clicked, h.Command2,
                [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
        int handled = 0;
        QMetaObject::invokeMethod(
            h.window, [&] { ++handled; }, Qt::QueuedConnection);
        if (inputWaits) {
            queueClick(h.Command2, h.Command2->rect().center());
        }
        h.tick();
        QVERIFY(!h.window.isNull());
        QCOMPARE(h.heard(), QStringLiteral("An"));
        QCOMPARE(handled, inputWaits ? 1 : 0);
        QCOMPARE(h.running(), !inputWaits);
        QTRY_COMPARE(h.window.isNull(), inputWaits);
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::Form1CommandsTest)
#include "form1_commands_test.moc"
