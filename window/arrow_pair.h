#pragma once

#include <QWidget>

class QAbstractButton;
class QToolButton;

namespace vindelor {

// Two arrow buttons stacked in the widget's own size, up above down. A press on an arrow (held,
// it repeats) raises upArrowClicked() or downArrowClicked(). The pair is one stop in the tab
// order; while it has the focus its frame is highlighted and the Up and Down keys press the
// arrows. A click on an arrow leaves the focus where it was.
class ArrowPair : public QWidget {
    Q_OBJECT

  public:
    explicit ArrowPair(QWidget* parent = nullptr);

    QAbstractButton* upArrow() const;
    QAbstractButton* downArrow() const;

    // Names the pair and its two arrows for screen readers.
    void setAccessibleNames(const QString& pair, const QString& up, const QString& down);

  signals:
    void upArrowClicked();
    void downArrowClicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace vindelor
