#include "Controls.h"

#include <QApplication>
#include <QScreen>
#include <algorithm>

namespace velkor {

void fitOnScreen(QWidget& window, QSize wanted, std::optional<QPoint> designPosition) {
    const QScreen* screen =
        window.screen() != nullptr ? window.screen() : QApplication::primaryScreen();
    if (screen == nullptr) {
        window.resize(wanted);
        return;
    }
    // Room for the frame and the title bar that a window manager adds around the window.
    const QRect room = screen->availableGeometry().adjusted(0, 0, -16, -40);
    const QSize size = wanted.boundedTo(room.size());
    window.resize(size);
    QPoint at =
        designPosition.value_or(room.center() - QPoint(size.width() / 2, size.height() / 2));
    at.setX(std::clamp(at.x(), room.left(), room.right() - size.width() + 1));
    at.setY(std::clamp(at.y(), room.top(), room.bottom() - size.height() + 1));
    window.move(at);
}

}  // namespace velkor
