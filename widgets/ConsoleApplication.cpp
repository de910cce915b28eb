#include "ConsoleApplication.h"

#include <QLibraryInfo>
#include <QLocale>

#include "ErrorBox.h"
#include "Logging.h"

namespace velkor {
namespace {

QtMessageHandler qtsOwnHandler = nullptr;

// A platform without a window manager (the offscreen one of a headless run) cannot hand a
// window's size limits on, and Qt says so each time a window with limits is shown: nothing is
// wrong, and nobody is to be alarmed on standard error. Everything else goes on as Qt has it.
void passOnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support "
                                                         "propagateSizeHints()")) {
        return;
    }
    qtsOwnHandler(type, context, message);
}

}  // namespace

ConsoleApplication::ConsoleApplication(int& argc, char** argv) : QApplication(argc, argv) {
    if (qtsOwnHandler == nullptr) {
        qtsOwnHandler = qInstallMessageHandler(passOnMessage);
    }
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
