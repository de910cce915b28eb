#pragma once

#include <QApplication>
#include <QTranslator>

namespace velkor {

// The console's application object: the last net for an exception that escapes an event
// handler without a guard. It is logged as the fault it is, shown in the standard error box,
// and the event loop goes on.
class ConsoleApplication : public QApplication {
  public:
    ConsoleApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

  private:
    QTranslator qtTexts_;
};

}  // namespace velkor
