#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ComPort.h"
#include "ComPortText.h"
#include "RecordingDriver.h"

namespace velkor {
namespace {

class PortSettingsTest : public ::testing::Test {
  protected:
    test::RecordingDriver::Log log;
    TComPort port{std::make_unique<test::RecordingDriver>(log)};
};

TEST_F(PortSettingsTest, ANewPortHasTheClassDefaults) {
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortSettingsTest, SettingsReachTheDeviceOnlyWhileOpenAndOnlyWhenTheyChange) {
    port.SetBaudRate(br57600);
    port.Parity().SetBits(prEven);
    EXPECT_TRUE(log.calls.empty());
    port.OpenPort();
    log.calls.clear();
    port.SetBaudRate(br57600);
    EXPECT_TRUE(log.calls.empty());
    port.SetBaudRate(br19200);
    EXPECT_EQ(log.calls, std::vector<std::string>{"line state"});
    EXPECT_EQ(log.lineStates.back().baudRate, 19200u);
    EXPECT_EQ(log.lineStates.back().parity, 2);
    port.SetEvents({evRxChar});
    port.SetCodePage(1251);
    EXPECT_EQ(log.calls.size(), 1u);
}

TEST_F(PortSettingsTest, DeferredSettingsApplyOnceAtTheOuterEnd) {
    port.OpenPort();
    log.calls.clear();
    port.EndSettingsUpdate();  // without a beginning: nothing
    EXPECT_TRUE(log.calls.empty());
    port.BeginSettingsUpdate();
    port.BeginSettingsUpdate();
    port.SetBaudRate(br38400);
    port.Timeouts().SetReadInterval(5);
    port.EndSettingsUpdate();
    EXPECT_TRUE(log.calls.empty());
    port.EndSettingsUpdate();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"queues 1024 1024", "line state", "timeouts"}));
}

TEST_F(PortSettingsTest, OddQueueSizesAreStoredOneSmaller) {
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    port.Buffer().SetInputSize(2047);
    EXPECT_EQ(port.Buffer().InputSize(), 2046);
    EXPECT_EQ(port.BuildLineState().xonLimit, 511);
    port.Buffer().SetOutputSize(-3);
    EXPECT_EQ(port.Buffer().OutputSize(), -3);
}

TEST_F(PortSettingsTest, FlowControlPresetsReadAndWriteTheirFields) {
    auto& flow = port.FlowControl();
    flow.SetXonXoffIn(true);
    EXPECT_EQ(flow.FlowControl(), fcCustom);
    flow.SetFlowControl(fcHardware);
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_FALSE(flow.XonXoffOut());
    EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(flow.OutCTSFlow());
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    flow.SetFlowControl(fcSoftware);
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
    EXPECT_EQ(port.BuildLineState().flags & 0x0300u, 0x0300u);
    flow.SetFlowControl(fcCustom);  // changes nothing
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
    flow.SetControlDTR(dtrHandshake);  // DTR takes no part in the preset
    flow.SetFlowControl(fcNone);
    EXPECT_EQ(flow.FlowControl(), fcNone);
    EXPECT_EQ(port.BuildLineState().flags & LineState::fDtrControlMask, LineState::fDtrHandshake);
}

TEST_F(PortSettingsTest, ParityReplacementAndCustomRatesFillTheRecord) {
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.FlowControl().SetControlRTS(rtsToggle);
    const LineState state = port.BuildLineState();
    EXPECT_EQ(state.flags, 0x0001u | 0x0002u | 0x0400u | 0x3000u);
    EXPECT_EQ(state.errorChar, '?');
    EXPECT_EQ(state.baudRate, 250000u);
    port.Parity().SetReplace(false);
    EXPECT_EQ(port.BuildLineState().errorChar, 0);
}

TEST_F(PortSettingsTest, AClosedPortSendsNothingAndSaysPortNotOpen) {
    EXPECT_EQ(port.SendText(""), 0);
    try {
        port.SendText("GET_ALL");
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "Port Not Open");
        EXPECT_EQ(e.ErrorNumber(), 24);
        EXPECT_EQ(e.OsError(), -1);
    }
    EXPECT_TRUE(log.written.empty());
    port.OpenPort();
    EXPECT_EQ(port.SendText("GET_ALL"), 7);
    EXPECT_EQ(log.written, "GET_ALL");
}

TEST_F(PortSettingsTest, AFailedLineStateClosesTheDeviceAgain) {
    log.failLineState = 22;
    try {
        port.OpenPort();
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "SetCommState function failed (Error: 22)");
        EXPECT_EQ(e.ErrorNumber(), 7);
        EXPECT_EQ(e.OsError(), 22);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.calls.back(), "close");
}

