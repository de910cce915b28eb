#include "ErrorBox.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <algorithm>
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

ConsoleApplication::ConsoleApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kApplicationTitle));
    // The console speaks Russian whatever the account's locale: Qt's own texts too (the file
    // dialog, Cancel, the edits' context menus), from Qt's Russian translation.
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (qtTexts_.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                      translations)) {
        installTranslator(&qtTexts_);
    } else {
        qCWarning(lcConsole,
                  "Qt's Russian translation (qtbase_ru.qm) is not in %s: Qt's own "
                  "texts stay English",
                  qPrintable(translations));
    }
}

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
