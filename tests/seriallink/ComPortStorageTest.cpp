// Storing and loading port settings, and the setup dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "ComPort.h"
#include "ComPortText.h"
#include "ComSetupDialog.h"
#include "ControllerLine.h"
#include "ErrorText.h"
#include "IniFile.h"
#include "RecordingDriver.h"
#include "RegistryFile.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

constexpr const char* kProgramLocation = "HKEY_LOCAL_MACHINE\\Software\\Tavor";
constexpr const char* kProgramKey = "HKEY_LOCAL_MACHINE\\Software\\Tavor\\ComPort";

const TStoredProps kAllGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

// Every stored setting away from its default.
void configureEverything(TCustomComPort& port) {
    port.SetPort("ttyUSB1");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetStopBits(sbTwoStopBits);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prEven);
    port.SetEventChar('\n');
    port.SetDiscardNull(true);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.Buffer().SetOutputSize(2048);
    port.Buffer().SetInputSize(4096);
    port.Timeouts().SetReadInterval(5);
    port.Timeouts().SetReadTotalConstant(6);
    port.Timeouts().SetReadTotalMultiplier(7);
    port.Timeouts().SetWriteTotalConstant(8);
    port.Timeouts().SetWriteTotalMultiplier(9);
    auto& flow = port.FlowControl();
    flow.SetControlRTS(rtsToggle);
    flow.SetControlDTR(dtrHandshake);
    flow.SetDSRSensitivity(true);
    flow.SetOutCTSFlow(true);
    flow.SetOutDSRFlow(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonXoffIn(true);
    flow.SetXonXoffOut(true);
    flow.SetXoffChar('S');
    flow.SetXonChar('Q');
    port.SetStoredProps(kAllGroups);
}

void expectSameStoredSettings(TCustomComPort& a, TCustomComPort& b) {
    EXPECT_EQ(a.Port(), b.Port());
    EXPECT_EQ(a.BaudRate(), b.BaudRate());
    EXPECT_EQ(a.CustomBaudRate(), b.CustomBaudRate());
    EXPECT_EQ(a.StopBits(), b.StopBits());
    EXPECT_EQ(a.DataBits(), b.DataBits());
    EXPECT_EQ(a.Parity().Bits(), b.Parity().Bits());
    EXPECT_EQ(a.EventChar(), b.EventChar());
    EXPECT_EQ(a.DiscardNull(), b.DiscardNull());
    EXPECT_EQ(a.Parity().Check(), b.Parity().Check());
    EXPECT_EQ(a.Parity().Replace(), b.Parity().Replace());
    EXPECT_EQ(a.Parity().ReplaceChar(), b.Parity().ReplaceChar());
    EXPECT_EQ(a.Buffer().OutputSize(), b.Buffer().OutputSize());
    EXPECT_EQ(a.Buffer().InputSize(), b.Buffer().InputSize());
    EXPECT_EQ(a.BuildTimeouts().readInterval, b.BuildTimeouts().readInterval);
    EXPECT_EQ(a.Timeouts().ReadTotalConstant(), b.Timeouts().ReadTotalConstant());
    EXPECT_EQ(a.Timeouts().ReadTotalMultiplier(), b.Timeouts().ReadTotalMultiplier());
    EXPECT_EQ(a.Timeouts().WriteTotalConstant(), b.Timeouts().WriteTotalConstant());
    EXPECT_EQ(a.Timeouts().WriteTotalMultiplier(), b.Timeouts().WriteTotalMultiplier());
    EXPECT_EQ(a.BuildLineState().flags, b.BuildLineState().flags);
    EXPECT_EQ(a.FlowControl().XoffChar(), b.FlowControl().XoffChar());
    EXPECT_EQ(a.FlowControl().XonChar(), b.FlowControl().XonChar());
}

// The registry stand-in lives under the configuration folder; tests keep it in a workspace.
class PortStorageTest : public ::testing::Test {
  protected:
    PortStorageTest() {
        if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
            previousConfig_ = config;
        }
        ::setenv("XDG_CONFIG_HOME", workspace.path().c_str(), 1);
    }
    ~PortStorageTest() override {
        previousConfig_ ? ::setenv("XDG_CONFIG_HOME", previousConfig_->c_str(), 1)
                        : ::unsetenv("XDG_CONFIG_HOME");
    }

    std::string ini() const { return workspace.file("port.ini"); }
    RegistryFile registry() const { return RegistryFile(); }

    test::Workspace workspace;
    test::RecordingDriver::Log log;
    TComPort port{std::make_unique<test::RecordingDriver>(log)};

  private:
    std::optional<std::string> previousConfig_;
};

