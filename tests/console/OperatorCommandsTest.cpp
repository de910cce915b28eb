// The main window's operator commands, with the controller behind the serial driver seam.
#include <gtest/gtest.h>

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <set>

#include "ConsoleRig.h"
#include "Text.h"
#include "U_Set_Form.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::ConsoleRig;

ConsoleRig::Setup operatorsSite(std::set<std::string> withheld = {}) {
    ConsoleRig::Setup setup{
        .variables = {{"Qty_Imp_mm", "10"}, {"L1headPaz", "120.5"}, {"pwd", "secret"}}};
    setup.controller.controller.withheld = std::move(withheld);
    return setup;
}

class OperatorCommandsTest : public ::testing::Test {
  protected:
    explicit OperatorCommandsTest(ConsoleRig::Setup setup = operatorsSite()) : rig(setup) {
        rig.window();
    }

    template <typename Widget = QPushButton>
    Widget* control(const char* name) {
        return test::control<Widget>(rig.window(), name);
    }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    std::vector<std::string> sentAfterStartUp() {
        auto commands = rig.commands();
        commands.erase(commands.begin());  // CLR_CNT
        return commands;
    }
    std::vector<std::string> log() { return rig.logLines(); }
    // The settings history, once it holds `count` rows: kind, outcome and what was sent of each.
    std::vector<std::string> history(std::size_t count) {
        auto& record = *rig.database->production;
        EXPECT_TRUE(test::waitUntil([&] { return record.changes().size() >= count; }));
        std::vector<std::string> rows;
        for (const SettingsChange& change : record.changes()) {
            rows.push_back(std::string(kindCode(change.kind)) + " " + outcomeCode(change.outcome) +
                           " " + commandsText(change.sent));
        }
        return rows;
    }

    ConsoleRig rig;
};

using WithAnsweringController = OperatorCommandsTest;

TEST_F(WithAnsweringController, TheModeToggleSendsItsFourCommandsEachWay) {
    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Ламинация"));
    EXPECT_EQ(rig.console().laminationMode(), 1);
    EXPECT_EQ(log().back(), "IMPORT lam!!!");
    // Laminated: the caption blinks lime and navy.
    std::set<QString> styles;
    for (int i = 0; i < 4; ++i) {
        styles.insert(control("Button_Lamin")->styleSheet());
        rig.clock.run(250ms);
    }
    EXPECT_EQ(styles, (std::set<QString>{QStringLiteral("color: #00ff00;"),
                                         QStringLiteral("color: #000080;")}));

    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(rig.console().laminationMode(), 0);
    EXPECT_EQ(log().back(), "IMPORT White!!!");
    EXPECT_EQ(sentAfterStartUp(),
              (std::vector<std::string>{"Lamin1", "SH_S4800", "head_DELTA1900", "STP_OUT400",
                                        "Lamin0", "SH_S5000", "head_DELTA2000", "STP_OUT300"}));
    EXPECT_EQ(
        std::ranges::count_if(log(), [](const std::string& l) { return l.rfind("->", 0) == 0; }),
        8);
}

TEST_F(WithAnsweringController, TheSettingsPushSendsFourteenSettingsAndLeavesOneLine) {
    click("Speed_Imp_full_set");
    EXPECT_EQ(log(), std::vector<std::string>{"IMPORT GOOD!!!"});
    EXPECT_EQ(sentAfterStartUp(),
              (std::vector<std::string>{"SH_S5000", "setSpeed800", "setAccel400", "S_SH_S2500",
                                        "stToR600", "L1headPaz1205", "STP_OUT300", "setS_OUT900",
                                        "setA_OUT500", "head_DELTA2000", "R_DELTA125",
                                        "uporDelay100", "SbrosDelay200", "n_uporDelay50"}));
}

TEST_F(WithAnsweringController, RequestsClearAndTheHandleGroup) {
    // An operator's clicks are further apart than the controller's 20 ms command gap.
    click("SpeedButton2");  // "Показать": the next report is logged
    rig.clock.run(100ms);
    click("Speed_step");
    click("SpeedButton8");
    rig.clock.run(100ms);
    EXPECT_EQ(std::ranges::count(log(), "GET_ALL;CNT=0;setOut=0;"), 1);
    click("SpeedButton4");
    EXPECT_TRUE(log().empty());

    control<QLineEdit>("E_R_DELTA")->setText(QStringLiteral(" 12,5 "));
    click("But_R_DELTA");
    rig.clock.run(100ms);
    control<QLineEdit>("Edit8")->setText(QStringLiteral("30"));
    QTest::keyClick(control<QLineEdit>("Edit8"), Qt::Key_Return);
    EXPECT_TRUE(control<QLineEdit>("Edit8")->text().isEmpty());
    EXPECT_EQ(sentAfterStartUp(), (std::vector<std::string>{"GET_ALL", "GET_STEP", "GET_CNT",
                                                            "R_DELTA125", "R_POS300"}));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=0\r\nR_DELTA=12,5\r\n");
}

