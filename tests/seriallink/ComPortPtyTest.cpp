#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "LineRecovery.h"
#include "LinkedLine.h"
#include "PseudoTerminal.h"
#include "PumpingDelay.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

// A port set up as the console sets up its own, opened on a pseudo-terminal, with a receive
// link that collects what arrives and notes the thread it arrives on.
class PortOverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        port.SetBaudRate(br115200);
        port.SetDiscardNull(true);
        port.FlowControl().SetControlDTR(dtrEnable);
        port.SetPort(peer.path());
        port.SetTriggersOnRxChar(false);  // before a receive link is attached, or it is refused
        receiver.LinkRxBuf = [this](TCustomComPort&, const char* bytes, int count) {
            onUiThread =
                onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            ++deliveries;
            received.append(bytes, static_cast<std::size_t>(count));
            if (failNextDelivery) {
                failNextDelivery = false;
                throw std::runtime_error("handler failed");
            }
        };
        port.AttachLink(&receiver);
    }

    // Lets the event loop run until `size` bytes have arrived or a second has passed.
    void receiveUntil(std::size_t size) {
        test::waitUntil([&] { return received.size() >= size; }, 1000);
    }

    test::PseudoTerminal peer;
    TComPort port;
    TComLink receiver;
    std::string received;
    int deliveries = 0;
    bool onUiThread = true;
    bool failNextDelivery = false;
};

TEST_F(PortOverPty, WritesExactlyTheTextAndDeliversReceivedBytesOnTheUserInterfaceThread) {
    port.OpenPort();
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.SendText("GET_ALL"), 7);
    EXPECT_EQ(port.SendText(std::string("R_POS\xE9\x00"
                                        "5",
                                        8)),
              8);
    EXPECT_EQ(peer.read(15), std::string("GET_ALLR_POS\xE9\x00"
                                         "5",
                                         15));

    peer.write("<A><B>");
    receiveUntil(6);
    peer.write("<GE");
    receiveUntil(9);
    peer.write(std::string("T_\0AL", 5));  // the null byte is dropped on the way in
    receiveUntil(13);
    peer.write("L 12>");
    receiveUntil(18);
    EXPECT_EQ(received,
              "<A><B><GET_AL"
              "L 12>");
    EXPECT_TRUE(onUiThread);
    EXPECT_GE(deliveries, 4);
}

TEST_F(PortOverPty, AMissingDeviceFailsWithTheSystemsCode) {
    for (const std::string name : {"/dev/velkor-no-such-device", "ttyVELKORNONE"}) {
        port.SetPort(name);
        try {
            port.OpenPort();
            FAIL() << name;
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorNumber(), 1);
            EXPECT_EQ(e.OsError(), ENOENT);
            EXPECT_EQ(std::string(e.what()),
                      "Unable to open com port (Error: " + std::to_string(ENOENT) + ")");
        }
        EXPECT_FALSE(port.Connected());
    }
}

TEST_F(PortOverPty, ASecondProgramCannotOpenTheSameLine) {
    port.OpenPort();
    TComPort second;
    second.SetPort(peer.path());
    try {
        second.OpenPort();
        FAIL() << "opened twice";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorNumber(), 1);
        EXPECT_EQ(e.OsError(), EBUSY);
    }
    port.ClosePort();
    second.OpenPort();  // free again once the first has closed it
    EXPECT_TRUE(second.Connected());
}

TEST_F(PortOverPty, AFailingHandlerStopsReceptionUntilThePortIsReopened) {
    port.OpenPort();
    failNextDelivery = true;
    peer.write("<first>");
    receiveUntil(7);
    ASSERT_EQ(received, "<first>");
    peer.write("<lost>");
    pumpingDelay(300);
    EXPECT_EQ(received, "<first>");          // the event thread has ended
    EXPECT_EQ(port.SendText("GET_ALL"), 7);  // writing still works
    EXPECT_EQ(peer.read(7), "GET_ALL");

    port.ClosePort();
    port.OpenPort();
    received.clear();
    peer.write("<again>");
    receiveUntil(7);
    EXPECT_EQ(received, "<again>");
}

