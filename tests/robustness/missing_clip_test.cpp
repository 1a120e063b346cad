// A clip the program carries cannot be found at start: whichever of the three it is, the
// program says which, once on stderr and once in a message box, shows no window, hands
// nothing to its sound output and ends with a failure status.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "tests/robustness/stdio_capture.h"
#include "tests/robustness/window_rig.h"
#include "window/form1.h"
#include "window/program.h"

namespace vindelor {

class MissingClipTest : public QObject {
    Q_OBJECT

  private slots:
    void theProgramNamesTheMissingClipAndEndsBeforeAnyWindowShows_data();
    void theProgramNamesTheMissingClipAndEndsBeforeAnyWindowShows();
};

void MissingClipTest::theProgramNamesTheMissingClipAndEndsBeforeAnyWindowShows_data() {
    QTest::addColumn<int>("missing");
    QTest::newRow("without the ordinary click, 101") << 101;
    QTest::newRow("without the accent, 102") << 102;
    QTest::newRow("without the accent of 3 / 4, 103") << 103;
}

void MissingClipTest::theProgramNamesTheMissingClipAndEndsBeforeAnyWindowShows() {
    QFETCH(int, missing);
    test::CountingClickOutput output;
    test::StandingClock clock;

    QStringList boxes;
    bool aWindowShowed = false;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            aWindowShowed = aWindowShowed || (qobject_cast<Form1*>(widget) && widget->isVisible());
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.append(box->icon() == QMessageBox::Critical ? box->text() : QString());
            box->accept();
        }
    });
    watcher.start(5);

    // Only stderr: Qt Test logs to stdout.
    test::StdioCapture terminal(QDir::tempPath().toStdString() + "/vindelor-missing-clip-" +
                                    std::to_string(QCoreApplication::applicationPid()) + ".txt",
                                test::StdioCapture::Streams::ErrorOnly);
    const int status = runVindelor(output, clock, {}, test::placeholderClips(missing));
    const QString printed = QString::fromStdString(terminal.finish());
    watcher.stop();

    QCOMPARE(status, 1);
    QCOMPARE(boxes.size(), 1);
    const QString said = boxes.front();
    QVERIFY2(said.contains(QString::number(missing)), qPrintable(said));
    for (const int other : {101, 102, 103}) {
        QVERIFY2(other == missing || !said.contains(QString::number(other)), qPrintable(said));
    }
    QCOMPARE(printed, said + u'\n');
    QVERIFY(!aWindowShowed);
    QCOMPARE(output.prepared, 0);
    QCOMPARE(output.plays, 0);
}

}  // namespace vindelor

QTEST_MAIN(vindelor::MissingClipTest)
#include "missing_clip_test.moc"
