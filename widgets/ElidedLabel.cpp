#include "ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace velkor {

ElidedLabel::ElidedLabel(const QString& text, int widestWanted)
    : QLabel(text), widestWanted_(widestWanted) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize ElidedLabel::sizeHint() const {
    QSize size = QLabel::sizeHint();
    size.setWidth(std::min(size.width(), widestWanted_));
    return size;
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize size = QLabel::minimumSizeHint();
    size.setWidth(std::min(size.width(), fontMetrics().horizontalAdvance(QStringLiteral("0000"))));
    return size;
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    // Only the frame and the style sheet's background: the label's own text painting is
    // replaced by the elided text below.
    QFrame::paintEvent(event);  // NOLINT(bugprone-parent-virtual-call)
    QPainter painter(this);
    const QRect room = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
    style()->drawItemText(&painter, room, static_cast<int>(alignment()), palette(), isEnabled(),
                          shown, foregroundRole());
}

// The whole text is at hand as the tool tip whenever it has been cut short.
bool ElidedLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        setToolTip(fontMetrics().horizontalAdvance(text()) > contentsRect().width() ? text()
                                                                                    : QString());
    }
    return QLabel::event(event);
}

}  // namespace velkor
