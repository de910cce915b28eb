#include "ConfirmedSend.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <QtTest/QTest>

#include "ComDataPacket.h"
#include "ComMainForm.h"
#include "MessageBoxWatcher.h"
#include "PumpingDelay.h"
#include "ReplyHandler.h"
#include "SimulatorProcess.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// The console's line to a simulator that never acknowledges L1headPaz.
class ConfirmedSendTest : public ::testing::Test {
  protected:
    ConfirmedSendTest() {
        port.SetTriggersOnRxChar(false);
        port.SetPort(simulator.path());
        framer.Framer().SetStartString("<");
        framer.Framer().SetStopString(">");
        framer.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
            replies.handle(packet);
        };
        framer.SetComPort(&port);
        port.OpenPort();
    }

    test::Workspace workspace;
    test::Simulator simulator{workspace.file("controller.log"),
                              {QStringLiteral("--withhold"), QStringLiteral("L1headPaz")}};
    ConsoleState state;
    ProductionCounter counter{state.eventLog, {}};
    ReplyHandler replies{state, counter};
    TComPort port;
    TComDataPacket framer;
    ConfirmedSender sender{port, state};
};

TEST_F(ConfirmedSendTest, AcknowledgedCommandsAreSentOnceEach) {
    sender.runSequence([&] {
        sender.send("Lamin1", 100);
        sender.send("SH_S4800", 100);
        sender.send("SH_S4800", 100);  // confirmed by the reply already there
    });
    EXPECT_EQ(countOf(state.eventLog.lines(), "->Lamin1"), 1u);
    EXPECT_EQ(countOf(state.eventLog.lines(), "->SH_S4800"), 2u);
    EXPECT_EQ(simulator.commands(), (std::vector<std::string>{"Lamin1", "SH_S4800", "SH_S4800"}));
}

TEST_F(ConfirmedSendTest, AnUnacknowledgedCommandRepeatsUntilEscEndsItsSequence) {
    test::whenTrue([&] { return countOf(state.eventLog.lines(), "->L1headPaz1956") >= 3; },
                   [&] { EXPECT_TRUE(sender.cancelInnermost()); });
    sender.runSequence([&] {
        sender.send("SH_S100", 100);
        sender.send("L1headPaz1956", 100);
        sender.send("STP_OUT300", 100);  // never reached
    });
    const auto& log = state.eventLog.lines();
    EXPECT_GE(countOf(log, "->L1headPaz1956"), 3u);
    EXPECT_EQ(log.back(), "CANCEL L1headPaz1956");
    EXPECT_EQ(countOf(log, "->STP_OUT300"), 0u);
    EXPECT_FALSE(sender.running());
    EXPECT_FALSE(sender.cancelInnermost());
}

TEST_F(ConfirmedSendTest, EscEndsOnlyTheInnermostOfNestedSequences) {
    bool innerRan = false;
    test::whenTrue([&] { return countOf(state.eventLog.lines(), "->SH_S1") == 1; },
                   [&] {
                       sender.runSequence([&] {
                           innerRan = true;
                           sender.send("L1headPaz5", 100);
                       });
                   });
    test::whenTrue([&] { return countOf(state.eventLog.lines(), "->L1headPaz5") >= 2; },
                   [&] { sender.cancelInnermost(); });
    sender.runSequence([&] {
        sender.send("SH_S1", 300);  // the inner sequence runs inside this wait
        sender.send("SH_S2", 100);
    });
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(countOf(state.eventLog.lines(), "CANCEL L1headPaz5"), 1u);
    EXPECT_EQ(countOf(state.eventLog.lines(), "->SH_S2"), 1u);  // the outer one went on
}

TEST(ConfirmedSendInTheWindow, EscInTheWindowAndClosingItEndWaitingSequences) {
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::Simulator simulator{workspace.file("controller.log"),
                              {QStringLiteral("--withhold"), QStringLiteral("Lamin1")}};
    workspace.createDatabase({{"Port", simulator.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=7\r\n");
    test::MessageBoxWatcher boxes;
    TForm1 window;
    window.show();
    auto sentLamin = [&] { return countOf(window.console().state().eventLog.lines(), "->Lamin1"); };
    test::whenTrue([&] { return sentLamin() >= 2; },
                   [&] {
                       QTest::keyClick(window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode")),
                                       Qt::Key_Escape);
                   });
    window.console().confirmedSender().runSequence(
        [&] { window.console().confirmedSender().send("Lamin1", 100); });
    EXPECT_EQ(window.console().state().eventLog.lines().back(), "CANCEL Lamin1");
    EXPECT_TRUE(window.isVisible());

    const std::size_t sentBefore = sentLamin();
    test::whenTrue([&] { return sentLamin() >= sentBefore + 2; }, [&] { window.close(); });
    window.console().confirmedSender().runSequence(
        [&] { window.console().confirmedSender().send("Lamin1", 100); });
    EXPECT_EQ(window.console().state().eventLog.lines().back(), "CANCEL Lamin1");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=7\r\n");
    EXPECT_TRUE(boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
