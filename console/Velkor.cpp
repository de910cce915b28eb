// The console's program entry: the command line, the application, the running console, the
// main window over it (whose creation runs the start-up sequence), the hidden settings window,
// and the event loop until the main window closes. See kUsage for the command line.

#include <pwd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ComMainForm.h"
#include "CommandLine.h"
#include "ConsoleApplication.h"
#include "ErrorBox.h"
#include "U_Set_Form.h"
#include "Version.h"

namespace {

constexpr const char* kUsage =
    "usage: velkor [--workspace FOLDER] [--database DATABASE]\n"
    "\n"
    "The operator console of the Velkor QN704 screw-driving machine. It starts in the\n"
    "current directory, its workspace: KV.GDB (the job database), Morvel.INI (the\n"
    "production counter), journal, log/ and Job/ are found there; velkor-makedb\n"
    "--workspace makes one.\n"
    "\n"
    "  --workspace FOLDER   start in FOLDER instead of the current directory\n"
    "  --database DATABASE  the job database instead of KV.GDB in the workspace,\n"
    "                       such as server:/srv/velkor/KV.GDB\n"
    "  -h, --help           print this text and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "An option's value may also follow it after \"=\" (--database=DATABASE). Qt's own\n"
    "options (-platform, -style, -session, -display, -qwindowgeometry, ...) are taken\n"
    "as by any Qt program.\n";

// Qt's own options, which QApplication takes from the command line itself, as any Qt program
// does (a session manager restarts the console with -session): the console lets them through.
constexpr std::array kQtOptionsWithValue{"-platform",        "-platformpluginpath",
                                         "-platformtheme",   "-plugin",
                                         "-qwindowgeometry", "-qwindowicon",
                                         "-qwindowtitle",    "-geometry",
                                         "-title",           "-display",
                                         "-session",         "-style",
                                         "-stylesheet",      "-name",
                                         "-visual",          "-ncols",
                                         "-dialogs",         "-fontengine"};
constexpr std::array kQtFlags{"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync", "-cmap"};

// What the command line asks for; read before anything opens a window.
struct Invocation {
    velkor::ConsoleOptions options;
    std::optional<std::string> workspace;
    std::optional<int> exitAtOnce;  // --help, --version or a bad command line
};

Invocation readCommandLine(int argc, char** argv) {
    Invocation line;
    std::optional<std::string> database;
    velkor::CommandLine reader;
    reader.option("--database", database).option("--workspace", line.workspace);
    for (const char* qtOption : kQtOptionsWithValue) {
        reader.option(qtOption, [](const std::string&) { return true; });
    }
    bool qtFlag = false;
    for (const char* qtOption : kQtFlags) {
        reader.flag(qtOption, qtFlag);
    }
    const auto outcome = reader.read(std::vector<std::string>(argv + 1, argv + argc));
    line.exitAtOnce = velkor::answerCommandLine(outcome, "velkor", kUsage, velkor::kVersion);
    line.options.databaseString = std::move(database);
    return line;
}

// SIGTERM, SIGINT and SIGHUP (the terminal it was started from closed) close the main window
// the way the operator would, so that the shutdown sequence still saves the production counter
// when the workstation shuts down. They are blocked in every thread (the database engine's
// threads must never be interrupted by them) and read from a signal descriptor by the event
// loop instead.
int blockStopSignals() {
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    return signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Turns stop signals into closing the console. A signal that comes during start-up (which runs
// while the main window is made) ends start-up where it stands, closes an error box it shows,
// and then the window as soon as it exists.
class StopSignalHandler {
  public:
    StopSignalHandler(int signalDescriptor, velkor::Console& console) {
        if (signalDescriptor < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(signalDescriptor, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [this, signalDescriptor, &console] {
                             signalfd_siginfo info;
                             while (::read(signalDescriptor, &info, sizeof info) == sizeof info) {
                             }
                             requested_ = true;
                             console.stop();
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

// A session without a runtime directory (a service, a remote shell, a headless run) gets the
// one Qt would use, made as Qt makes it, so that Qt has nothing to warn about on standard
// error. Made after the engine's lock folder is chosen, which must not move with it.
void provideRuntimeDirectory() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        return;
    }
    const passwd* account = ::getpwuid(::geteuid());
    const std::string folder = "/tmp/runtime-" + (account != nullptr ? std::string(account->pw_name)
                                                                     : std::to_string(::geteuid()));
    ::mkdir(folder.c_str(), 0700);
    struct stat made {};
    if (::lstat(folder.c_str(), &made) == 0 && S_ISDIR(made.st_mode) &&
        made.st_uid == ::geteuid() && (made.st_mode & 0777U) == 0700U) {
        ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Invocation commandLine = readCommandLine(argc, argv);
    if (commandLine.exitAtOnce) {
        return *commandLine.exitAtOnce;
    }
    const int stopSignals = blockStopSignals();  // before any thread starts
    velkor::Console::prepareProcess();
    provideRuntimeDirectory();
    velkor::ConsoleApplication application(argc, argv);
    velkor::ConsoleOptions& options = commandLine.options;
    if (commandLine.workspace) {
        try {
            velkor::Console::enterWorkspace(*commandLine.workspace);
        } catch (...) {
            velkor::reportException(std::current_exception());
            velkor::Console::endProcess();
            return 1;
        }
    }

    const int exitCode = [&] {
        velkor::Console console(options);
        StopSignalHandler stopSignalHandler(stopSignals, console);
        velkor::TForm1 mainWindow(console);
        if (console.heldByAnotherConsole()) {
            return 1;  // it said so: one console per start-up directory
        }
        velkor::TSet_Form settingsWindow(console);
        mainWindow.setSettingsWindow(&settingsWindow);
        if (stopSignalHandler.watch(mainWindow)) {
            mainWindow.close();  // stopped during start-up: shut down at once
            return 0;
        }
        mainWindow.show();
        return application.exec();
    }();
    velkor::Console::endProcess();  // the window and its connection are gone by now
    return exitCode;
}
