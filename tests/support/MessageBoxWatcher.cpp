#include "MessageBoxWatcher.h"

#include <QApplication>

namespace velkor::test {

MessageBoxWatcher::MessageBoxWatcher() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    timer_.start();
}

void MessageBoxWatcher::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
        return;
    }
    seen_.push_back({box->windowTitle(), box->text(), box->icon()});
    box->done(QMessageBox::Ok);
}

}  // namespace velkor::test
