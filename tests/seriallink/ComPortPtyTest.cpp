#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "ComPort.h"
#include "PseudoTerminal.h"
#include "PumpingDelay.h"

namespace velkor {
namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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
        for (int i = 0; i < 100 && received.size() < size; ++i) {
            pumpingDelay(10);
        }
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

TEST_F(PortOverPty, APeerThatGoesAwayEndsTheEventThreadWithoutSpinning) {
    port.OpenPort();
    peer.hangUp();
    pumpingDelay(100);
    const double before = processorSeconds();
    pumpingDelay(500);
    EXPECT_LT(processorSeconds() - before, 0.1);
    try {
        port.SendText("GET_ALL");
        FAIL() << "wrote to a line with nobody at the other end";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorNumber(), 2);
        EXPECT_EQ(e.OsError(), EIO);
    }
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
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
