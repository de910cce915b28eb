#include "ErrorBox.h"

#include <QMessageBox>
#include <utility>

#include "Logging.h"
#include "Text.h"

namespace velkor {

std::string errorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void showErrorBox(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle),
                    fromCp1251(errorBoxText(message)), QMessageBox::Ok);
    box.exec();
}

void reportException(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        showErrorBox(e.what());
    } catch (...) {
        showErrorBox("Unknown error");
    }
}

ConsoleApplication::ConsoleApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kApplicationTitle));
}

bool ConsoleApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        qCCritical(lcConsole, "an exception escaped an unguarded handler of %s",
                   receiver != nullptr ? receiver->metaObject()->className() : "nothing");
        reportException(std::current_exception());
        return true;
    }
}

}  // namespace velkor
