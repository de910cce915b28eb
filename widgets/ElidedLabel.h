#pragma once

#include <QLabel>

namespace velkor {

// A label whose text never makes its window wider: a text that does not fit is drawn cut short
// with "…" (text() and the tool tip keep all of it), and the label asks for no more room than
// `widestWanted` pixels.
class ElidedLabel : public QLabel {
  public:
    ElidedLabel(const QString& text, int widestWanted);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    int widestWanted_;
};

}  // namespace velkor