TEST_F(WithAnsweringController, AQuickSecondClickStartsNoSecondToggleInsideTheFirst) {
    rig.clock.duringPause = [&](int) {
        if (std::ranges::count(log(), "->Lamin1") == 1) {
            rig.clock.duringPause = {};
            click("Button_Lamin");
        }
    };
    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Ламинация"));
    EXPECT_EQ(rig.console().laminationMode(), 1);
    EXPECT_EQ(sentAfterStartUp(),
              (std::vector<std::string>{"Lamin1", "SH_S4800", "head_DELTA1900", "STP_OUT400"}));
}

TEST_F(WithAnsweringController, AToggleThatCannotSendLeavesTheModeAsItWas) {
    rig.console().openOrCloseLine();  // closed
    click("Button_Lamin");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("Port Not Open."));
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(rig.console().laminationMode(), 0);
}

TEST_F(WithAnsweringController, TheSettingsGateIsMaskedAndEachWrongPasswordShutsItLonger) {
    TSet_Form settings(rig.console());
    rig.window().setSettingsWindow(&settings);
    const auto tryGate = [&] { rig.window().findChild<QAction*>(QStringLiteral("N4"))->trigger(); };
    auto answer = [&](const QString& password) {
        test::whenModalShows<QInputDialog>([password](QInputDialog& box) {
            EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Ввод пароля"));
            EXPECT_EQ(box.textEchoMode(), QLineEdit::Password);
            EXPECT_EQ(box.findChild<QLineEdit*>()->maxLength(), 255);
            box.setTextValue(password);
            box.accept();
        });
        tryGate();
    };
    const auto refusedFor = [&](const char* seconds) {
        tryGate();  // no password box: the gate says how long it stays shut
        return rig.boxes.seen().back().text.endsWith(
            QString::fromUtf8("через ") + QString::fromLatin1(seconds) + QString::fromUtf8(" с."));
    };
    answer(QStringLiteral("secret "));  // 1 s
    EXPECT_TRUE(refusedFor("1"));
    rig.clock.run(1s);
    answer(QStringLiteral("Secret"));  // 2 s
    rig.clock.run(1s);
    EXPECT_TRUE(refusedFor("1"));
    rig.clock.run(1s);
    answer(QString());  // 4 s
    rig.clock.run(3s);
    EXPECT_TRUE(refusedFor("1"));
    EXPECT_FALSE(settings.isVisible());
    EXPECT_EQ(rig.boxes.seen()[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(rig.boxes.seen()[0].text, QString::fromUtf8("Не вырный пароль!"));
    EXPECT_EQ(rig.logLines().back(), cp1251("Неверный пароль окна настроек, подряд раз: 3"));
    const auto day = std::filesystem::directory_iterator(rig.workspace.file("journal"))->path();
    EXPECT_NE(rig.workspace.readFile("journal/" + day.filename().string())
                  .find(cp1251("Показано сообщение: Не вырный пароль!")),
              std::string::npos);
    rig.clock.run(1s);
    answer(QStringLiteral("secret"));
    EXPECT_TRUE(settings.isVisible());

    // The right password started the count again; ten minutes left alone close the window.
    settings.hide();
    answer(QStringLiteral("guess"));
    rig.clock.run(1s);
    answer(QStringLiteral("secret"));
    ASSERT_TRUE(settings.isVisible());
    rig.clock.run(9min);
    QTest::keyClick(settings.findChild<QLineEdit*>(), Qt::Key_Right);
    rig.clock.run(9min);
    EXPECT_TRUE(settings.isVisible());
    test::scan(rig.window(), "200000001");  // the main window's work does not keep it open
    rig.clock.run(1min + 1s);
    EXPECT_FALSE(settings.isVisible());
    EXPECT_EQ(history(6), (std::vector<std::string>{"PASSWORD REFUSED ", "PASSWORD REFUSED ",
                                                    "PASSWORD REFUSED ", "OPENED DONE ",
                                                    "PASSWORD REFUSED ", "OPENED DONE "}));
    EXPECT_EQ(rig.database->production->changes()[2].message,
              cp1251("Неверный пароль окна настроек, подряд раз: 3"));
}

// Behind the password every change goes in the history however it ends: stored (with the value
// it replaced), refused before anything went out, sent but not stored (the database failed, or
// has no row for it), refused on a closed port, and SaveFlash.
TEST_F(WithAnsweringController, EachAppliedSettingIsInTheHistoryWithHowItEnded) {
    TSet_Form settings(rig.console());
    settings.show();
    const auto apply = [&](const char* typed) {
        settings.findChild<QLineEdit*>(QStringLiteral("Edit_L_protyaj"))
            ->setText(QString::fromLatin1(typed));
        QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("L_Protyajki")),
                          Qt::LeftButton);
    };
    apply("510");
    apply("5x");
    rig.database->writeFails = "Unable to complete network request to host \"server\"";
    apply("520");
    rig.database->writeFails.clear();
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("Button_PortOpen")),
                      Qt::LeftButton);  // closes the port
    apply("530");
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("Button_PortOpen")),
                      Qt::LeftButton);
    std::erase_if(rig.database->variables,
                  [](const VariableRow& row) { return row.key == "SH_S_L"; });
    settings.findChild<QLineEdit*>(QStringLiteral("Edit_L_protyaj_L"))->setText("540");
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("SpeedButton2")),
                      Qt::LeftButton);  // no row to store it in
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("SpeedButton1")),
                      Qt::LeftButton);
    EXPECT_EQ(history(6),
              (std::vector<std::string>{"SETTING STORED SH_S5100", "SETTING REFUSED ",
                                        "SETTING UNSTORED SH_S5200", "SETTING REFUSED ",
                                        "SETTING UNSTORED SH_S5400", "SAVEFLASH SENT SaveFlash"}));
    const auto changes = rig.database->production->changes();
    EXPECT_EQ(changes[0].subject, "SH_S");
    EXPECT_EQ(changes[0].after, "510");
    EXPECT_EQ(changes[2].before, std::nullopt);  // the database never said
    EXPECT_EQ(changes[2].after, "520");
    EXPECT_EQ(changes[3].message, "Port Not Open");  // as the box said it
    EXPECT_EQ(changes[4].message, cp1251("В VARIABLES нет строки SH_S_L: значение не сохранено"));
    EXPECT_EQ(rig.database->value("SH_S"), "510");
}

