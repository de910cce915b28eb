#include "ErrorBox.h"

#include <QMessageBox>
#include <utility>

#include "Text.h"

namespace velkor {

std::string errorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

namespace {
std::function<void(const std::string&)>& shownMessageObserver() {
    static std::function<void(const std::string&)> observer;
    return observer;
}
}  // namespace

void setShownMessageObserver(std::function<void(const std::string& message)> observer) {
    shownMessageObserver() = std::move(observer);
}

void noteShownMessage(const std::string& message) {
    if (shownMessageObserver()) {
        shownMessageObserver()(message);
    }
}

void showErrorBox(const std::string& message) {
    noteShownMessage(message);
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

}  // namespace velkor
