// Confirmed sends against the controller behind the serial driver seam, which never
// acknowledges L1headPaz (or, in the window, Lamin1).
#include "ConfirmedSend.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "ComDataPacket.h"
#include "ConsoleRig.h"
#include "ReplyHandler.h"

namespace velkor {
namespace {

std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Runs `action` once, in the first pause after `holds()` does.
void oncePausedWhen(test::TestClock& clock, std::function<bool()> holds,
                    std::function<void()> action) {
    clock.duringPause = [&clock, holds = std::move(holds), action = std::move(action)](int) {
        if (holds()) {
            clock.duringPause = {};
            action();
        }
    };
}

class ConfirmedSendTest : public ::testing::Test {
  protected:
    ConfirmedSendTest() {
        port.SetTriggersOnRxChar(false);
        port.SetPort(controller.port());
        framer.Framer().SetStartString("<");
        framer.Framer().SetStopString(">");
        framer.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
            replies.handle(packet);
        };
        framer.SetComPort(&port);
        port.OpenPort();
    }

    std::size_t logged(const std::string& line) const { return countOf(log.lines(), line); }

    test::TestClock clock;
    test::InProcessController controller{
        clock, "/dev/ttyVELKOR-controller", {.controller = {.withheld = {"L1headPaz"}}}};
    EventLog log;
    ProductionCounter counter{log, {}};
    ReplyHandler replies{log, counter, clock};
    TComPort port{controller.driverFactory()()};
    TComDataPacket framer;
    ControllerLine controllerLine{port, clock};
    ConfirmedSender sender{controllerLine, replies, log, clock};
};

TEST_F(ConfirmedSendTest, AcknowledgedCommandsAreSentOnceEach) {
    sender.runSequence([&] {
        sender.send("Lamin1", 100);
        sender.send("SH_S4800", 100);
        sender.send("SH_S4800", 100);  // confirmed by the reply already there
    });
    EXPECT_EQ(logged("->Lamin1"), 1u);
    EXPECT_EQ(logged("->SH_S4800"), 2u);
    EXPECT_EQ(controller.commands(), (std::vector<std::string>{"Lamin1", "SH_S4800", "SH_S4800"}));
}

TEST_F(ConfirmedSendTest, AnUnacknowledgedCommandRepeatsUntilEscEndsItsSequence) {
    oncePausedWhen(
        clock, [&] { return logged("->L1headPaz1956") == 3; },
        [&] { EXPECT_TRUE(sender.cancelInnermost()); });
    sender.runSequence([&] {
        sender.send("SH_S100", 100);
        sender.send("L1headPaz1956", 100);
        sender.send("STP_OUT300", 100);  // never reached
    });
    EXPECT_EQ(logged("->L1headPaz1956"), 3u);
    EXPECT_EQ(log.lines().back(), "CANCEL L1headPaz1956");
    EXPECT_EQ(logged("->STP_OUT300"), 0u);
    EXPECT_FALSE(sender.running());
    EXPECT_FALSE(sender.cancelInnermost());
}

TEST_F(ConfirmedSendTest, EscEndsOnlyTheInnermostOfNestedSequences) {
    bool innerRan = false;
    oncePausedWhen(
        clock, [&] { return logged("->SH_S1") == 1; },
        [&] {
            oncePausedWhen(
                clock, [&] { return logged("->L1headPaz5") == 2; },
                [&] { sender.cancelInnermost(); });
            sender.runSequence([&] {
                innerRan = true;
                sender.send("L1headPaz5", 100);
            });
        });
    sender.runSequence([&] {
        sender.send("SH_S1", 300);  // the inner sequence runs inside this wait
        sender.send("SH_S2", 100);
    });
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(logged("CANCEL L1headPaz5"), 1u);
    EXPECT_EQ(logged("->SH_S2"), 1u);  // the outer one went on
}

TEST(ConfirmedSendInTheWindow, EscInTheWindowAndClosingItEndWaitingSequences) {
    test::ConsoleRig::Setup setup{.ini = test::counterIni(7)};
    setup.controller.controller.withheld = {"Lamin1"};
    test::ConsoleRig rig(setup);
    TForm1& window = rig.window();
    window.show();
    const auto sentLamin = [&] { return countOf(rig.logLines(), "->Lamin1"); };
    auto* toggle = test::control<QPushButton>(window, "Button_Lamin");
    oncePausedWhen(
        rig.clock, [&] { return sentLamin() == 2; },
        [&] { QTest::keyClick(test::control<QLineEdit>(window, "Edit_BarCode"), Qt::Key_Escape); });
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(rig.logLines().back(), "CANCEL Lamin1");
    EXPECT_EQ(toggle->text(), QString::fromUtf8("Белый"));
    EXPECT_TRUE(window.isVisible());

    const std::size_t sentBefore = sentLamin();
    oncePausedWhen(
        rig.clock, [&] { return sentLamin() == sentBefore + 2; }, [&] { window.close(); });
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(rig.logLines().back(), "CANCEL Lamin1");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(7));
    EXPECT_TRUE(rig.boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
