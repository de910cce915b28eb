#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

#include "Clock.h"

class QDialog;
class QKeyEvent;
class QLineEdit;
class QWidget;

namespace velkor {

// The barcode scanner types like a keyboard into whatever has the focus, only faster than a
// person: a burst of characters, then Enter. This filter keeps such bursts for the barcode
// field wherever in the main window they land. One that lands in another edit of the window (a
// position field the operator corrected by hand) leaves the edit as it was and is taken as a
// scan; one that lands in a message box leaves the box open for the operator to read and is
// taken once the box is closed. The barcode field itself, and the edits in `ownRules` (the
// handle position, whose Enter sends it), keep what they are typed. After a dialog closes the
// keyboard goes back to the barcode field.
class ScannerInput : public QObject {
  public:
    // A person needs far longer between two keys; a scanner sends its characters faster.
    static constexpr std::chrono::milliseconds kLongestPause{35};
    static constexpr int kShortestScan = 4;

    // Keys are timed on `clock`.
    ScannerInput(QWidget& window, QLineEdit& barcodeField, std::vector<QWidget*> ownRules,
                 std::function<void(const QString& scan)> scanned, const Clock& clock);
    ~ScannerInput() override;
    ScannerInput(const ScannerInput&) = delete;
    ScannerInput& operator=(const ScannerInput&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool takeKey(QWidget* receiver, QKeyEvent* key);
    void endOfScan(QWidget* receiver);
    void takeAfterItCloses(QDialog* box, const QString& scan);

    QWidget& window_;
    QLineEdit& barcodeField_;
    std::vector<QWidget*> ownRules_;
    std::function<void(const QString&)> scanned_;

    QString burst_;                // characters that came as fast as a scanner sends them
    QPointer<QWidget> burstInto_;  // where they went
    QString textBefore_;           // the edit's text before they came
    int cursorBefore_ = 0;
    Clock::TimePoint lastKey_{};  // when the last of them came
    const Clock& clock_;
};

}  // namespace velkor
