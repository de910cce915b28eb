// The controller's line as a site has it: boot messages larger than the kernel's queue, and a
// controller that goes away (a cable pulled, an adapter unplugged, the machine switched off)
// and comes back on the same port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <thread>

#include "ComMainForm.h"
#include "JobRowWriter.h"
#include "MessageBoxWatcher.h"
#include "PseudoTerminal.h"
#include "RecordingDriver.h"
#include "SimulatorProcess.h"
#include "Text.h"
#include "U_Set_Form.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

QString text(TForm1& window, const char* label) {
    return window.findChild<QLabel*>(QString::fromLatin1(label))->text();
}

// The window's own line settings, as they reach the device when start-up opens the port.
TEST(Line, StartUpOpensTheControllersLineWithTheConsolesSettings) {
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    workspace.createDatabase({{"Port", "ttyCONTROLLER"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    test::RecordingDriver::Log log;
    test::MessageBoxWatcher boxes;
    TForm1 window({.serialDriver = test::RecordingDriver::factory(log)});
    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_GE(log.calls.size(), 4u);
    // Queue sizes, line state and timeouts, in that order; -1 read interval means "largest".
    EXPECT_EQ(std::vector<std::string>(log.calls.begin(), log.calls.begin() + 4),
              (std::vector<std::string>{"open ttyCONTROLLER", "queues 1024 1024", "line state",
                                        "timeouts"}));
    ASSERT_EQ(log.lineStates.size(), 1u);
    const LineState& state = log.lineStates[0];
    EXPECT_EQ(state.length, 28u);
    EXPECT_EQ(state.flags, 0x0811u);
    EXPECT_EQ(state.baudRate, 115200u);
    EXPECT_EQ(state.byteSize, 8);
    EXPECT_EQ(state.parity, 0);
    EXPECT_EQ(state.stopBits, 0);
    EXPECT_EQ(state.xonLimit, 256);
    EXPECT_EQ(state.xoffLimit, 256);
    EXPECT_EQ(window.console().port().FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(log.timeouts[0], (TimeoutSettings{0xFFFFFFFF, 0, 0, 100, 1000}));
    EXPECT_EQ(log.written, "CLR_CNT");
}

// What the controller sends reaches the counter; a command whose write fails is shown in the
// error box where the operator gave it, and the next one goes out as if nothing had happened.
TEST(Line, AFailedWriteIsShownWhereTheCommandWasGivenAndTheConsoleGoesOn) {
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    workspace.createDatabase({{"Port", "ttyCONTROLLER"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=5\r\n");
    test::RecordingDriver::Log log;
    log.waitForBytes = true;
    test::MessageBoxWatcher boxes;
    TForm1 window({.serialDriver = test::RecordingDriver::factory(log)});
    ASSERT_TRUE(boxes.seen().empty());

    log.receive("<GET_ALL;CNT=2;setOut=1;>");
    EXPECT_TRUE(test::waitUntil([&] { return text(window, "Label_CNT") == QStringLiteral("7"); }))
        << text(window, "Label_CNT").toStdString();
    EXPECT_EQ(window.console().state().outputState, 1);

    auto* show = window.findChild<QPushButton*>(QStringLiteral("SpeedButton2"));
    log.failWrites = EIO;
    QTest::mouseClick(show, Qt::LeftButton);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text.toStdString(), "WriteFile function failed (Error: 5)");
    EXPECT_EQ(window.console().state().showRequest, 0);  // the request never went out

    log.failWrites = 0;
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(log.writtenSoFar(), "CLR_CNTGET_ALL");
    EXPECT_EQ(window.console().state().showRequest, 1);
    EXPECT_EQ(boxes.seen().size(), 1u);
}

TEST(Line, AStateReportAfterBootMessagesLargerThanTheKernelsQueueIsStillCounted) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    TForm1 window;
    ASSERT_EQ(controller.read(7), "CLR_CNT");
    std::thread boot([&] {
        try {
            controller.write(std::string(8 * 1024, 'b') + "<GET_ALL;CNT=5;setOut=0;>", 5000);
        } catch (const std::runtime_error&) {
            // the console stopped reading: the wait below fails
        }
    });
    EXPECT_TRUE(test::waitUntil([&] { return text(window, "Label_CNT") == "105"; }));
    boot.join();
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=105\r\n");
}

// The controller's port is a link that its simulator makes anew each time it starts, as a
// replugged adapter comes back under the same name.
class LineLoss : public ::testing::Test {
  protected:
    LineLoss() {
        controller.emplace(workspace.file("first.log"), linkOption());
        workspace.createDatabase({{"Port", link}, {"L_upor", "0"}, {"Qty_Imp_mm", "10"}});
        workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
        JobDatabase db;
        db.connect(workspace.file("KV.GDB"));
        JobRowWriter rows(db);
        const auto piece = rows.insertPiece(
            rows.insertBatch("T"), {"1000.0", "45.0", "45.0", "1", "1", "1", "7", std::nullopt});
        rows.insertHole(piece, "1", "100");
        rows.commit();
    }

    QStringList linkOption() const {
        return {QStringLiteral("--link"), QString::fromStdString(link)};
    }

    // The controller dies at once (kill -9) and its link goes with it, as the node of a pulled
    // adapter does; a stale link could later lead to a pseudo-terminal of another program.
    void unplug() {
        controller->kill();
        std::filesystem::remove(link);
    }

    void scan(TForm1& window) {
        auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
        QTest::keyClicks(edit, QStringLiteral("7"));
        QTest::keyClick(edit, Qt::Key_Return);
    }

    std::vector<std::string> logLinesWith(TForm1& window, const char* words) {
        std::vector<std::string> found;
        for (const std::string& line : window.console().state().eventLog.lines()) {
            if (line.find(cp1251(words)) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::MessageBoxWatcher boxes;
    const std::string link = workspace.file("ttyController");
    std::optional<test::Simulator> controller;
};

TEST_F(LineLoss, TheConsoleNoticesTheLossAndIsBackWithoutAClick) {
    TForm1 window;
    TSet_Form settings(window.console());
    window.show();
    const QString connected = QString::fromStdString("Порт " + link + ": открыт");
    EXPECT_EQ(text(window, "Label_Line"), connected);

    unplug();
    ASSERT_TRUE(
        test::waitUntil([&] { return window.console().port().LineStatus() == TLineStatus::Lost; }));
    EXPECT_TRUE(text(window, "Label_Line").contains(QString::fromUtf8("связь потеряна")))
        << text(window, "Label_Line").toStdString();
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("Label_Port"))->text(),
              QString::fromStdString(link + ": связь потеряна, переподключение"));
    // A scan while the line is lost: one box that says so, and nothing else happens.
    scan(window);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(QString::fromUtf8("Связь с контроллером потеряна")))
        << boxes.seen()[0].text.toStdString();

    controller.emplace(workspace.file("second.log"), linkOption());
    ASSERT_TRUE(test::waitUntil([&] { return window.console().port().Connected(); }))
        << window.console().port().ReconnectError();
    EXPECT_EQ(text(window, "Label_Line"), connected);
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("Label_Port"))->text(),
              QString::fromStdString(link + ": открыт"));
    EXPECT_EQ(logLinesWith(window, "потеряна").size(), 1u);
    EXPECT_EQ(logLinesWith(window, "восстановлена").size(), 1u);
    scan(window);
    EXPECT_EQ(controller->commandsOnceThereAre(1), std::vector<std::string>{"R_POS1000"});
    EXPECT_EQ(boxes.seen().size(), 1u);
}

TEST_F(LineLoss, AConfirmedSendThatIsWaitingGoesOnOnceTheLineIsBack) {
    TForm1 window;
    unplug();
    ASSERT_TRUE(
        test::waitUntil([&] { return window.console().port().LineStatus() == TLineStatus::Lost; }));
    // The mode toggle waits for the line inside its click; the controller comes back meanwhile.
    test::whenTrue([&] { return window.console().confirmedSender().running(); },
                   [&] { controller.emplace(workspace.file("second.log"), linkOption()); });
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Button_Lamin")),
                      Qt::LeftButton);
    EXPECT_EQ(window.console().state().eventLog.lines().back(), "IMPORT lam!!!");
    EXPECT_EQ(controller->commands().front(), "Lamin1");
    EXPECT_TRUE(boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
