// The main window's operator commands against the controller simulator.
#include <gtest/gtest.h>

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "ComMainForm.h"
#include "MessageBoxWatcher.h"
#include "PumpingDelay.h"
#include "SimulatorProcess.h"
#include "U_Set_Form.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

const std::vector<std::pair<std::string, std::string>> kVariables = {
    {"Qty_Imp_mm", "10"}, {"SH_S", "500"},        {"Step_pnevmo", "10"}, {"head_DELTA", "200"},
    {"STP_OUT", "30"},    {"setSpeed", "800"},    {"setAccel", "400"},   {"S_SH_S", "250"},
    {"stToR", "60"},      {"L1headPaz", "120.5"}, {"setS_OUT", "900"},   {"setA_OUT", "500"},
    {"R_DELTA", "12.5"},  {"uporDelay", "100"},   {"SbrosDelay", "200"}, {"n_uporDelay", "50"},
    {"pwd", "secret"}};

class OperatorCommandsTest : public ::testing::Test {
  protected:
    explicit OperatorCommandsTest(QStringList simulatorOptions = {})
        : simulator(workspace.file("controller.log"), simulatorOptions) {
        auto variables = kVariables;
        variables.emplace_back("Port", simulator.path());
        workspace.createDatabase(variables);
        workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    }

    template <typename Widget = QPushButton>
    Widget* control(const char* name) {
        return window->findChild<Widget*>(QString::fromLatin1(name));
    }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    std::vector<std::string> sentAfterStartUp() {
        pumpingDelay(100);
        auto commands = simulator.commands();
        commands.erase(commands.begin());  // CLR_CNT
        return commands;
    }
    std::vector<std::string> log() { return window->console().state().eventLog.lines(); }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::Simulator simulator;
    test::MessageBoxWatcher boxes;
    std::unique_ptr<TForm1> window;
};

class WithAnsweringController : public OperatorCommandsTest {
  protected:
    WithAnsweringController() {
        window = std::make_unique<TForm1>();
        // Start-up's "CLR_CNT" stands alone on the line: the controller has taken it.
        test::waitUntil([&] { return !simulator.commands().empty(); });
    }
};

TEST_F(WithAnsweringController, TheModeToggleSendsItsFourCommandsEachWay) {
    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Ламинация"));
    EXPECT_EQ(window->console().state().laminationMode, 1);
    EXPECT_EQ(log().back(), "IMPORT lam!!!");
    // Laminated: the caption blinks lime and navy.
    std::set<QString> styles;
    for (int i = 0; i < 25; ++i) {
        styles.insert(control("Button_Lamin")->styleSheet());
        pumpingDelay(50);
    }
    EXPECT_EQ(styles, (std::set<QString>{QStringLiteral("color: #00ff00;"),
                                         QStringLiteral("color: #000080;")}));

    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(window->console().state().laminationMode, 0);
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
    pumpingDelay(100);
    click("Speed_step");
    click("SpeedButton8");
    pumpingDelay(100);
    EXPECT_GE(std::ranges::count(log(), "GET_ALL;CNT=0;setOut=0;"), 1);
    EXPECT_EQ(window->console().state().showRequest, 0);
    click("SpeedButton4");
    EXPECT_TRUE(log().empty());

    control<QLineEdit>("E_R_DELTA")->setText(QStringLiteral(" 12,5 "));
    click("But_R_DELTA");
    pumpingDelay(100);
    control<QLineEdit>("Edit8")->setText(QStringLiteral("30"));
    QTest::keyClick(control<QLineEdit>("Edit8"), Qt::Key_Return);
    EXPECT_TRUE(control<QLineEdit>("Edit8")->text().isEmpty());
    EXPECT_EQ(sentAfterStartUp(), (std::vector<std::string>{"GET_ALL", "GET_STEP", "GET_CNT",
                                                            "R_DELTA125", "R_POS300"}));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=0\r\nR_DELTA=12,5\r\n");
}