TEST_F(PortSettingsTest, LinkRegistryAndPropertiesThatRefuseChanges) {
    TComLink receiver;
    receiver.LinkRxBuf = [](TCustomComPort&, const char*, int) {};
    port.AttachLink(&receiver);
    EXPECT_TRUE(port.HasReceiveLink());
    EXPECT_FALSE(port.TriggersOnRxChar());
    try {
        port.AttachLink(&receiver);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "Link (un)registration failed");
    }
    try {
        port.SetTriggersOnRxChar(true);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
    }
    port.DetachLink(&receiver);
    EXPECT_THROW(port.DetachLink(&receiver), EComPort);
    EXPECT_FALSE(port.HasReceiveLink());

    port.SetEvents({});  // no event thread for this test
    port.OpenPort();
    try {
        port.SetSyncMethod(smNone);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "Cannot set property while connected");
        EXPECT_EQ(e.ErrorNumber(), 14);
    }
    port.ClosePort();
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(PortSettingsTest, AnExceptionHandlerReplacesRaising) {
    std::vector<std::string> reported;
    port.OnException = [&](TCustomComPort&, int kind, const std::string& message, std::int64_t,
                           const std::string&) {
        reported.push_back(std::to_string(kind) + " " + message);
    };
    EXPECT_EQ(port.SendText("X"), 0);
    EXPECT_EQ(reported, std::vector<std::string>{"23 Port Not Open"});
}

// Records the order in which a port's events and link notifications happen.
struct EventTrail {
    std::vector<std::string> trail;
    TComLink link;

    void watch(TCustomComPort& port) {
        auto note = [this](std::string what) {
            return [this, what](TCustomComPort&) { trail.push_back(what); };
        };
        auto noteOn = [this](std::string what) {
            return [this, what](TCustomComPort&, bool on) {
                trail.push_back(what + (on ? " on" : " off"));
            };
        };
        port.OnBeforeOpen = note("BeforeOpen");
        port.OnAfterOpen = note("AfterOpen");
        port.OnBeforeClose = note("BeforeClose");
        port.OnAfterClose = note("AfterClose");
        port.OnTxEmpty = note("TxEmpty");
        port.OnBreak = note("Break");
        port.OnRing = note("Ring");
        port.OnRxFlag = note("RxFlag");
        port.OnRx80Full = note("Rx80Full");
        port.OnCTSChange = noteOn("CTS");
        port.OnDSRChange = noteOn("DSR");
        port.OnRLSDChange = noteOn("RLSD");
        port.OnRxChar = [this](TCustomComPort&, int count) {
            trail.push_back("RxChar " + std::to_string(count));
        };
        port.OnError = [this](TCustomComPort&, TComErrors errors) {
            trail.push_back("Error " + std::to_string(errors.bits()));
        };
        link.LinkConn = noteOn("link Conn");
        link.LinkCTS = noteOn("link CTS");
        port.AttachLink(&link);
    }
};

TEST_F(PortSettingsTest, OpeningAndClosingFireTheirEventsInOrder) {
    EventTrail events;
    events.watch(port);
    log.modemLines = ModemLine::Cts;
    port.SetEvents({});
    port.OpenPort();
    port.OpenPort();  // open already: nothing
    port.ClosePort();
    port.ClosePort();
    EXPECT_EQ(events.trail, (std::vector<std::string>{
                                "BeforeOpen", "link Conn on", "AfterOpen", "link CTS on", "CTS on",
                                "DSR off", "RLSD off", "link CTS off", "CTS off", "DSR off",
                                "RLSD off", "BeforeClose", "link Conn off", "AfterClose"}));
}