TEST_F(PortStorageTest, EveryGroupSurvivesARoundTripInBothKinds) {
    configureEverything(port);
    port.SaveSettings(stIniFile, ini());
    port.SaveSettings(stRegistry, kProgramLocation);
    for (TStorageType kind : {stIniFile, stRegistry}) {
        test::RecordingDriver::Log otherLog;
        TComPort other{std::make_unique<test::RecordingDriver>(otherLog)};
        other.SetStoredProps(kAllGroups);
        other.RestoreSettings(kind, kind == stIniFile ? ini() : kProgramLocation);
        expectSameStoredSettings(port, other);
    }
    EXPECT_EQ(IniFile(ini()).read("comport", "flowcontrol.xonchar"), "Q");
    EXPECT_EQ(IniFile(ini()).read("ComPort", "EventChar"), "#10");
    EXPECT_EQ(registry().readInteger(kProgramKey, "Buffer.InputSize"), 4096);
    EXPECT_EQ(registry().readText(kProgramKey, "Buffer.InputSize"), std::nullopt);
}

TEST_F(PortStorageTest, TheProgramsSettingsGoUnderItsKeyAsSixTexts) {
    configureControllerLine(port);
    port.SaveSettings(stRegistry, kProgramLocation);
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"Port", "COM3"},  {"BaudRate", "115200"}, {"StopBits", "1"},
        {"DataBits", "8"}, {"Parity", "None"},     {"FlowControl", "None"}};
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(registry().readText(kProgramKey, name), value) << name;
    }
    // No custom rate without a custom baud rate, and nothing of the other groups.
    EXPECT_EQ(registry().readInteger(kProgramKey, "CustomBaudRate"), std::nullopt);
    EXPECT_EQ(registry().readText(kProgramKey, "DiscardNull"), std::nullopt);

    // Without a root name the current user's root is used.
    port.SaveSettings(stRegistry, "Software\\Tavor");
    EXPECT_EQ(registry().readText("HKEY_CURRENT_USER\\Tavor\\ComPort", "Port"), "COM3");
}

TEST_F(PortStorageTest, MissingValuesKeepTheSettingInAnIniFileAndFailInTheRegistry) {
    port.SetStoredProps(kAllGroups);
    port.FlowControl().SetOutDSRFlow(true);
    IniFile(ini()).write("ComPort", "BaudRate", "Custom");
    IniFile(ini()).write("ComPort", "Buffer.OutputSize", "512");
    port.RestoreSettings(stIniFile, ini());
    EXPECT_TRUE(port.FlowControl().OutDSRFlow());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.Buffer().OutputSize(), 512);

    // From the registry: texts read empty, a missing integer stops the load.
    RegistryFile().writeInteger(kProgramKey, "Buffer.OutputSize", 256);
    port.OpenPort();
    log.calls.clear();
    EXPECT_EQ(test::errorOf([&] { port.RestoreSettings(stRegistry, kProgramLocation); }),
              "Failed to load settings");
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Buffer().OutputSize(), 256);  // read before the failure, and applied
    EXPECT_EQ(log.calls, (std::vector<std::string>{"close", "open ", "queues 1024 256",
                                                   "line state", "timeouts"}));

    // A value of the other type counts as missing.
    RegistryFile().writeText(kProgramKey, "Buffer.InputSize", "2048");
    EXPECT_EQ(test::errorOf([&] { port.RestoreSettings(stRegistry, kProgramLocation); }),
              "Failed to load settings");
}