TEST_F(WithAnsweringController, AQuickSecondClickStartsNoSecondToggleInsideTheFirst) {
    test::whenTrue([this] { return std::ranges::count(log(), "->Lamin1") == 1; },
                   [this] { click("Button_Lamin"); });
    click("Button_Lamin");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Ламинация"));
    EXPECT_EQ(window->console().state().laminationMode, 1);
    EXPECT_EQ(sentAfterStartUp(),
              (std::vector<std::string>{"Lamin1", "SH_S4800", "head_DELTA1900", "STP_OUT400"}));
}

TEST_F(WithAnsweringController, AToggleThatCannotSendLeavesTheModeAsItWas) {
    window->console().port().ClosePort();
    click("Button_Lamin");
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("Port Not Open."));
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(window->console().state().laminationMode, 0);
}

TEST_F(WithAnsweringController, TheSettingsGateOpensOnlyForTheExactPassword) {
    TSet_Form settings(window->console());
    window->setSettingsWindow(&settings);
    auto answer = [&](const QString& password) {
        test::whenModalShows<QInputDialog>([password](QInputDialog& box) {
            EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Ввод пароля"));
            EXPECT_EQ(box.findChild<QLineEdit*>()->maxLength(), 255);
            box.setTextValue(password);
            box.accept();
        });
        window->findChild<QAction*>(QStringLiteral("N4"))->trigger();
    };
    answer(QStringLiteral("secret "));
    EXPECT_FALSE(settings.isVisible());
    answer(QStringLiteral("Secret"));
    EXPECT_FALSE(settings.isVisible());
    answer(QString());
    EXPECT_FALSE(settings.isVisible());
    ASSERT_EQ(boxes.seen().size(), 3u);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(boxes.seen()[0].text, QString::fromUtf8("Не вырный пароль!"));
    answer(QStringLiteral("secret"));
    EXPECT_TRUE(settings.isVisible());
}

class WithSilentController : public OperatorCommandsTest {
  protected:
    WithSilentController()
        : OperatorCommandsTest({QStringLiteral("--withhold"), QStringLiteral("L1headPaz"),
                                QStringLiteral("--withhold"), QStringLiteral("head_DELTA")}) {
        window = std::make_unique<TForm1>();
        pumpingDelay(100);
    }
};

TEST_F(WithSilentController, AToggleEndedByEscShowsTheModeTheControllerLastConfirmed) {
    test::whenTrue([this] { return std::ranges::count(log(), "->head_DELTA1900") >= 2; },
                   [this] { QTest::keyClick(control<QLineEdit>("Edit_BarCode"), Qt::Key_Escape); });
    click("Button_Lamin");  // head_DELTA is never acknowledged
    EXPECT_EQ(log().back(), "CANCEL head_DELTA1900");
    EXPECT_EQ(control("Button_Lamin")->text(), QString::fromUtf8("Белый"));
    EXPECT_EQ(window->console().state().laminationMode, 0);
    EXPECT_EQ(control("Button_Lamin")->styleSheet(), QStringLiteral("color: #008080;"));
}

// The status line says what the console waits for, how often it has asked, and how to end it.
TEST_F(WithSilentController, APushStuckOnItsSixthCommandRepeatsItUntilEscEndsIt) {
    QString waiting;
    test::whenTrue([this] { return std::ranges::count(log(), "->L1headPaz1205") >= 3; },
                   [this, &waiting] {
                       waiting = control<QLabel>("Label_Status")->text();
                       QTest::keyClick(control<QLineEdit>("Edit_BarCode"), Qt::Key_Escape);
                   });
    click("Speed_Imp_full_set");
    EXPECT_EQ(waiting,
              QString::fromUtf8("Контроллер не подтверждает L1headPaz1205: отправлено раз: 3. "
                                "Esc прерывает"));
    EXPECT_TRUE(control<QLabel>("Label_Status")->text().isEmpty());
    const auto repeats = std::ranges::count(log(), "->L1headPaz1205");
    EXPECT_GE(repeats, 3);
    EXPECT_EQ(log().back(), "CANCEL L1headPaz1205");
    EXPECT_EQ(std::ranges::count(log(), "IMPORT GOOD!!!"), 0);
    EXPECT_EQ(std::ranges::count(log(), "->STP_OUT300"), 0);
}

}  // namespace
}  // namespace velkor
