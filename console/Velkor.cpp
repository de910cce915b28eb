// The console's program entry: the application, the main window (whose creation runs the
// start-up sequence), the hidden settings window, and the event loop until the main window
// closes.
//
//   velkor [--database DATABASE]
//
// DATABASE replaces KV.GDB in the start-up directory, for example "server:/srv/velkor/KV.GDB"
// for a job database on a Firebird server.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <iostream>

#include "ComMainForm.h"
#include "ErrorBox.h"
#include "FirebirdSession.h"
#include "U_Set_Form.h"

namespace {

// SIGTERM and SIGINT close the main window the way the operator would, so that the shutdown
// sequence still saves the production counter when the workstation shuts down. They are
// blocked in every thread (the database engine's threads must never be interrupted by them)
// and read from a signal descriptor by the event loop instead.
int blockStopSignals() {
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    return signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
}

void closeOnStopSignals(int signalDescriptor, QWidget& mainWindow) {
    if (signalDescriptor < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalDescriptor, QSocketNotifier::Read, &mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainWindow,
                     [signalDescriptor, &mainWindow] {
                         signalfd_siginfo info;
                         while (::read(signalDescriptor, &info, sizeof info) == sizeof info) {
                         }
                         mainWindow.close();
                     });
}

}  // namespace

int main(int argc, char** argv) {
    const int stopSignals = blockStopSignals();  // before any thread starts
    velkor::prepareFirebirdEnvironment();
    velkor::ConsoleApplication application(argc, argv);

    velkor::ConsoleOptions options;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--database") && i + 1 < arguments.size()) {
            options.databaseString = arguments[++i].toStdString();
        } else {
            std::cerr << "usage: velkor [--database DATABASE]\n";
            return 2;
        }
    }

    velkor::TForm1 mainWindow(options);
    velkor::TSet_Form settingsWindow(mainWindow.state());
    closeOnStopSignals(stopSignals, mainWindow);
    mainWindow.show();
    return application.exec();
}
