#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>
#include <memory>

#include "tests/window/window_harness.h"
#include "window/window_style.h"

namespace vindelor {
namespace {

// QLineEdit keeps this much room on either side of its text, inside the style's contents rect.
constexpr int kLineEditSideMargin = 2;

bool captionFits(const QPushButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const QRect contents =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    const QSize text = button.fontMetrics().size(Qt::TextShowMnemonic, button.text());
    return text.width() <= contents.width() && text.height() <= contents.height();
}

bool textFits(const QLineEdit& box) {
    QStyleOptionFrame option;
    option.initFrom(&box);
    option.lineWidth = box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &box);
    const QRect contents = box.style()->subElementRect(QStyle::SE_LineEditContents, &option, &box);
    const QSize text = box.fontMetrics().size(0, box.text());
    return text.width() + 2 * kLineEditSideMargin <= contents.width() &&
           text.height() <= contents.height();
}

}  // namespace

// The window under the look a desktop may set for Qt programs: a style of its own, a large
// font and dark colours. The controls' places were drawn for one look, which pinWindowLook()
// must bring back.
class WindowStyleTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlShowsWholeWhateverLookTheDesktopSets_data() {
        QTest::addColumn<QString>("desktopStyle");
        QTest::addColumn<int>("desktopFontPixels");
        QTest::newRow("Windows style, 20 px font") << "Windows" << 20;
        QTest::newRow("Fusion style, 20 px font") << "Fusion" << 20;
    }

    void everyControlShowsWholeWhateverLookTheDesktopSets() {
        QFETCH(QString, desktopStyle);
        QFETCH(int, desktopFontPixels);
        QVERIFY(QApplication::setStyle(desktopStyle) != nullptr);
        QFont desktopFont = QApplication::font();
        desktopFont.setPixelSize(desktopFontPixels);
        QApplication::setFont(desktopFont);
        QApplication::setPalette(QPalette(QColor(45, 45, 45)));

        pinWindowLook();
        WindowHarness h;
        h.open();

        QVERIFY2(!h.List1->verticalScrollBar()->isVisible() &&
                     !h.List1->horizontalScrollBar()->isVisible(),
                 "the meter list shows no scroll bar");
        for (int row = 0; row < h.List1->count(); ++row) {
            QVERIFY2(
                h.List1->viewport()->rect().contains(h.List1->visualItemRect(h.List1->item(row))),
                qPrintable(QStringLiteral("row %1 of the meter list shows whole").arg(row)));
        }
        QVERIFY2(captionFits(*h.Command1), qPrintable(h.Command1->text()));
        QVERIFY2(captionFits(*h.Command2), qPrintable(h.Command2->text()));
        QVERIFY2(textFits(*h.Text1), qPrintable(h.Text1->text()));
        h.clickStart();
        QVERIFY2(captionFits(*h.Command1), qPrintable(h.Command1->text()));

        const std::unique_ptr<QStyle> drawnFor(QStyleFactory::create(QStringLiteral("Fusion")));
        QCOMPARE(h.Command1->palette().color(QPalette::Button),
                 drawnFor->standardPalette().color(QPalette::Button));
    }
};

}  // namespace vindelor

QTEST_MAIN(vindelor::WindowStyleTest)
#include "window_style_test.moc"
