#include "window/arrow_pair.h"

#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>

namespace vindelor {
namespace {

// Room around the arrows for the frame that shows the focus.
constexpr int kFrameWidth = 1;

QToolButton* makeArrow(Qt::ArrowType direction, QWidget* parent) {
    auto* arrow = new QToolButton(parent);
    arrow->setArrowType(direction);
    arrow->setAutoRepeat(true);
    arrow->setFocusPolicy(Qt::NoFocus);
    return arrow;
}

}  // namespace

ArrowPair::ArrowPair(QWidget* parent)
    : QWidget(parent), up_(makeArrow(Qt::UpArrow, this)), down_(makeArrow(Qt::DownArrow, this)) {
    connect(up_, &QToolButton::clicked, this, &ArrowPair::upArrowClicked);
    connect(down_, &QToolButton::clicked, this, &ArrowPair::downArrowClicked);

    setFocusPolicy(Qt::TabFocus);
}

QAbstractButton* ArrowPair::upArrow() const {
    return up_;
}

QAbstractButton* ArrowPair::downArrow() const {
    return down_;
}

void ArrowPair::setAccessibleNames(const QString& pair, const QString& up, const QString& down) {
    setAccessibleName(pair);
    up_->setAccessibleName(up);
    down_->setAccessibleName(down);
}

void ArrowPair::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        up_->click();
    } else if (event->key() == Qt::Key_Down) {
        down_->click();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void ArrowPair::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor frame =
        hasFocus() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Dark);
    painter.setPen(frame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ArrowPair::resizeEvent(QResizeEvent*) {
    const QRect inside = rect().adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);
    const int upHeight = inside.height() / 2;
    up_->setGeometry(inside.x(), inside.y(), inside.width(), upHeight);
    down_->setGeometry(inside.x(), inside.y() + upHeight, inside.width(),
                       inside.height() - upHeight);
}

void ArrowPair::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void ArrowPair::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

}  // namespace vindelor
