#include <QApplication>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <memory>

#include "tests/window/window_harness.h"
#include "window/window_style.h"

namespace vindelor {

// The window under the look a desktop may set for Qt programs: a style of its own, a large
// font and dark colours. The controls' places were drawn for one look, which pinWindowLook()
// must bring back.
class WindowStyleTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlShowsWholeWhateverLookTheDesktopSets_data() {
        QTest::addColumn<QString>("desktopStyle");
        QTest::newRow("Windows style, 20 px font, dark colours") << "Windows";
        QTest::newRow("Fusion style, 20 px font, dark colours") << "Fusion";
    }

    void everyControlShowsWholeWhateverLookTheDesktopSets() {
        QFETCH(QString, desktopStyle);
        QVERIFY(QApplication::setStyle(desktopStyle) != nullptr);
        QFont desktopFont = QApplication::font();
        desktopFont.setPixelSize(20);
        QApplication::setFont(desktopFont);
        QApplication::setPalette(QPalette(QColor(45, 45, 45)));

        pinWindowLook();
        WindowHarness h;
        QVERIFY(h.open());
        QVERIFY(!h.List1->verticalScrollBar()->isVisible());
        QVERIFY(!h.List1->horizontalScrollBar()->isVisible());
        QVERIFY(h.List1->viewport()->rect().contains(h.List1->visualItemRect(h.List1->item(5))));
        const std::unique_ptr<QStyle> drawnFor(QStyleFactory::create(QStringLiteral("Fusion")));
        QCOMPARE(h.Command1->palette().color(QPalette::Button),
                 drawnFor->standardPalette().color(QPalette::Button));
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::WindowStyleTest)
#include "window_style_test.moc"
