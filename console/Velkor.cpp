// The console's program entry: the application, the main window (whose creation runs the
// start-up sequence), the hidden settings window, and the event loop until the main window
// closes.
//
//   velkor [--database DATABASE]
//
// DATABASE replaces KV.GDB in the start-up directory, for example "server:/srv/velkor/KV.GDB"
// for a job database on a Firebird server.

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#include <iostream>

#include "ComMainForm.h"
#include "ErrorBox.h"
#include "FirebirdSession.h"
#include "U_Set_Form.h"

namespace {

int stopSignalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(stopSignalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the main window the way the operator would, so that the shutdown
// sequence still saves the production counter when the workstation is shut down.
void closeOnStopSignals(QWidget& mainWindow) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, stopSignalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(stopSignalPipe[0], QSocketNotifier::Read, &mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainWindow, [&mainWindow, notifier] {
        char byte;
        [[maybe_unused]] const auto ignored = ::read(stopSignalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        mainWindow.close();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
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
    closeOnStopSignals(mainWindow);
    mainWindow.show();
    return application.exec();
}
