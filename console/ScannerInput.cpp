#include "ScannerInput.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

namespace velkor {

ScannerInput::ScannerInput(QWidget& window, QLineEdit& barcodeField, std::vector<QWidget*> ownRules,
                           std::function<void(const QString& scan)> scanned, const Clock& clock)
    : window_(window),
      barcodeField_(barcodeField),
      ownRules_(std::move(ownRules)),
      scanned_(std::move(scanned)),
      clock_(clock) {
    qApp->installEventFilter(this);
    // Whatever the dialog was (a message box, the password, the file dialog), the scanner's
    // next code belongs in the barcode field.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (old != nullptr && now != nullptr && qobject_cast<QDialog*>(old->window()) != nullptr &&
            now->window() == &window_ && now != &barcodeField_ &&
            std::find(ownRules_.begin(), ownRules_.end(), now) == ownRules_.end()) {
            barcodeField_.setFocus();
        }
    });
}

ScannerInput::~ScannerInput() {
    qApp->removeEventFilter(this);
}

bool ScannerInput::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
        return false;
    }
    auto* receiver = static_cast<QWidget*>(watched);
    QWidget* window = receiver->window();
    // A key event reaches the focus widget (the window itself when none has the focus yet) and,
    // unhandled, its parents: look at it once.
    QWidget* focused = window->focusWidget();
    if (receiver != (focused != nullptr ? focused : window)) {
        return false;
    }
    if (window != &window_ && qobject_cast<QMessageBox*>(window) == nullptr) {
        return false;  // another window (the settings) keeps its keys
    }
    return takeKey(receiver, static_cast<QKeyEvent*>(event));
}

// True when the key is the end of a scan that this filter takes.
bool ScannerInput::takeKey(QWidget* receiver, QKeyEvent* key) {
    const Clock::TimePoint now = clock_.now();
    const bool quick = now - lastKey_ <= kLongestPause;
    if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control || key->key() == Qt::Key_Alt) {
        return false;  // a scanner presses Shift for capitals
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        const bool scan = quick && burst_.size() >= kShortestScan && burstInto_ == receiver;
        if (!scan) {
            burst_.clear();
            return false;
        }
        endOfScan(receiver);
        return receiver != &barcodeField_ &&
               std::find(ownRules_.begin(), ownRules_.end(), receiver) == ownRules_.end();
    }
    const QString text = key->text();
    if (text.size() != 1 || !text.front().isPrint() ||
        (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        burst_.clear();  // a person editing
        return false;
    }
    if (!quick || burstInto_ != receiver) {
        burst_.clear();
        burstInto_ = receiver;
        if (auto* edit = qobject_cast<QLineEdit*>(receiver)) {
            textBefore_ = edit->text();
            cursorBefore_ = edit->cursorPosition();
        }
    }
    burst_ += text;
    lastKey_ = now;
    return false;
}

// The burst was a scan. Where it landed decides what becomes of it.
void ScannerInput::endOfScan(QWidget* receiver) {
    const QString scan = burst_;
    burst_.clear();
    if (receiver == &barcodeField_ ||
        std::find(ownRules_.begin(), ownRules_.end(), receiver) != ownRules_.end()) {
        return;  // typed where it belongs: the edit's own Enter takes it
    }
    if (auto* box = qobject_cast<QMessageBox*>(receiver->window())) {
        takeAfterItCloses(box, scan);
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(receiver)) {
        edit->setText(textBefore_);  // not the operator's correction: undone
        edit->setCursorPosition(cursorBefore_);
    }
    barcodeField_.setFocus();
    // Once this key has been delivered: the scan's dispatch waits in pauses of its own.
    QTimer::singleShot(0, this, [this, scan] { scanned_(scan); });
}

void ScannerInput::takeAfterItCloses(QDialog* box, const QString& scan) {
    connect(
        box, &QDialog::finished, this,
        [this, scan] { QTimer::singleShot(0, this, [this, scan] { scanned_(scan); }); },
        Qt::SingleShotConnection);
}

}  // namespace velkor