TEST_F(PortStorageTest, RestoringOntoAnOpenPortReopensItAndAppliesTheRestOnce) {
    port.SetPort("ttyS0");
    port.OpenPort();
    TComPort stored{std::make_unique<test::RecordingDriver>(log)};
    stored.SetPort("ttyUSB0");
    stored.SetBaudRate(br57600);
    stored.Parity().SetBits(prOdd);
    stored.SaveSettings(stIniFile, ini());
    log.calls.clear();
    log.lineStates.clear();

    port.RestoreSettings(stIniFile, ini());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"close", "open ttyUSB0", "queues 1024 1024",
                                                   "line state", "timeouts"}));
    ASSERT_EQ(log.lineStates.size(), 1u);
    EXPECT_EQ(log.lineStates[0].baudRate, 57600u);
    EXPECT_EQ(log.lineStates[0].parity, 1);
}

TEST_F(PortStorageTest, AFailedSaveIsErrorSixteen) {
    EXPECT_EQ(test::errorOf([&] { port.SaveSettings(stIniFile, workspace.file("no/port.ini")); }),
              "Failed to store settings");
    // A configuration "folder" that is a file cannot hold the registry.
    workspace.writeFile("config", "");
    ::setenv("XDG_CONFIG_HOME", workspace.file("config").c_str(), 1);
    EXPECT_EQ(test::errorOf([&] { port.SaveSettings(stRegistry, kProgramLocation); }),
              "Failed to store settings");
}

// Answers the modal setup dialog once it shows.
void answerSetupDialog(const std::function<void(TComSetupFrm&)>& answer) {
    test::whenModalShows<TComSetupFrm>(answer);
}

TComComboBox* list(TComSetupFrm& dialog, const char* name) {
    return dialog.findChild<TComComboBox*>(QString::fromLatin1(name));
}

TEST_F(PortStorageTest, TheSetupDialogShowsThePortAndAppliesOnlyOnOk) {
    configureControllerLine(port);
    port.OpenPort();
    log.calls.clear();

    answerSetupDialog([](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Setup"));
        EXPECT_EQ(list(dialog, "Baudrate")->currentText(), QStringLiteral("115200"));
        EXPECT_EQ(list(dialog, "Databits")->currentText(), QStringLiteral("8"));
        EXPECT_EQ(list(dialog, "Stopbits")->currentText(), QStringLiteral("1"));
        EXPECT_EQ(list(dialog, "Parity")->currentText(), QStringLiteral("None"));
        EXPECT_EQ(list(dialog, "Flowcontrol")->currentText(), QStringLiteral("None"));
        EXPECT_EQ(list(dialog, "Port")->currentIndex(), -1);  // COM3 is no port of this system
        list(dialog, "Baudrate")->setCurrentText(QStringLiteral("9600"));
        dialog.reject();
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_TRUE(log.calls.empty());

    // OK with unchanged choices: the same settings, applied once.
    answerSetupDialog([](TComSetupFrm& dialog) { dialog.accept(); });
    RunSetupDialog(port);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"queues 1024 1024", "line state", "timeouts"}));
    EXPECT_EQ(port.Port(), "COM3");

    log.calls.clear();
    answerSetupDialog([](TComSetupFrm& dialog) {
        list(dialog, "Baudrate")->setCurrentText(QStringLiteral("57600"));
        list(dialog, "Databits")->setCurrentText(QStringLiteral("7"));
        list(dialog, "Parity")->setCurrentText(QStringLiteral("Even"));
        dialog.accept();
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.BaudRate(), br57600);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"queues 1024 1024", "line state", "timeouts"}));
}

TEST_F(PortStorageTest, AListOnAnyFormAppliesAtOnceOnlyWithAutoApply) {
    TComComboBox speed;
    speed.SetComProperty(cpBaudRate);
    speed.SetComPort(&port);
    EXPECT_EQ(speed.currentText(), QStringLiteral("9600"));
    EXPECT_EQ(speed.count(), 16);
    speed.setCurrentText(QStringLiteral("19200"));
    EXPECT_EQ(port.BaudRate(), br9600);
    speed.SetAutoApply(true);
    speed.setCurrentText(QStringLiteral("38400"));
    EXPECT_EQ(port.BaudRate(), br38400);
    port.SetBaudRate(br4800);
    speed.UpdateSettings();  // showing the port's value is no choice
    EXPECT_EQ(speed.currentText(), QStringLiteral("4800"));
    EXPECT_EQ(port.BaudRate(), br4800);
}

}  // namespace
}  // namespace velkor
