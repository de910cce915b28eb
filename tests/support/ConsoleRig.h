#pragma once

#include <gtest/gtest.h>

#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ComMainForm.h"
#include "Console.h"
#include "InProcessController.h"
#include "MemoryDatabase.h"
#include "MessageBoxWatcher.h"
#include "TestClock.h"
#include "Workspace.h"

namespace velkor::test {

// A window's control by its object name; a missing one fails the test.
template <typename Widget = QWidget>
Widget* control(const QObject& window, const char* name) {
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}
QString labelText(const QObject& window, const char* name);
// The scanner types a code and Enter wherever the keyboard focus is, in a few milliseconds.
void scanner(QWidget& window, const std::string& code);
// A code typed into the barcode field and Enter; returns once its dispatch is over.
void scan(TForm1& window, const std::string& barcode);
// The eight position fields' texts.
QStringList positionFields(const TForm1& window);

// One workstation as a test meets it, all in the test's process: a start-up directory of its
// own (made current, with Morvel.INI), the job database in memory with a site's machine
// variables, the controller behind the serial driver seam, a clock the test turns, and a
// watcher that answers the boxes shown. The console and its main window are made when first
// asked for; the window's creation runs start-up.
class ConsoleRig {
  public:
    static constexpr const char* kControllerPort = "/dev/ttyVELKOR-rig";

    struct Setup {
        // Rows of VARIABLES in place of a site's defaults or besides them; Port names the
        // controller's line unless given.
        std::vector<std::pair<std::string, std::string>> variables{};
        // The site's defaults left out: only `variables` (and Port) are there.
        bool onlyTheseVariables = false;
        std::optional<std::string> ini = counterIni(0);  // nothing: no Morvel.INI
        InProcessController::Options controller{};
        QStringList listedPorts{};  // the system's serial ports
        std::size_t eventLogLimit = EventLog::kDefaultLimit;
        // A driver of the test's own in place of the controller's line (a recording one).
        std::function<std::unique_ptr<SerialDriver>()> serialDriver{};
    };

    ConsoleRig();
    explicit ConsoleRig(Setup setup);
    ~ConsoleRig();
    ConsoleRig(const ConsoleRig&) = delete;
    ConsoleRig& operator=(const ConsoleRig&) = delete;

    ConsoleOptions options();
    Console& console();
    // The main window over the console; making it runs start-up, and the world goes on for a
    // moment.
    TForm1& window();
    // The console and its window end as when the program is killed (no shutdown); the next
    // console() starts anew on the same folder, database and line.
    void endWithoutShutdown();
    // The window is closed as the operator closes it (shutdown), and everything goes.
    void close();

    // A piece in the database with these hole positions (nothing: a hole without one).
    void addPiece(const std::string& barcode, std::vector<std::optional<double>> holes);
    // The commands the controller has taken, once the line has been quiet for longer than the
    // gap that ends a command.
    std::vector<std::string> commands();
    // What the event log holds.
    const std::vector<std::string> logLines() { return console().eventLog().lines(); }

    Workspace workspace;
    CurrentDirectory current{workspace.path()};
    TestClock clock;
    InProcessController controller;
    std::shared_ptr<MemoryDatabase::Contents> database =
        std::make_shared<MemoryDatabase::Contents>();
    MessageBoxWatcher boxes;

  private:
    std::optional<std::string> savedPortList_;
    std::function<std::unique_ptr<SerialDriver>()> serialDriver_;
    std::size_t eventLogLimit_;
    std::unique_ptr<Console> console_;
    std::unique_ptr<TForm1> window_;
};

}  // namespace velkor::test
