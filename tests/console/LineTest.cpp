// The controller's line as a site has it: the console's line settings, writes that fail, boot
// messages in one burst, and a controller that goes away (a cable pulled, an adapter unplugged,
// the machine switched off) and comes back on the same port.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>
#include <cerrno>

#include "ConsoleRig.h"
#include "RecordingDriver.h"
#include "Text.h"
#include "U_Set_Form.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::ConsoleRig;

// The window's own line settings, as they reach the device when start-up opens the port.
TEST(Line, StartUpOpensTheControllersLineWithTheConsolesSettings) {
    test::RecordingDriver::Log log;
    ConsoleRig rig({.variables = {{"Port", "ttyCONTROLLER"}},
                    .serialDriver = test::RecordingDriver::factory(log)});
    rig.window();
    EXPECT_TRUE(rig.boxes.seen().empty());
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
    EXPECT_EQ(rig.console().lineChoices().flowControl, fcNone);
    EXPECT_EQ(log.timeouts[0], (TimeoutSettings{0xFFFFFFFF, 0, 0, 100, 1000}));
    EXPECT_EQ(log.written, "CLR_CNT");
}

// What the controller sends reaches the counter; a command whose write fails is shown in the
// error box where the operator gave it, and the next one goes out as if nothing had happened.
TEST(Line, AFailedWriteIsShownWhereTheCommandWasGivenAndTheConsoleGoesOn) {
    ConsoleRig rig({.ini = test::counterIni(5), .controller = {.silent = true}});
    TForm1& window = rig.window();
    ASSERT_TRUE(rig.boxes.seen().empty());
    rig.controller.send("<GET_ALL;CNT=2;setOut=1;>");
    EXPECT_EQ(test::labelText(window, "Label_CNT"), QStringLiteral("7"));
    EXPECT_EQ(rig.console().outputState(), 1);

    auto* show = test::control<QPushButton>(window, "SpeedButton2");
    rig.controller.failWrites(EIO);
    QTest::mouseClick(show, Qt::LeftButton);
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text.toStdString(), "WriteFile function failed (Error: 5)");
    rig.controller.send("<GET_ALL;CNT=3;setOut=1;>");  // the request never went out: not shown
    EXPECT_EQ(rig.logLines().size(), 1u);

    rig.controller.failWrites(0);
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(rig.commands(), (std::vector<std::string>{"CLR_CNT", "GET_ALL"}));
    rig.controller.send("<GET_ALL;CNT=4;setOut=1;>");
    EXPECT_EQ(rig.logLines().back(), "GET_ALL;CNT=4;setOut=1;");
    EXPECT_EQ(rig.boxes.seen().size(), 1u);
}

TEST(Line, AStateReportAfterBootMessagesInOneLargeBurstIsStillCounted) {
    ConsoleRig rig({.ini = test::counterIni(100), .controller = {.silent = true}});
    TForm1& window = rig.window();
    rig.controller.send(std::string(64 * 1024, 'b') + "<GET_ALL;CNT=5;setOut=0;>");
    EXPECT_EQ(test::labelText(window, "Label_CNT"), QStringLiteral("105"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(105));
}

// A controller with one piece to scan.
class LineLoss : public ::testing::Test {
  protected:
    LineLoss() { rig.addPiece("7", {100.0}); }

    std::vector<std::string> logLinesWith(const char* words) {
        std::vector<std::string> found;
        for (const std::string& line : rig.logLines()) {
            if (line.find(cp1251(words)) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    ConsoleRig rig{{.variables = {{"L_upor", "0"}, {"Qty_Imp_mm", "10"}}}};
};

TEST_F(LineLoss, TheConsoleNoticesTheLossAndIsBackWithoutAClick) {
    TForm1& window = rig.window();
    TSet_Form settings(rig.console());
    window.show();
    const QString connected =
        QString::fromStdString(std::string("Порт ") + ConsoleRig::kControllerPort + ": открыт");
    EXPECT_EQ(test::labelText(window, "Label_Line"), connected);

    rig.controller.pull();
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Lost);
    EXPECT_TRUE(test::labelText(window, "Label_Line").contains(QString::fromUtf8("связь потеряна")))
        << test::labelText(window, "Label_Line").toStdString();
    EXPECT_EQ(test::labelText(settings, "Label_Port"),
              QString::fromStdString(std::string(ConsoleRig::kControllerPort) +
                                     ": связь потеряна, переподключение"));
    // A scan while the line is lost: one box that says so, and nothing else happens.
    test::scan(window, "7");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_TRUE(
        rig.boxes.seen()[0].text.startsWith(QString::fromUtf8("Связь с контроллером потеряна")))
        << rig.boxes.seen()[0].text.toStdString();

    rig.controller.plugIn();
    rig.clock.run(250ms);  // the port tries again four times a second
    ASSERT_EQ(rig.console().lineStatus(), TLineStatus::Open) << rig.console().lineTrouble();
    EXPECT_EQ(test::labelText(window, "Label_Line"), connected);
    EXPECT_EQ(test::labelText(settings, "Label_Port"),
              QString::fromStdString(std::string(ConsoleRig::kControllerPort) + ": открыт"));
    EXPECT_EQ(logLinesWith("потеряна").size(), 1u);
    EXPECT_EQ(logLinesWith("восстановлена").size(), 1u);
    test::scan(window, "7");
    EXPECT_EQ(rig.commands(), (std::vector<std::string>{"CLR_CNT", "R_POS1000"}));
    EXPECT_EQ(rig.boxes.seen().size(), 1u);
}

TEST_F(LineLoss, AConfirmedSendThatIsWaitingGoesOnOnceTheLineIsBack) {
    TForm1& window = rig.window();
    rig.controller.pull();
    ASSERT_EQ(rig.console().lineStatus(), TLineStatus::Lost);
    // The mode toggle waits for the line inside its click; the controller comes back meanwhile.
    rig.clock.duringPause = [&](int) {
        rig.clock.duringPause = {};
        rig.controller.plugIn();
    };
    QTest::mouseClick(test::control<QPushButton>(window, "Button_Lamin"), Qt::LeftButton);
    EXPECT_EQ(rig.logLines().back(), "IMPORT lam!!!");
    EXPECT_EQ(rig.commands(), (std::vector<std::string>{"CLR_CNT", "Lamin1", "SH_S4800",
                                                        "head_DELTA1900", "STP_OUT400"}));
    EXPECT_TRUE(rig.boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
