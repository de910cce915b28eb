// The settings window as the program sets it up: beside the main window, sharing its port and
// job database, with the controller simulator on the line.
#include "U_Set_Form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <set>

#include "ComMainForm.h"
#include "MessageBoxWatcher.h"
#include "PumpingDelay.h"
#include "RegistryFile.h"
#include "SettingControls.h"
#include "SimulatorProcess.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

const QColor kGreen(0, 255, 0);

class SetFormTest : public ::testing::Test {
  protected:
    SetFormTest() {
        workspace.createDatabase({{"Port", simulator.path()},
                                  {"Qty_Imp_mm", "16.3"},
                                  {"R_DELTA", "12.5"},
                                  {"setSpeed", "-5"},
                                  {"setSpeed_L", "700"},
                                  {"L_marking", "6"},
                                  {"VOZVRAT", ""}});
        workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
        startConsole();
    }

    void startConsole() {
        const std::size_t before = simulator.commands().size();
        settings.reset();
        window = std::make_unique<TForm1>();
        settings = std::make_unique<TSet_Form>(window->console());
        window->setSettingsWindow(settings.get());
        // Start-up's CLR_CNT stands alone on the line: the controller has taken it.
        test::waitUntil([&] { return simulator.commands().size() > before; });
    }
    void showSettings() {
        settings->show();
        pumpingDelay(20);
    }

    QLineEdit* edit(const char* name) {
        return settings->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    bool green(const char* name) { return edit(name)->palette().color(QPalette::Base) == kGreen; }
    // Types into an edit and presses its button, then waits out the controller's quiet gap.
    void apply(const char* editName, const char* buttonName, const QString& typed) {
        edit(editName)->setText(typed);
        QTest::mouseClick(settings->findChild<QPushButton*>(QString::fromLatin1(buttonName)),
                          Qt::LeftButton);
        pumpingDelay(60);
    }
    // What the controller received after start-up's CLR_CNT, once it is `count` commands.
    std::vector<std::string> sent(std::size_t count) {
        auto commands = simulator.commandsOnceThereAre(1 + count);
        commands.erase(commands.begin());
        return commands;
    }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::Simulator simulator{workspace.file("controller.log")};
    test::MessageBoxWatcher boxes;
    std::unique_ptr<TForm1> window;
    std::unique_ptr<TSet_Form> settings;
};

// Each of the 38 parameters has its row, and no widget or handler name is used twice; a
// laminated parameter sits in the laminated group.
TEST(SettingControls, EachParameterHasItsOwnRow) {
    std::set<const MachineParameter*> parameters;
    std::set<std::string_view> names;
    for (const SettingControl& row : settingControls()) {
        EXPECT_NE(row.parameter->applied, Applied::Never) << row.handler;
        EXPECT_TRUE(parameters.insert(row.parameter).second) << row.handler;
        EXPECT_EQ(row.area == SettingsArea::LaminatedProfile, row.parameter->laminated)
            << row.handler;
        for (auto name : {row.edit, row.button, row.handler}) {
            EXPECT_TRUE(names.insert(name).second) << name;
        }
    }
    EXPECT_EQ(parameters.size(), 38u);
}

TEST_F(SetFormTest, EditsMirrorTheVariablesAndApplyingTurnsThemGreenUntilShownAgain) {
    showSettings();
    EXPECT_EQ(edit("E_Qty_Imp_mm")->text(), QStringLiteral("16,3"));
    EXPECT_EQ(edit("E_R_DELTA")->text(), QStringLiteral("12,5"));
    EXPECT_EQ(edit("E_setSpeed")->text(), QStringLiteral("-5"));
    EXPECT_EQ(edit("E_setSpeed_L")->text(), QStringLiteral("700"));
    EXPECT_EQ(edit("B_VOZVRAT")->text(), QString());
    EXPECT_EQ(edit("E_STP_OUT_L")->text(), QStringLiteral("0"));  // no row: zero

    apply("E_L_marking", "Speed_L_marking", QStringLiteral("7"));
    apply("E_setSpeed", "Button_setSpeed", QStringLiteral("0050"));
    apply("Edit_L_protyaj_L", "SpeedButton2", QStringLiteral("300"));
    EXPECT_EQ(sent(2), (std::vector<std::string>{"setSpeed0050", "SH_S4890"}));
    for (const char* name : {"E_L_marking", "E_setSpeed", "Edit_L_protyaj_L"}) {
        EXPECT_TRUE(green(name)) << name;
    }
    EXPECT_FALSE(green("E_setSpeed_L"));
    EXPECT_EQ(edit("E_setSpeed")->text(), QStringLiteral("0050"));

    // Showing an open window again only brings it to the front.
    edit("E_setAccel")->setText(QStringLiteral("typed"));
    showSettings();
    EXPECT_TRUE(green("E_setSpeed"));

    settings->hide();
    showSettings();
    for (const char* name : {"E_L_marking", "E_setSpeed", "Edit_L_protyaj_L"}) {
        EXPECT_FALSE(green(name)) << name;
    }
    EXPECT_EQ(edit("E_setSpeed")->text(), QStringLiteral("50"));
    EXPECT_EQ(edit("Edit_L_protyaj_L")->text(), QStringLiteral("300"));
    EXPECT_EQ(edit("E_setAccel")->text(), QStringLiteral("0"));
    EXPECT_TRUE(boxes.seen().empty());

    // The next start-up reads back what was applied.
    window->close();
    startConsole();
    EXPECT_EQ(window->console().state().variables.setSpeed, 50);
    EXPECT_EQ(window->console().state().variables.L_marking, 7);
    EXPECT_EQ(window->console().state().variables.SH_S_L,
              0.0L);  // no row: only in memory it was 300
}

TEST_F(SetFormTest, AFailedApplyIsReportedAndLeavesTheEditAsTyped) {
    showSettings();
    apply("E_setSpeed", "Button_setSpeed", QStringLiteral("abc"));
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("'abc' is not a valid integer value."));
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("Velkor QN704"));
    EXPECT_EQ(edit("E_setSpeed")->text(), QStringLiteral("abc"));
    EXPECT_FALSE(green("E_setSpeed"));

    // A send that fails keeps the new value in memory, and the next showing shows it.
    window->console().port().ClosePort();
    apply("E_setSpeed_L", "SpeedButton5", QStringLiteral("900"));
    ASSERT_EQ(boxes.seen().size(), 2u);
    EXPECT_EQ(boxes.seen()[1].text, QStringLiteral("Port Not Open."));
    EXPECT_FALSE(green("E_setSpeed_L"));
    settings->hide();
    showSettings();
    EXPECT_EQ(edit("E_setSpeed_L")->text(), QStringLiteral("900"));
    EXPECT_TRUE(sent(0).empty());
}

