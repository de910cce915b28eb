#include "ConsoleRig.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdlib>

#include "ComPortList.h"
#include "Text.h"

namespace velkor::test {

QString labelText(const QObject& window, const char* name) {
    return control<QLabel>(window, name)->text();
}

void scanner(QWidget& window, const std::string& code) {
    QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    QTest::keyClicks(target, QString::fromStdString(code));
    QTest::keyClick(target, Qt::Key_Return);
}

void scan(TForm1& window, const std::string& barcode) {
    auto* edit = control<QLineEdit>(window, "Edit_BarCode");
    QTest::keyClicks(edit, QString::fromStdString(barcode));
    QTest::keyClick(edit, Qt::Key_Return);
}

QStringList positionFields(const TForm1& window) {
    QStringList texts;
    for (const char* name :
         {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8"}) {
        texts << control<QLineEdit>(window, name)->text();
    }
    return texts;
}

ConsoleRig::ConsoleRig() : ConsoleRig(Setup{}) {}

ConsoleRig::ConsoleRig(Setup setup)
    : controller(clock, kControllerPort, setup.controller),
      serialDriver_(setup.serialDriver ? setup.serialDriver : controller.driverFactory()),
      eventLogLimit_(setup.eventLogLimit) {
    const auto isPort = [](const auto& row) { return row.first == "Port"; };
    auto variables =
        setup.onlyTheseVariables ? setup.variables : Workspace::siteVariables(setup.variables);
    if (std::none_of(setup.variables.begin(), setup.variables.end(), isPort)) {
        std::erase_if(variables, isPort);
        variables.emplace_back("Port", kControllerPort);
    }
    for (const auto& [key, value] : variables) {
        database->variables.push_back({utf8ToCp1251(key), utf8ToCp1251(value)});
    }
    if (setup.ini) {
        workspace.writeFile("Morvel.INI", *setup.ini);
    }
    if (const char* saved = std::getenv(kSerialPortsVariable)) {
        savedPortList_ = saved;
    }
    ::setenv(kSerialPortsVariable, setup.listedPorts.join(u':').toLocal8Bit().constData(), 1);
}

ConsoleRig::~ConsoleRig() {
    window_.reset();
    console_.reset();
    if (savedPortList_) {
        ::setenv(kSerialPortsVariable, savedPortList_->c_str(), 1);
    } else {
        ::unsetenv(kSerialPortsVariable);
    }
}

ConsoleOptions ConsoleRig::options() {
    ConsoleOptions options;
    options.database = MemoryDatabase::factory(database);
    options.recordBook = MemoryDatabase::recordBooks(database);
    options.recordRetry = std::chrono::milliseconds(20);
    options.serialDriver = serialDriver_;
    options.clock = &clock;
    options.eventLogLimit = eventLogLimit_;
    return options;
}

Console& ConsoleRig::console() {
    if (!console_) {
        console_ = std::make_unique<Console>(options());
    }
    return *console_;
}

TForm1& ConsoleRig::window() {
    if (!window_) {
        window_ = std::make_unique<TForm1>(console());
        // Nobody clicks within a command's quiet gap of the window coming up.
        clock.run(std::chrono::milliseconds(100));
    }
    return *window_;
}

void ConsoleRig::endWithoutShutdown() {
    window_.reset();
    console_.reset();
}

void ConsoleRig::close() {
    if (window_) {
        window_->close();
    } else if (console_) {
        console_->shutDown();
    }
    endWithoutShutdown();
}

void ConsoleRig::addPiece(const std::string& barcode, std::vector<std::optional<double>> holes) {
    database->pieces[barcode] = std::move(holes);
}

std::vector<std::string> ConsoleRig::commands() {
    clock.run(std::chrono::milliseconds(50));
    return controller.commands();
}

}  // namespace velkor::test
