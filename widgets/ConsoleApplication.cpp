#include "ConsoleApplication.h"

#include <QLibraryInfo>
#include <QLocale>

#include "ErrorBox.h"
#include "Logging.h"

namespace velkor {

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