TEST_F(PortOverPty, ClosingRunsADeliveryThatIsAlreadyQueued) {
    port.OpenPort();
    peer.write("<queued>");
    // The user-interface thread is busy: the event thread queues the delivery and waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(received.empty());
    port.ClosePort();
    EXPECT_EQ(received, "<queued>");
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortOverPty, ALostLineIsReleasedAtOnceAndReopenedByItselfWhenTheDeviceReturns) {
    test::LinkedLine line(::testing::TempDir() + "velkor-line-" + std::to_string(::getpid()));
    port.SetPort(line.path());
    std::vector<TLineStatus> seen;
    port.addLineStatusListener([&] { seen.push_back(port.LineStatus()); });
    port.OpenPort();
    line.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return port.LineStatus() == TLineStatus::Lost; }));
    EXPECT_FALSE(port.Connected());

    // Why the last attempt to reopen failed. (What a lost line costs the processor is a figure
    // of the serial benchmark.)
    ASSERT_TRUE(test::waitUntil([&] { return !port.ReconnectError().empty(); }));
    try {
        port.SendText("GET_ALL");
        FAIL() << "sent on a lost line";
    } catch (const ELineLost& e) {
        EXPECT_EQ(e.ErrorNumber(), 24);
        EXPECT_NE(std::string(e.what()).find(port.Port()), std::string::npos);
    }

    line.plugIn();
    ASSERT_TRUE(test::waitUntil([&] { return port.Connected(); }));
    EXPECT_EQ(port.LineStatus(), TLineStatus::Open);
    EXPECT_EQ(port.SendText("GET_ALL"), 7);
    EXPECT_EQ(line.device().read(7), "GET_ALL");
    line.device().write("<back>");
    receiveUntil(6);
    EXPECT_EQ(received, "<back>");
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1], TLineStatus::Lost);
    EXPECT_EQ(seen.back(), TLineStatus::Open);

    // A service person's ClosePort ends the waiting for a device that is gone.
    line.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return port.LineStatus() == TLineStatus::Lost; }));
    port.ClosePort();
    EXPECT_EQ(port.LineStatus(), TLineStatus::Closed);
    line.plugIn();
    pumpingDelay(2 * LineRecovery::kRetryMilliseconds);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortOverPty, BytesThatComeAfterTheCountOfAReceiveStepAreDeliveredWithoutMoreArriving) {
    // The first delivery keeps the user-interface thread busy while more bytes arrive; nothing
    // else arrives afterwards, so only a following receive step can bring them.
    bool busy = true;
    receiver.LinkRxBuf = [&](TCustomComPort&, const char* bytes, int count) {
        received.append(bytes, static_cast<std::size_t>(count));
        if (std::exchange(busy, false)) {
            peer.write("<B>");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };
    port.OpenPort();
    peer.write("<A>");
    EXPECT_TRUE(test::waitUntil([&] { return received == "<A><B>"; })) << received;

    // Byte by byte with pauses: each packet is complete before the next byte is written.
    std::atomic<std::size_t> size{received.size()};
    receiver.LinkRxBuf = [&](TCustomComPort&, const char* bytes, int count) {
        received.append(bytes, static_cast<std::size_t>(count));
        size = received.size();
    };
    std::atomic<int> late{-1};
    std::thread controller([&] {
        const std::string packet = "<GET_ALL;CNT=1;setOut=0;>";
        for (int i = 0; i < 40 && late < 0; ++i) {
            const std::size_t before = size;
            for (char c : packet) {
                peer.write(std::string(1, c));
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (size < before + packet.size() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (size < before + packet.size()) {
                late = i;
            }
        }
    });
    EXPECT_TRUE(test::waitUntil([&] { return size >= 6 + 40 * 25u || late >= 0; }, 60000));
    controller.join();
    EXPECT_EQ(late, -1) << "packet " << late << " waited for bytes that never came";
}

TEST_F(PortOverPty, ABurstLargerThanTheKernelsQueueNeverStopsReception) {
    port.OpenPort();
    const std::string burst(64 * 1024, 'x');
    std::thread controller([&] {
        try {
            peer.write(burst + "<end>", 5000);
        } catch (const std::runtime_error&) {
            // the console stopped reading: the wait below fails
        }
    });
    EXPECT_TRUE(test::waitUntil([&] { return received.size() >= burst.size() + 5; }, 10000));
    controller.join();
    EXPECT_EQ(received, burst + "<end>");
    peer.write("<more>");
    receiveUntil(burst.size() + 11);
    EXPECT_EQ(received.substr(burst.size()), "<end><more>");
}

TEST_F(PortOverPty, TxEmptyFollowsEveryWrite) {
    int empties = 0;
    port.OnTxEmpty = [&](TCustomComPort&) { ++empties; };
    port.OpenPort();
    for (int i = 1; i <= 3; ++i) {
        port.SendText("GET_ALL");
        EXPECT_TRUE(test::waitUntil([&] { return empties == i; })) << i;
    }
}

TEST_F(PortOverPty, WithoutEventsNothingIsDelivered) {
    port.SetEvents({});
    port.OpenPort();
    peer.write("<X>");
    pumpingDelay(200);
    EXPECT_TRUE(received.empty());
    char buffer[8];
    EXPECT_EQ(port.ReceiveBytes(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "<X>");
}

TEST_F(PortOverPty, ChangingThePortWhileOpenMovesToTheNewLine) {
    test::PseudoTerminal other;
    port.OpenPort();
    port.SetPort(other.path());
    EXPECT_TRUE(port.Connected());
    port.SendText("GET_ALL");
    EXPECT_EQ(other.read(7), "GET_ALL");
    EXPECT_EQ(peer.read(1, 100), "");

    try {
        port.SetPort("/dev/velkor-no-such-device");
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorNumber(), 1);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "/dev/velkor-no-such-device");
}

TEST_F(PortOverPty, EverySpeedIsTakenAndFramingTheDeviceRefusesIsReported) {
    port.OpenPort();
    for (TBaudRate rate : {br110, br14400, br56000, br128000, br256000, br9600}) {
        port.SetBaudRate(rate);  // throws "SetCommState function failed" when not taken
    }
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetStopBits(sbTwoStopBits);
    EXPECT_TRUE(port.ModemSignals().empty());
    EXPECT_TRUE(port.TakeLineErrors().empty());
    EXPECT_EQ(port.BytesWaiting(), 0);
    // A pseudo-terminal always carries eight bits without parity; the device's answer is read
    // back, so a setting that was not taken is an error rather than a silent mismatch.
    try {
        port.SetDataBits(dbSeven);
        FAIL() << "seven data bits taken by a pseudo-terminal";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorNumber(), 7);
        EXPECT_EQ(std::string(e.what()),
                  "SetCommState function failed (Error: " + std::to_string(EINVAL) + ")");
    }
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortOverPty, WithoutSynchronisationHandlersRunOnTheEventThread) {
    port.SetSyncMethod(smNone);
    std::atomic<bool> onEventThread{false};
    std::atomic<int> count{0};
    receiver.LinkRxBuf = [&](TCustomComPort&, const char*, int n) {
        onEventThread = QThread::currentThread() != QCoreApplication::instance()->thread();
        count += n;
    };
    port.OpenPort();
    peer.write("<X>");
    for (int i = 0; i < 200 && count < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no event processing at all
    }
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(onEventThread);
}

TEST_F(PortOverPty, WindowSynchronisationPostsEachEventToTheUserInterfaceThread) {
    port.SetSyncMethod(smWindowSync);
    port.OpenPort();
    peer.write("<W>");
    receiveUntil(3);
    EXPECT_EQ(received, "<W>");
    EXPECT_TRUE(onUiThread);
}

TEST(PortWithFramer, PacketsReachOnPacketInOrderAndAFailingHandlerSilencesTheLineUntilReopened) {
    test::PseudoTerminal controller;
    TComPort port;
    port.SetTriggersOnRxChar(false);
    port.SetPort(controller.path());
    TComDataPacket framer;
    framer.Framer().SetStartString("<");
    framer.Framer().SetStopString(">");
    framer.SetComPort(&port);
    std::vector<std::string> packets;
    bool failNext = false;
    framer.Framer().OnPacket = [&](PacketFramer&, const std::string& packet) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        packets.push_back(packet);
        if (std::exchange(failNext, false)) {
            throw std::runtime_error("handler failed");
        }
    };
    auto waitFor = [&](std::size_t count) {
        test::waitUntil([&] { return packets.size() >= count; }, 1000);
    };
    port.OpenPort();
    controller.write("<A><B>");
    waitFor(2);
    controller.write("<GE");
    pumpingDelay(30);
    controller.write("T_AL");
    pumpingDelay(30);
    controller.write("L 12>");
    waitFor(3);
    EXPECT_EQ(packets, (std::vector<std::string>{"A", "B", "GET_ALL 12"}));

    failNext = true;
    controller.write("<C>");
    waitFor(4);
    controller.write("<D>");
    pumpingDelay(200);
    EXPECT_EQ(packets.back(), "C");
    port.ClosePort();
    port.OpenPort();
    controller.write("<E>");
    waitFor(5);
    EXPECT_EQ(packets.back(), "E");
}

TEST(SerialPortList, NamesExistingDevicesSortedWithoutRegardToCase) {
    QStringList list{QStringLiteral("stale")};
    ListSerialPorts(list);
    EXPECT_FALSE(list.contains(QStringLiteral("stale")));
    for (qsizetype i = 0; i < list.size(); ++i) {
        EXPECT_FALSE(list[i].startsWith(QStringLiteral("/dev/")));
        EXPECT_EQ(::access(("/dev/" + list[i].toStdString()).c_str(), F_OK), 0)
            << list[i].toStdString();
        if (i > 0) {
            EXPECT_LE(list[i - 1].compare(list[i], Qt::CaseInsensitive), 0);
        }
    }
}

}  // namespace
}  // namespace velkor