// A controller whose replies come late, each after junk bytes and in two or three pieces a few
// milliseconds apart: every acknowledgement still confirms its command once.
TEST(WithRaggedReplies, ThePushIsConfirmedHoweverItsRepliesArrive) {
    ConsoleRig::Setup setup = operatorsSite();
    setup.controller.replies = {.delay = 60ms, .junk = true, .split = true};
    ConsoleRig rig(setup);
    QTest::mouseClick(test::control<QPushButton>(rig.window(), "Speed_Imp_full_set"),
                      Qt::LeftButton);
    EXPECT_EQ(rig.logLines(), std::vector<std::string>{"IMPORT GOOD!!!"});
    EXPECT_EQ(rig.commands().size(), 1u + 14);
}

class WithSilentController : public OperatorCommandsTest {
  protected:
    WithSilentController() : OperatorCommandsTest(operatorsSite({"L1headPaz", "head_DELTA"})) {}
};

TEST_F(WithSilentController, AToggleEndedByEscShowsTheModeTheControllerLastConfirmed) {
    rig.clock.duringPause = [&](int) {
        if (std::ranges::count(log(), "->head_DELTA1900") == 2) {
            rig.clock.duringPause = {};
            QTest::keyClick(control<QLineEdit>("Edit_BarCode"), Qt::Key_Escape);
        }
    };
    click("Button_Lamin");  // head_DELTA is never acknowledged
    EXPECT_EQ(log().back(), "CANCEL head_DELTA1900");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(rig.console().laminationMode(), 0);
    EXPECT_EQ(control("Button_Lamin")->styleSheet(), QStringLiteral("color: #008080;"));
    EXPECT_EQ(history(1), std::vector<std::string>{"MODE ESC Lamin1 SH_S4800"});
}

// The status line says what the console waits for, how often it has asked, and how to end it.
TEST_F(WithSilentController, APushStuckOnItsSixthCommandRepeatsItUntilEscEndsIt) {
    QString waiting;
    rig.clock.duringPause = [&](int) {
        if (std::ranges::count(log(), "->L1headPaz1205") == 3) {
            rig.clock.duringPause = {};
            waiting = test::labelText(rig.window(), "Label_Status");
            QTest::keyClick(control<QLineEdit>("Edit_BarCode"), Qt::Key_Escape);
        }
    };
    click("Speed_Imp_full_set");
    EXPECT_EQ(waiting,
              QString::fromUtf8("Контроллер не подтверждает L1headPaz1205: отправлено раз: 3. "
                                "Esc прерывает"));
    EXPECT_TRUE(test::labelText(rig.window(), "Label_Status").isEmpty());
    EXPECT_EQ(std::ranges::count(log(), "->L1headPaz1205"), 3);
    EXPECT_EQ(log().back(), "CANCEL L1headPaz1205");
    EXPECT_EQ(std::ranges::count(log(), "IMPORT GOOD!!!"), 0);
    EXPECT_EQ(std::ranges::count(log(), "->STP_OUT300"), 0);
    EXPECT_EQ(history(1), std::vector<std::string>{"PUSH ESC SH_S5000 setSpeed800 setAccel400 "
                                                   "S_SH_S2500 stToR600"});
}

}  // namespace
}  // namespace velkor
