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

#include <QApplication>
#include <QSocketNotifier>
#include <iostream>
#include <memory>

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

// Turns stop signals into closing the console. A signal that comes while start-up shows an
// error box closes the box and then the window as soon as it exists.
class StopSignalHandler {
  public:
    explicit StopSignalHandler(int signalDescriptor) {
        if (signalDescriptor < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(signalDescriptor, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, signalDescriptor] {
            signalfd_siginfo info;
            while (::read(signalDescriptor, &info, sizeof info) == sizeof info) {
            }
            requested_ = true;
            closeModalBoxes();
            if (mainWindow_ != nullptr) {
                mainWindow_->close();
            }
        });
    }

    // From now on a stop closes this window; true when a stop came already.
    bool watch(QWidget& mainWindow) {
        mainWindow_ = &mainWindow;
        return requested_;
    }

  private:
    static void closeModalBoxes() {
        for (int i = 0; i < 16 && QApplication::activeModalWidget() != nullptr; ++i) {
            QApplication::activeModalWidget()->close();
        }
    }

    std::unique_ptr<QSocketNotifier> notifier_;
    QWidget* mainWindow_ = nullptr;
    bool requested_ = false;
};

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

    const int exitCode = [&] {
        StopSignalHandler stopSignalHandler(stopSignals);
        velkor::TForm1 mainWindow(options);
        velkor::TSet_Form settingsWindow(mainWindow.state(), mainWindow.port(),
                                         mainWindow.database());
        mainWindow.setSettingsWindow(&settingsWindow);
        if (stopSignalHandler.watch(mainWindow)) {
            mainWindow.close();  // stopped during start-up: shut down at once
            return 0;
        }
        mainWindow.show();
        return application.exec();
    }();
    velkor::shutDownFirebirdEngine();  // the window and its connection are gone by now
    return exitCode;
}
