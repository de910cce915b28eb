// The settings window as the program sets it up: beside the main window, working through the
// same console, with the controller behind the serial driver seam.
#include "U_Set_Form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <set>

#include "ComSetupDialog.h"
#include "ConsoleRig.h"
#include "RegistryFile.h"
#include "SettingControls.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;

const QColor kGreen(0, 255, 0);

class SetFormTest : public ::testing::Test {
  protected:
    SetFormTest() { startConsole(); }

    void startConsole() {
        settings.reset();
        rig.close();
        rig.window();
        settings = std::make_unique<TSet_Form>(rig.console());
        rig.window().setSettingsWindow(settings.get());
    }
    void showSettings() {
        settings->show();
        rig.clock.run(20ms);
    }

    QLineEdit* edit(const char* name) { return test::control<QLineEdit>(*settings, name); }
    bool green(const char* name) { return edit(name)->palette().color(QPalette::Base) == kGreen; }
    // Types into an edit and presses its button, then waits out the controller's quiet gap.
    void apply(const char* editName, const char* buttonName, const QString& typed) {
        edit(editName)->setText(typed);
        QTest::mouseClick(test::control<QPushButton>(*settings, buttonName), Qt::LeftButton);
        rig.clock.run(60ms);
    }
    // What the controller received after start-up's CLR_CNT.
    std::vector<std::string> sent() {
        auto commands = rig.commands();
        commands.erase(commands.begin());
        return commands;
    }
    void choosePort(const std::string& port) {
        LineChoices choices = rig.console().lineChoices();
        choices.port = port;
        rig.console().applyLineChoices(choices);
    }

    test::ConsoleRig rig{{.variables = {{"Qty_Imp_mm", "16.3"},
                                        {"R_DELTA", "12.5"},
                                        {"setSpeed", "-5"},
                                        {"setSpeed_L", "700"},
                                        {"L_marking", "6"},
                                        {"VOZVRAT", ""}},
                          .onlyTheseVariables = true}};
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
    EXPECT_EQ(sent(), (std::vector<std::string>{"setSpeed0050", "SH_S4890"}));
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
    EXPECT_TRUE(rig.boxes.seen().empty());

    // The next start-up reads back what was applied.
    startConsole();
    EXPECT_EQ(rig.console().variables().setSpeed, 50);
    EXPECT_EQ(rig.console().variables().L_marking, 7);
    EXPECT_EQ(rig.console().variables().SH_S_L, 0.0L);  // no row: only in memory it was 300
}

TEST_F(SetFormTest, AFailedApplyIsReportedAndLeavesTheEditAsTyped) {
    showSettings();
    apply("E_setSpeed", "Button_setSpeed", QStringLiteral("abc"));
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("'abc' is not a valid integer value."));
    EXPECT_EQ(rig.boxes.seen()[0].title, QStringLiteral("Velkor QN704"));
    EXPECT_EQ(edit("E_setSpeed")->text(), QStringLiteral("abc"));
    EXPECT_FALSE(green("E_setSpeed"));

    // A send that fails keeps the new value in memory, and the next showing shows it.
    rig.console().openOrCloseLine();  // closed
    apply("E_setSpeed_L", "SpeedButton5", QStringLiteral("900"));
    ASSERT_EQ(rig.boxes.seen().size(), 2u);
    EXPECT_EQ(rig.boxes.seen()[1].text, QStringLiteral("Port Not Open."));
    EXPECT_FALSE(green("E_setSpeed_L"));
    settings->hide();
    showSettings();
    EXPECT_EQ(edit("E_setSpeed_L")->text(), QStringLiteral("900"));
    EXPECT_TRUE(sent().empty());
}

TEST_F(SetFormTest, ShowingReopensAClosedPortAndReportsOneThatCannotOpen) {
    rig.console().openOrCloseLine();  // closed
    showSettings();
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
    apply("E_setSpeed", "Button_setSpeed", QStringLiteral("800"));
    EXPECT_EQ(sent(), std::vector<std::string>{"setSpeed800"});

    settings->hide();
    rig.console().openOrCloseLine();  // closed
    choosePort(rig.workspace.file("no-such-port"));
    showSettings();
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(edit("E_R_DELTA")->text(), QStringLiteral("12,5"));
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("Unable to open com port (Error: 2)"));
}