TEST_F(SetFormTest, ShowingReopensAClosedPortAndReportsOneThatCannotOpen) {
    window->console().port().ClosePort();
    showSettings();
    EXPECT_TRUE(window->console().port().Connected());
    apply("E_setSpeed", "Button_setSpeed", QStringLiteral("800"));
    EXPECT_EQ(sent(1), std::vector<std::string>{"setSpeed800"});

    settings->hide();
    window->console().port().ClosePort();
    window->console().port().SetPort(workspace.file("no-such-port"));
    showSettings();
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(edit("E_R_DELTA")->text(), QStringLiteral("12,5"));
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("Unable to open com port (Error: 2)"));
}

TEST_F(SetFormTest, SaveButtonsStoreInTheControllerAndCloseTheWindow) {
    for (const char* save : {"SpeedButton1", "SpeedButton19"}) {
        showSettings();
        QTest::mouseClick(settings->findChild<QPushButton*>(QString::fromLatin1(save)),
                          Qt::LeftButton);
        pumpingDelay(60);
        EXPECT_FALSE(settings->isVisible()) << save;
    }
    EXPECT_EQ(sent(2), (std::vector<std::string>{"SaveFlash", "SaveFlash"}));

    showSettings();
    QTest::mouseClick(settings->findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    EXPECT_FALSE(settings->isVisible());
}

// The service person's port tools in the settings window reach the main window's port.
TEST_F(SetFormTest, PortToolsCloseOpenStoreAndLoadTheMainWindowsPort) {
    ::setenv("XDG_CONFIG_HOME", workspace.path().c_str(), 1);
    showSettings();
    auto press = [&](const char* name) {
        QTest::mouseClick(settings->findChild<QPushButton*>(QString::fromLatin1(name)),
                          Qt::LeftButton);
    };
    auto portLabel = [&] {
        return settings->findChild<QLabel*>(QStringLiteral("Label_Port"))->text().toStdString();
    };
    const std::string line = simulator.path();
    EXPECT_EQ(portLabel(), line + ": открыт");

    press("Button_PortStore");
    EXPECT_EQ(RegistryFile(workspace.file("velkor/registry.ini"))
                  .readText("HKEY_LOCAL_MACHINE\\Software\\Tavor\\ComPort", "Port"),
              line);
    press("Button_PortOpen");
    EXPECT_FALSE(window->console().port().Connected());
    EXPECT_EQ(portLabel(), line + ": закрыт");

    window->console().port().SetPort("elsewhere");
    press("Button_PortLoad");
    EXPECT_EQ(window->console().port().Port(), line);
    press("Button_PortOpen");
    EXPECT_TRUE(window->console().port().Connected());
    EXPECT_EQ(portLabel(), line + ": открыт");

    test::whenModalShows([](QWidget& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Setup"));
        dialog.close();
    });
    press("Button_PortSetup");
    EXPECT_TRUE(boxes.seen().empty());
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace velkor
