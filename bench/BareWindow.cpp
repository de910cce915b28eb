// The least a Qt Widgets window of this kind costs, built with the console's compiler, flags and
// Qt: a main window with a line edit (which has the keyboard) and a status bar. The window
// benchmark starts it beside the console and types into it through the X server the same way.
//
//   velkor_bare_window [DEVICE]
//
// With DEVICE (opened once at start, write only), Enter in the line edit writes "R_POS0" to it
// at once: the shortest way from a key to a byte on a line.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QStatusBar>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int device = -1;
    if (argc > 1) {
        device = ::open(argv[1], O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (device < 0) {
            std::perror(argv[1]);
            return 1;
        }
    }
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("velkor bare window"));
    auto* edit = new QLineEdit(&window);
    window.setCentralWidget(edit);
    window.statusBar()->showMessage(QStringLiteral("ready"));
    if (device >= 0) {
        QObject::connect(edit, &QLineEdit::returnPressed, [device] {
            static const char kCommand[] = "R_POS0";
            if (::write(device, kCommand, sizeof kCommand - 1) < 0) {
                std::perror("write");
            }
        });
    }
    edit->setFocus();
    window.show();
    const int status = QApplication::exec();
    if (device >= 0) {
        ::close(device);
    }
    return status;
}