TEST_F(PortSettingsTest, TheStepsOfABatchOfEventsRunInTheirFixedOrder) {
    EventTrail events;
    events.watch(port);
    port.SetSyncMethod(smNone);
    log.eventBatches = {CommMask::Rx80Full | CommMask::Rlsd | CommMask::RxFlag | CommMask::Dsr |
                        CommMask::Cts | CommMask::Ring | CommMask::Break | CommMask::TxEmpty |
                        CommMask::RxChar | CommMask::Err};
    log.lineErrorFlags = LineErrorFlag::Frame | LineErrorFlag::RxParity;  // parity is not checked
    log.incoming = "<5b>";
    log.incoming += '\0';
    std::atomic<bool> batchDone{false};
    port.OnRx80Full = [&](TCustomComPort&) {
        events.trail.push_back("Rx80Full");
        batchDone = true;  // the last step: the event thread writes nothing after it
    };
    // With smNone the steps run on the event thread: it starts once the opening is complete, so
    // that the two threads never write the trail at the same time.
    log.holdEvents = true;
    port.OpenPort();
    log.holdEvents = false;
    for (int i = 0; i < 400 && !batchDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(batchDone);
    const std::vector<std::string> batch(events.trail.begin() + 7, events.trail.end());
    port.ClosePort();
    EXPECT_EQ(batch,
              (std::vector<std::string>{"Error " + std::to_string(TComErrors{ceFrame}.bits()),
                                        "RxChar 5", "TxEmpty", "Break", "Ring", "link CTS off",
                                        "CTS off", "DSR off", "RxFlag", "RLSD off", "Rx80Full"}));
}

// Runs one received-characters event on the event thread and returns once it has been handled.
void receiveOnce(TCustomComPort& port, test::RecordingDriver::Log& log) {
    std::atomic<bool> handled{false};
    port.SetSyncMethod(smNone);
    log.eventBatches = {CommMask::RxChar | CommMask::Rx80Full};
    port.OnRx80Full = [&](TCustomComPort&) { handled = true; };
    port.OpenPort();
    for (int i = 0; i < 400 && !handled; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    port.ClosePort();
}

TEST_F(PortSettingsTest, TheReceiveStepReadsOnceForAllLinks) {
    std::vector<std::string> seen;
    const char* firstBuffer = nullptr;
    const char* secondBuffer = nullptr;
    TComLink first;
    first.LinkRxBuf = [&](TCustomComPort&, const char* bytes, int count) {
        firstBuffer = bytes;
        seen.push_back("first " + std::string(bytes, static_cast<std::size_t>(count)));
    };
    TComLink second;
    second.LinkRxBuf = [&](TCustomComPort&, const char* bytes, int count) {
        secondBuffer = bytes;
        seen.push_back("second " + std::string(bytes, static_cast<std::size_t>(count)));
    };
    port.SetTriggersOnRxChar(false);
    port.AttachLink(&first);
    port.AttachLink(&second);
    port.OnRxChar = [&](TCustomComPort&, int) { seen.push_back("RxChar"); };
    log.incoming = "hello";
    receiveOnce(port, log);
    EXPECT_EQ(seen, (std::vector<std::string>{"first hello", "second hello"}));
    EXPECT_EQ(firstBuffer, secondBuffer);
    EXPECT_EQ(log.reads, 1);
}

TEST_F(PortSettingsTest, WithoutReceiveLinksTheStepReadsOrLeavesTheBytesToOnRxChar) {
    std::vector<std::string> seen;
    port.OnRxChar = [&](TCustomComPort&, int count) {
        seen.push_back("RxChar " + std::to_string(count));
    };
    port.OnRxBuf = [&](TCustomComPort&, const char* bytes, int count) {
        seen.push_back("RxBuf " + std::string(bytes, static_cast<std::size_t>(count)));
    };
    log.incoming = "abc";
    receiveOnce(port, log);  // triggers on received characters: nothing read
    EXPECT_EQ(seen, std::vector<std::string>{"RxChar 3"});
    EXPECT_EQ(log.reads, 0);

    seen.clear();
    port.SetTriggersOnRxChar(false);
    receiveOnce(port, log);  // read here and handed to OnRxBuf instead
    EXPECT_EQ(seen, std::vector<std::string>{"RxBuf abc"});
    EXPECT_EQ(log.reads, 1);
}

TEST(PortTextForms, ConvertBothWaysWithFallbacks) {
    EXPECT_EQ(TextToBaudRate("115200"), br115200);
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToBaudRate("12345"), br9600);
    EXPECT_EQ(BaudRateToText(br256000), "256000");
    EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToFlowControl("xyz"), fcCustom);
    EXPECT_EQ(TextToParity("SPACE"), prSpace);
    EXPECT_EQ(TextToDTR("handshake"), dtrHandshake);
    EXPECT_EQ(TextToRTS("?"), rtsDisable);
    EXPECT_EQ(TextToDataBits("7"), dbSeven);
    EXPECT_TRUE(TextToYesNo("yes"));
    EXPECT_FALSE(TextToYesNo("y"));
    EXPECT_EQ(YesNoText(false), "No");
    EXPECT_EQ(CharToText(17), "#17");
    EXPECT_EQ(CharToText('A'), "A");
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(TextToChar("#19"), 19);
    EXPECT_EQ(TextToChar("#"), '#');
    EXPECT_EQ(TextToChar("#a"), 0);
    EXPECT_EQ(TextToChar(""), 0);
    EXPECT_EQ(TextToChar("xyz"), 'x');
}

}  // namespace
}  // namespace velkor