TEST_F(SetFormTest, SaveButtonsStoreInTheControllerAndCloseTheWindow) {
    for (const char* save : {"SpeedButton1", "SpeedButton19"}) {
        showSettings();
        QTest::mouseClick(test::control<QPushButton>(*settings, save), Qt::LeftButton);
        rig.clock.run(60ms);
        EXPECT_FALSE(settings->isVisible()) << save;
    }
    EXPECT_EQ(sent(), (std::vector<std::string>{"SaveFlash", "SaveFlash"}));

    showSettings();
    QTest::mouseClick(test::control<QPushButton>(*settings, "BitBtn1"), Qt::LeftButton);
    EXPECT_FALSE(settings->isVisible());
}

// The service person's port tools in the settings window reach the main window's port.
TEST_F(SetFormTest, PortToolsCloseOpenStoreAndLoadTheMainWindowsPort) {
    ::setenv("XDG_CONFIG_HOME", rig.workspace.path().c_str(), 1);
    showSettings();
    auto press = [&](const char* name) {
        QTest::mouseClick(test::control<QPushButton>(*settings, name), Qt::LeftButton);
    };
    auto portLabel = [&] { return test::labelText(*settings, "Label_Port").toStdString(); };
    const std::string line = test::ConsoleRig::kControllerPort;
    EXPECT_EQ(portLabel(), line + ": открыт");

    press("Button_PortStore");
    EXPECT_EQ(RegistryFile(rig.workspace.file("velkor/registry.ini"))
                  .readText("HKEY_LOCAL_MACHINE\\Software\\Tavor\\ComPort", "Port"),
              line);
    press("Button_PortOpen");
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Closed);
    EXPECT_EQ(portLabel(), line + ": закрыт");

    choosePort("elsewhere");
    press("Button_PortLoad");
    EXPECT_EQ(rig.console().portName(), line);
    press("Button_PortOpen");
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
    EXPECT_EQ(portLabel(), line + ": открыт");

    test::whenModalShows([](QWidget& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Setup"));
        dialog.close();
    });
    press("Button_PortSetup");
    EXPECT_TRUE(rig.boxes.seen().empty());
    ::unsetenv("XDG_CONFIG_HOME");
}

// A port the lists do not show (a pseudo-terminal, a site's own link) is typed into the setup
// dialog; it becomes the Port variable, on record, and the next start opens it.
TEST_F(SetFormTest, APortTypedIntoTheSetupDialogIsKeptForTheNextStart) {
    showSettings();
    const std::string typed = rig.workspace.file("controller-link");
    rig.controller.addAlias(typed);
    test::whenModalShows<TComSetupFrm>([&](TComSetupFrm& dialog) {
        auto* port = dialog.findChild<TComComboBox*>(QStringLiteral("Port"));
        EXPECT_TRUE(port->isEditable());
        EXPECT_EQ(port->currentText().toStdString(), test::ConsoleRig::kControllerPort);
        port->setEditText(QString::fromStdString(typed));
        dialog.accept();
    });
    QTest::mouseClick(test::control<QPushButton>(*settings, "Button_PortSetup"), Qt::LeftButton);
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_EQ(rig.console().portName(), typed);
    EXPECT_EQ(rig.database->value("Port"), typed);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.database->production->changes().empty(); }));
    const SettingsChange change = rig.database->production->changes().back();
    EXPECT_EQ(change.subject + " " + change.before.value_or("") + " " + change.after.value_or(""),
              std::string("PORT ") + test::ConsoleRig::kControllerPort + " " + typed);

    startConsole();
    EXPECT_EQ(rig.console().portName(), typed);
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
}

}  // namespace
}  // namespace velkor
