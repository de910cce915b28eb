#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <vector>

namespace velkor::test {

// Watches for modal message boxes while it lives, records what each showed and closes it with
// its default button, so that no test waits for a click.
class MessageBoxWatcher : public QObject {
  public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    MessageBoxWatcher();
    const std::vector<Seen>& seen() const { return seen_; }
    // For a test that answers a box itself: no box is closed until answering resumes.
    void answer(bool answering) { answering ? timer_.start() : timer_.stop(); }

  private:
    void poll();

    QTimer timer_;
    std::vector<Seen> seen_;
};

}  // namespace velkor::test
