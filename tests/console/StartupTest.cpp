// Start-up and shutdown through the main window, on the rig: the start-up directory's files,
// the job database's machine variables, the controller's line and the counter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "ConsoleRig.h"
#include "Numbers.h"
#include "Text.h"
#include "U_Set_Form.h"
#include "Version.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::ConsoleRig;

const QString kMissingCounter = QString::fromUtf8("Ошибка в названии параметров : MAIN = CNT");

QString counter(TForm1& window) {
    return test::labelText(window, "Label_CNT");
}

// A line that answers nothing, as a controller's port with nothing behind it yet; what it
// reports the test sends itself.
ConsoleRig::Setup bareLine(ConsoleRig::Setup setup = {}) {
    setup.controller.silent = true;
    return setup;
}

ConsoleRig::Setup withIni(std::optional<std::string> ini, ConsoleRig::Setup setup = bareLine()) {
    setup.ini = std::move(ini);
    return setup;
}

TEST(Startup, LogsTheDatabaseLoadsTheVariablesAndShowsTheIniCounter) {
    ConsoleRig rig(
        withIni(test::counterIni(1234),
                bareLine({.variables = {{"Qty_Imp_mm", "16.3"}, {"L_upor", "50"}, {"pwd", "7"}},
                          .onlyTheseVariables = true})));
    TForm1& window = rig.window();
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_EQ(rig.console().startUpState().directory().path, rig.workspace.path());
    ASSERT_FALSE(rig.logLines().empty());
    EXPECT_EQ(rig.logLines().front(), rig.workspace.file("KV.GDB"));
    EXPECT_EQ(rig.database->connectedTo, rig.workspace.file("KV.GDB"));
    EXPECT_TRUE(test::waitUntil([&] {
        return test::control<QPlainTextEdit>(window, "Memo")->toPlainText() ==
               QString::fromStdString(rig.workspace.file("KV.GDB"));
    }));
    EXPECT_EQ(rig.console().variables().Qty_Imp_mm, readReal("16,3"));
    EXPECT_EQ(rig.console().variables().pwd, "7");
    EXPECT_EQ(counter(window), QStringLiteral("1234"));
    EXPECT_EQ(rig.console().productionCounter().base(), 1234);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Velkor v.4  11.08.2021  Production by Morvel"));
    EXPECT_FALSE(rig.console().startUpState().timerRunning());
    EXPECT_EQ(window.focusWidget(), test::control(window, "Edit_BarCode"));
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
    EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
}

TEST(Startup, TheControllersPacketsReachTheEventLogInOrderHoweverTheyAreCut) {
    ConsoleRig rig(bareLine());
    TForm1& window = rig.window();
    rig.controller.send("\r\n<CLR_CNT><GET_ALL;CNT=3;");
    rig.clock.run(50ms);
    rig.controller.send(std::string("setOut=0;>noise<build_time: ", 28));
    rig.clock.run(50ms);
    rig.controller.send(cp1251("ошибка>"));
    // The state report is not logged; its count goes to the counter.
    EXPECT_EQ(rig.logLines(), (std::vector<std::string>{rig.workspace.file("KV.GDB"), "CLR_CNT",
                                                        "build_time: " + cp1251("ошибка")}));
    EXPECT_EQ(counter(window), QStringLiteral("3"));
    EXPECT_EQ(rig.console().lastReply(), "build_time: " + cp1251("ошибка"));
}

TEST(Startup, ShutdownAsksTheControllerForItsCountBeforeSavingIt) {
    ConsoleRig rig(withIni(test::counterIni(100)));
    rig.window();
    rig.close();
    EXPECT_EQ(rig.controller.commands(), (std::vector<std::string>{"CLR_CNT", "GET_ALL"}));
    EXPECT_EQ(rig.clock.pauses, std::vector<int>{200});
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(100));
    EXPECT_TRUE(rig.boxes.seen().empty());
}

TEST(Startup, AShutdownWithoutALineStillSavesTheCounter) {
    ConsoleRig rig(withIni(test::counterIni(100)));
    TForm1& window = rig.window();
    rig.controller.send("<GET_ALL;CNT=20;>");  // counts on from the saved 100
    EXPECT_EQ(counter(window), QStringLiteral("120"));
    rig.console().openOrCloseLine();  // the line is gone: "GET_ALL" cannot be sent
    rig.close();
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(120));
    EXPECT_TRUE(rig.boxes.seen().empty());
}

// The blank is kept, so the port cannot be opened: the box names the port, the counter is
// still read, and the port is waited for in the status bar.
TEST(Startup, APortNameWithALeadingBlankFailsToOpenAndIsNamedAndWaitedFor) {
    const std::string port = std::string(" ") + ConsoleRig::kControllerPort;
    ConsoleRig rig(withIni(test::counterIni(100), bareLine({.variables = {{"Port", port}}})));
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text,
              QString::fromStdString("Порт " + port +
                                     ": Unable to open com port (Error: 2). Консоль откроет "
                                     "его сама, как только он станет доступен."));
    EXPECT_EQ(rig.console().variables().Port, port);
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Lost);
    EXPECT_TRUE(test::labelText(window, "Label_Line")
                    .startsWith(QString::fromStdString("Порт " + port + ": ")));
    EXPECT_EQ(counter(window), QStringLiteral("100"));
    EXPECT_FALSE(rig.console().startUpState().timerRunning());
    rig.close();  // no line to ask: shutdown still ends
    EXPECT_TRUE(rig.controller.commands().empty());
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(100));
}

// A USB adapter that the system lists only after the console has started: start-up reads the
// counter and finishes, the port is taken up once it is there, and start-up's CLR_CNT follows
// so that the controller counts from zero; its reports then add to the saved total.
TEST(Startup, AnAdapterThatAppearsAfterStartUpIsTakenUpAndCountsFromZero) {
    ConsoleRig rig(withIni(test::counterIni(100)));
    rig.controller.pull();
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_TRUE(rig.boxes.seen()[0].text.startsWith(
        QString::fromStdString(std::string("Порт ") + ConsoleRig::kControllerPort + ": ")))
        << rig.boxes.seen()[0].text.toStdString();
    EXPECT_EQ(counter(window), QStringLiteral("100"));
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Lost);

    rig.controller.plugIn();
    rig.clock.run(250ms);  // the port tries again four times a second
    EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
    EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
    rig.controller.send("<GET_ALL;CNT=4;setOut=0;>");
    EXPECT_EQ(counter(window), QStringLiteral("104"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(104));
    EXPECT_TRUE(test::labelText(window, "Label_Line").endsWith(QString::fromUtf8("открыт")));
    EXPECT_EQ(rig.boxes.seen().size(), 1u);
}

TEST(Startup, StateReportsShowAndSaveTheCounterAtOnceAndItCarriesOverToTheNextRun) {
    ConsoleRig rig(withIni(test::counterIni(100)));
    TForm1& window = rig.window();
    rig.controller.send("<GET_ALL;CNT=17;setOut=2;>");
    EXPECT_EQ(counter(window), QStringLiteral("117"));
    EXPECT_EQ(rig.console().outputState(), 2);
    // Saved before any shutdown: a power failure now keeps the 17 pieces.
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(117));
    EXPECT_EQ(rig.logLines().size(), 1u);  // reports are not logged
    // The controller answers the shutdown's "GET_ALL" within its 200 ms wait.
    rig.controller.whenReceived([&](const std::string& command) {
        if (command == "GET_ALL") {
            rig.controller.send("<GET_ALL;CNT=20;setOut=2;>");
        }
    });
    rig.close();
    EXPECT_EQ(rig.controller.commands().back(), "GET_ALL");
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(120));
    TForm1& next = rig.window();
    EXPECT_EQ(counter(next), QStringLiteral("120"));
    EXPECT_EQ(rig.console().productionCounter().base(), 120);
}

TEST(Startup, TheMissingEntryTextIsShownButNeverSavedAsTheCounter) {
    ConsoleRig rig(withIni(std::nullopt));
    EXPECT_EQ(counter(rig.window()), kMissingCounter);
    rig.close();
    EXPECT_FALSE(rig.workspace.exists("Morvel.INI"));
}

TEST(Startup, TheMainWindowHasEveryControlWithItsCaptionAndVisibility) {
    ConsoleRig rig;
    TForm1& window = rig.window();
    window.show();

    const std::vector<std::tuple<const char*, const char*, bool>> buttons = {
        {"Button_Lamin", "Белый", true},
        {"SpeedButton2", "Показать", true},
        {"Speed_step", "STEP", true},
        {"SpeedButton4", "Очистить", true},
        {"Speed_Imp_full_set", "Иморт настроек", true},
        {"SpeedButton8", "Количество заготовок", false},
        {"SpeedButton1", "Import size", true},
        {"SpeedButton3", "Save Log", false},
        {"But_R_DELTA", "1/2 ручки", false},
        {"Button1", "OK", false},
    };
    for (const auto& [name, caption, shown] : buttons) {
        auto* button = test::control<QPushButton>(window, name);
        EXPECT_EQ(button->text(), QString::fromUtf8(caption)) << name;
        EXPECT_EQ(button->isVisible(), shown) << name;
    }
    const std::vector<std::tuple<const char*, const char*, bool>> labels = {
        {"Label7", "Циклов:", true},   {"Label_CNT", "0", true},
        {"Label9", "Кво :", true},     {"Label8", "0", true},
        {"Label_Bar_Code", "0", true}, {"Label10", "Размер до ручки", false},
        {"Label2", "Label2", false},
    };
    for (const auto& [name, caption, shown] : labels) {
        EXPECT_EQ(test::labelText(window, name), QString::fromUtf8(caption)) << name;
        EXPECT_EQ(test::control<QLabel>(window, name)->isVisible(), shown) << name;
    }
    for (const char* name :
         {"Edit_BarCode", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit9"}) {
        EXPECT_TRUE(test::control<QLineEdit>(window, name)->isVisible()) << name;
        EXPECT_TRUE(test::control<QLineEdit>(window, name)->text().isEmpty()) << name;
    }
    EXPECT_EQ(test::control<QGroupBox>(window, "GroupBox2")->title(),
              QString::fromUtf8("Параметры для ручки"));
    EXPECT_FALSE(test::control(window, "GroupBox2")->isVisible());
    EXPECT_FALSE(test::control(window, "ListBoxPort")->isVisible());
    EXPECT_TRUE(test::control<QPlainTextEdit>(window, "Memo")->isReadOnly());
    EXPECT_EQ(test::control<QLabel>(window, "Image1")->pixmap().size(), QSize(260, 96));
    EXPECT_FALSE(test::labelText(window, "Label1").isEmpty());

    QStringList menu;
    for (QAction* top : window.menuBar()->actions()) {
        menu << top->text();
        if (top->menu() != nullptr) {
            for (QAction* item : top->menu()->actions()) {
                menu << QStringLiteral("  ") + item->text();
            }
        }
    }
    EXPECT_EQ(menu,
              (QStringList{QString::fromUtf8("Файл"), QString::fromUtf8("  Загрузить"),
                           QStringLiteral("  Export log"), QString::fromUtf8("Настройки"),
                           QString::fromUtf8("Производство"), QString::fromUtf8("О программе")}));

    for (const auto& [name, interval, active] :
         {std::tuple{"Timer1", 1000ms, false}, std::tuple{"Timer2", 500ms, true},
          std::tuple{"Timer3", 3000ms, false}}) {
        const Clock::Timer* timer = rig.clock.timerNamed(name);
        ASSERT_NE(timer, nullptr) << name;
        EXPECT_EQ(timer->interval(), interval) << name;
        EXPECT_EQ(timer->active(), active) << name;
    }
}

// Qt's own texts are Russian too; both windows fit the screen (the offscreen one is 800 x 600)
// and carry the program's icon; the version is a menu away.
TEST(Startup, TheWindowsSpeakRussianFitTheScreenAndTellTheVersion) {
    ConsoleRig rig({.variables = {{"pwd", ""}}});
    TForm1& window = rig.window();
    TSet_Form settings(rig.console());
    window.setSettingsWindow(&settings);
    window.show();
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window.frameGeometry()))
        << screen.width() << "x" << screen.height();
    EXPECT_FALSE(window.windowIcon().isNull());

    QStringList buttons;
    test::whenModalShows<QInputDialog>([&](QInputDialog& box) {
        for (const auto* button : box.findChildren<QPushButton*>()) {
            buttons << button->text();
        }
        box.reject();
    });
    window.findChild<QAction*>(QStringLiteral("N4"))->trigger();
    EXPECT_TRUE(buttons.contains(QString::fromUtf8("Отмена"))) << buttons.join(u',').toStdString();

    settings.show();
    EXPECT_TRUE(screen.contains(settings.frameGeometry()));
    settings.close();

    // About says what a support call asks for, and "Копировать" puts it on the clipboard.
    rig.boxes.answer(false);
    QString about;
    test::whenModalShows<QMessageBox>([&](QMessageBox& box) {
        about = box.text();
        EXPECT_TRUE(box.textInteractionFlags() & Qt::TextSelectableByMouse);
        for (QAbstractButton* button : box.buttons()) {
            if (button->text() == QString::fromUtf8("Копировать")) {
                button->click();
            }
        }
    });
    window.findChild<QAction*>(QStringLiteral("N5"))->trigger();
    const QStringList lines = about.split(u'\n');
    ASSERT_EQ(lines.size(), 6) << about.toStdString();
    EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8("версия ") + QString::fromLatin1(kVersion) +
                                    QString::fromUtf8(", сборка 20")));
    EXPECT_EQ(lines[2], QStringLiteral("Qt ") + QString::fromLatin1(qVersion()));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Firebird 3.")));
    EXPECT_EQ(lines[4],
              QString::fromUtf8("Рабочая папка: ") + QString::fromStdString(rig.workspace.path()));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), about);
}

TEST(Startup, AFreshWorkspaceWithoutIniShowsTheMissingEntryAndReportsItsConversion) {
    ConsoleRig rig(withIni(std::nullopt));
    TForm1& window = rig.window();
    EXPECT_EQ(counter(window), kMissingCounter);
    EXPECT_EQ(rig.console().productionCounter().base(), 0);
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("'") + kMissingCounter +
                                            QStringLiteral("' is not a valid integer value."));
    EXPECT_EQ(rig.boxes.seen()[0].title, QStringLiteral("Velkor QN704"));
    EXPECT_EQ(rig.boxes.seen()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(rig.controller.commands().empty());  // no CLR_CNT after a failed start-up
}

// A server that boots after the workstation (a power cut brings both up): start-up goes on
// without it on the port the last start-up found, and the console takes the database up by
// itself once it answers. Meanwhile a scan and the settings are refused with one message that
// names the database, and the status bar says so too.
TEST(Startup, ADatabaseNotThereAtStartUpIsTakenUpOnceItAnswers) {
    ConsoleRig rig(withIni(test::counterIni(5)));
    rig.workspace.writeFile("velkor.port", std::string(ConsoleRig::kControllerPort) + "\n");
    rig.database->connectFails = "Unable to complete network request to host \"server\"";
    TForm1& window = rig.window();
    const QString message = QString::fromUtf8("База данных ") +
                            QString::fromStdString(rig.workspace.file("KV.GDB")) +
                            QString::fromUtf8(" недоступна: Unable to complete network request");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_TRUE(rig.boxes.seen()[0].text.startsWith(message))
        << rig.boxes.seen()[0].text.toStdString();
    EXPECT_EQ(counter(window), QStringLiteral("5"));
    EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
    const auto* status = test::control<QLabel>(window, "Label_Database");
    EXPECT_FALSE(status->isHidden());

    rig.addPiece("200000001", {400.0});
    test::scan(window, "200000001");
    window.findChild<QAction*>(QStringLiteral("N4"))->trigger();
    ASSERT_EQ(rig.boxes.seen().size(), 3u);
    EXPECT_TRUE(rig.boxes.seen()[1].text.startsWith(message));
    EXPECT_TRUE(rig.boxes.seen()[2].text.startsWith(message));

    rig.database->connectFails.clear();
    rig.clock.run(DatabaseWatch::kRetryEvery);
    EXPECT_TRUE(status->isHidden());
    EXPECT_NE(rig.logLines().back().find(cp1251(" ответила: машинные переменные загружены")),
              std::string::npos);
    test::scan(window, "200000001");
    EXPECT_EQ(rig.commands().size(), 2u);  // CLR_CNT and the piece's one position
    EXPECT_EQ(rig.boxes.seen().size(), 3u);
}

// With no port known from an earlier start, or one the database no longer names, the line
// opens on the database's port once it answers, and start-up's CLR_CNT goes out then; the port
// is remembered for the next start.
TEST(Startup, WithoutTheRightPortTheLineOpensOnceTheDatabaseAnswers) {
    for (const std::optional<std::string>& remembered :
         {std::optional<std::string>(), std::optional<std::string>("/dev/ttyOLD\n")}) {
        ConsoleRig rig(withIni(test::counterIni(5)));
        if (remembered) {
            rig.workspace.writeFile("velkor.port", *remembered);
        }
        rig.database->connectFails = "I/O error during \"open\" operation";
        rig.window();
        EXPECT_TRUE(rig.commands().empty());
        rig.database->connectFails.clear();
        rig.clock.run(DatabaseWatch::kRetryEvery);
        EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
        EXPECT_EQ(rig.console().lineStatus(), TLineStatus::Open);
        EXPECT_EQ(rig.workspace.readFile("velkor.port"),
                  std::string(ConsoleRig::kControllerPort) + "\n");
    }
}

// A workspace whose VARIABLES lacks the impulse factor (a variables file whose first key an
// editor's byte order mark spoilt): a scan says which variable is missing and sends nothing.
TEST(Startup, AScanWithoutTheImpulseFactorSendsNothingAndSaysWhy) {
    ConsoleRig rig(bareLine({.variables = {{"L_upor", "50"}}, .onlyTheseVariables = true}));
    rig.addPiece("200000001", {400.0});
    test::scan(rig.window(), "200000001");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_TRUE(rig.boxes.seen()[0].text.startsWith(
        QString::fromUtf8("Нет машинных переменных Qty_Imp_mm (")))
        << rig.boxes.seen()[0].text.toStdString();
    EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
}

TEST(Startup, ABadVariableStopsStartUpBeforeTheCounterIsRead) {
    ConsoleRig rig(withIni(test::counterIni(5),
                           bareLine({.variables = {{"setSpeed", "800"}, {"SH_S", "12.5mm"}},
                                     .onlyTheseVariables = true})));
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text,
              QStringLiteral("'12,5mm' is not a valid floating point value."));
    EXPECT_EQ(rig.console().variables().setSpeed, 800);
    EXPECT_EQ(counter(window), QStringLiteral("0"));
}

TEST(Startup, ShutdownSavesTheCounterLabelAndKeepsTheRestOfTheIni) {
    ConsoleRig rig(withIni("[Main]\r\nR_DELTA=12,5\r\ncnt=77\r\n"));
    rig.window().show();
    rig.controller.send("<GET_ALL;CNT=3;>");  // counts on from the saved 77
    EXPECT_EQ(counter(rig.window()), QStringLiteral("80"));
    rig.close();
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), "[Main]\r\nR_DELTA=12,5\r\nCNT=80\r\n");
}

TEST(Startup, ExportFromTheMenuWritesTheLogAndAMissingFolderIsReported) {
    ConsoleRig rig(withIni(test::counterIni(3)));
    TForm1& window = rig.window();
    QAction* exportItem = window.findChild<QAction*>(QStringLiteral("N3"));
    ASSERT_NE(exportItem, nullptr);

    QMetaObject::invokeMethod(exportItem, "trigger", Qt::QueuedConnection);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.boxes.seen().empty(); }));
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_TRUE(
        rig.boxes.seen()[0].text.startsWith(QStringLiteral("Cannot create file \"") +
                                            QString::fromStdString(rig.workspace.file("log/"))));
    EXPECT_TRUE(
        rig.boxes.seen()[0].text.endsWith(QStringLiteral(".log\". No such file or directory.")));
    // What a box said is on record in the journal, with its time.
    const auto day = std::filesystem::directory_iterator(rig.workspace.file("journal"))->path();
    EXPECT_NE(
        rig.workspace.readFile("journal/" + day.filename().string())
            .find(cp1251("Показано сообщение: Cannot create file \"") + rig.workspace.file("log/")),
        std::string::npos);

    std::filesystem::create_directory(rig.workspace.file("log"));
    QMetaObject::invokeMethod(exportItem, "trigger", Qt::QueuedConnection);
    ASSERT_TRUE(test::waitUntil([&] {
        return std::distance(std::filesystem::directory_iterator(rig.workspace.file("log")), {}) ==
               1;
    }));
    const auto exported = std::filesystem::directory_iterator(rig.workspace.file("log"))->path();
    EXPECT_EQ(exported.extension(), ".log");
    EXPECT_EQ(rig.workspace.readFile("log/" + exported.filename().string()),
              rig.workspace.file("KV.GDB") + "\r\n");
}

TEST(Startup, ACounterEntryThatIsNoNumberIsKeptBeforeAReportReplacesIt) {
    ConsoleRig rig(withIni("[Main]\r\nCNT=1O07\r\n"));
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    const QString text = rig.boxes.seen()[0].text;
    const QString prefix = QStringLiteral("'1O07' is not a valid integer value: [Main] CNT in ") +
                           QString::fromStdString(rig.workspace.file("Morvel.INI")) +
                           QStringLiteral("; its text is kept there as CNT_UNREADABLE_");
    ASSERT_TRUE(text.startsWith(prefix)) << text.toStdString();
    const std::string keptAs = text.mid(prefix.size() - 15).chopped(1).toStdString();
    EXPECT_EQ(counter(window), QStringLiteral("1O07"));

    rig.controller.send("<GET_ALL;CNT=3;setOut=0;>");
    EXPECT_EQ(counter(window), QStringLiteral("3"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(3) + keptAs + "=1O07\r\n");
}

TEST(Startup, AnIniFileThatCannotBeReadIsNamedAndNeverReplaced) {
    ConsoleRig rig(withIni(std::nullopt));
    std::filesystem::create_directory(rig.workspace.file("Morvel.INI"));
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text,
              QStringLiteral("Cannot read file \"") +
                  QString::fromStdString(rig.workspace.file("Morvel.INI")) +
                  QStringLiteral("\". Is a directory."));
    rig.controller.send("<GET_ALL;CNT=3;setOut=0;>");
    EXPECT_EQ(counter(window), QStringLiteral("3"));
    rig.close();
    EXPECT_TRUE(std::filesystem::is_directory(rig.workspace.file("Morvel.INI")));
}

TEST(Startup, TheWindowsLogKeepsItsNewestLinesWhileTheJournalKeepsThemAll) {
    constexpr std::size_t kLimit = 1000;
    EXPECT_EQ(ConsoleRig().console().eventLog().limit(), 100'000u);  // what a workstation keeps
    ConsoleRig rig(bareLine({.eventLogLimit = kLimit}));
    TForm1& window = rig.window();
    const std::size_t total = kLimit + 1000;
    std::string packets;
    for (std::size_t i = 1; i < total; ++i) {  // the first line is the database's
        packets += "<" + (i == 5 ? std::string("two\nlines") : "line " + std::to_string(i)) + ">";
        if (packets.size() > 4 * 1024) {
            rig.controller.send(packets);
            packets.clear();
        }
    }
    rig.controller.send(packets);
    // The notice, then the newest lines, as the window shows them.
    const auto lines = rig.logLines();
    EXPECT_EQ(lines.size(), kLimit + 1);
    EXPECT_EQ(lines.back(), "line " + std::to_string(total - 1));
    // The window shows lines in batches and the notice a few times a second.
    rig.clock.run(250ms);
    EXPECT_EQ(test::labelText(window, "Label_LogDropped"), fromCp1251(lines.front()));
    const QTextDocument* shown = test::control<QPlainTextEdit>(window, "Memo")->document();
    EXPECT_EQ(shown->blockCount(), static_cast<int>(kLimit));
    EXPECT_EQ(shown->firstBlock().text(), fromCp1251(lines[1]));
    EXPECT_EQ(shown->lastBlock().text(), fromCp1251(lines.back()));

    std::ifstream journal(rig.workspace.file("journal/") +
                          std::filesystem::directory_iterator(rig.workspace.file("journal"))
                              ->path()
                              .filename()
                              .string());
    std::size_t journalled = 0;
    for (std::string line; std::getline(journal, line);) {
        ++journalled;
    }
    EXPECT_EQ(journalled, total + 1);  // every line, the two-line packet as two
}

TEST(Startup, ARunThatEndedUncleanlyIsReportedAtTheNextStart) {
    ConsoleRig rig(withIni(test::counterIni(1)));
    rig.window();
    EXPECT_TRUE(rig.workspace.exists("velkor.running"));
    rig.endWithoutShutdown();  // gone without its shutdown, as when it is killed
    rig.workspace.writeFile("Morvel.INI.Zq81kP", test::counterIni(2));  // killed while saving
    rig.window();
    const auto lines = rig.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].find(cp1251("Прошлый запуск консоли (начат ")), 0u)
        << cp1251ToUtf8(lines[1]);
    EXPECT_NE(lines[1].find(cp1251(") завершился аварийно; проверьте базу, закрыв консоль: "
                                   "velkor-checkdb ") +
                            rig.workspace.file("KV.GDB")),
              std::string::npos)
        << cp1251ToUtf8(lines[1]);
    rig.close();
    EXPECT_FALSE(rig.workspace.exists("velkor.running"));
    EXPECT_FALSE(rig.workspace.exists("Morvel.INI.Zq81kP"));
    rig.window();
    EXPECT_EQ(rig.logLines(), std::vector<std::string>{rig.workspace.file("KV.GDB")});
}

// Two operators start the console in one folder: the second says that one runs already and
// where, and touches nothing; the folder stays the first one's.
TEST(Startup, ASecondConsoleInTheFolderSaysSoAndTouchesNothing) {
    ConsoleRig rig(withIni(test::counterIni(40)));
    rig.window();
    ASSERT_TRUE(rig.boxes.seen().empty());
    const std::string marker = rig.workspace.readFile("velkor.running");
    const auto journal = std::filesystem::directory_iterator(rig.workspace.file("journal"))->path();
    const std::string journalled = rig.workspace.readFile("journal/" + journal.filename().string());
    {
        Console secondConsole(rig.options());
        TForm1 second(secondConsole);
        EXPECT_TRUE(secondConsole.heldByAnotherConsole());
        ASSERT_EQ(rig.boxes.seen().size(), 1u);
        EXPECT_EQ(rig.boxes.seen()[0].text,
                  QString::fromStdString("В папке " + rig.workspace.path() +
                                         " уже работает консоль (запущена ") +
                      fromCp1251(marker.substr(0, marker.size() - 1)) +
                      QString::fromUtf8("); вторая консоль в той же папке не запускается."));
        EXPECT_EQ(secondConsole.lineStatus(), TLineStatus::Closed);
        second.close();
    }
    EXPECT_EQ(rig.commands(), std::vector<std::string>{"CLR_CNT"});
    EXPECT_EQ(rig.workspace.readFile("velkor.running"), marker);
    EXPECT_EQ(rig.workspace.readFile("journal/" + journal.filename().string()), journalled);
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(40));
    rig.close();
    EXPECT_FALSE(rig.workspace.exists("velkor.running"));
}

// Another account that may write the start-up directory plants links where the console keeps
// its files: the console reads and writes none of them through a link.
TEST(Startup, LinksInTheStartUpDirectoryAreNeverFollowed) {
    ConsoleRig rig(withIni(std::nullopt));
    rig.workspace.writeFile("private.txt", "[Main]\r\nCNT=5\r\nsecret\r\n");
    std::filesystem::create_symlink(rig.workspace.file("private.txt"),
                                    rig.workspace.file("Morvel.INI"));
    std::filesystem::create_symlink("/dev/zero", rig.workspace.file("velkor.running"));
    TForm1& window = rig.window();
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text,
              QString::fromStdString("Cannot open file \"" + rig.workspace.file("Morvel.INI") +
                                     "\". It is a symbolic link, which the console does not "
                                     "follow."));
    const auto lines = rig.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Cannot create file \"" + rig.workspace.file("velkor.running") +
                            "\". It is a symbolic link, which the console does not follow");
    rig.controller.send("<GET_ALL;CNT=3;setOut=0;>");
    EXPECT_EQ(counter(window), QStringLiteral("3"));
    window.close();
    for (const auto& line : rig.logLines()) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    }
    rig.close();
    EXPECT_EQ(rig.workspace.readFile("private.txt"), "[Main]\r\nCNT=5\r\nsecret\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(rig.workspace.file("Morvel.INI")));
    EXPECT_TRUE(std::filesystem::is_symlink(rig.workspace.file("velkor.running")));
}

// A busy machine's counter outgrows 32 bits; it is saved, and read back at the next start, from
// a file that an editor saved with a byte order mark.
TEST(Startup, ACounterBeyondThirtyTwoBitsCarriesOverToTheNextRun) {
    ConsoleRig rig(withIni("\xEF\xBB\xBF[Main]\r\nCNT=2147483646\r\n"));
    TForm1& window = rig.window();
    EXPECT_TRUE(rig.boxes.seen().empty());
    rig.controller.send("<GET_ALL;CNT=4;setOut=0;>");
    EXPECT_EQ(counter(window), QStringLiteral("2147483650"));
    rig.close();
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), "\xEF\xBB\xBF[Main]\r\nCNT=2147483650\r\n");
    rig.window();
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_EQ(rig.console().productionCounter().base(), 2147483650);
}

// The port list of a site: several names lead to the controller's adapter (as the links under
// /dev/serial do), so that the probe outlasts Timer1's first tick, and one listed port is gone.
// The controller has not been power-cycled since the last run: it still holds the 7 pieces it
// counted then.
TEST(StartupAtASite, TheProbesReportLeavesTheSavedTotalAndLaterReportsAddToIt) {
    QStringList listed;
    for (int i = 0; i < 8; ++i) {
        listed << QStringLiteral("/dev/serial/by-id/usb-%1").arg(i);
    }
    listed << QStringLiteral("/dev/ttyUSB-unplugged");
    ConsoleRig::Setup setup;
    setup.ini = test::counterIni(1000);
    setup.listedPorts = listed;
    setup.controller.controller.count = 7;
    ConsoleRig rig(setup);
    for (int i = 0; i < 8; ++i) {
        rig.controller.addAlias(listed[i].toStdString());
    }
    TForm1& window = rig.window();
    EXPECT_EQ(counter(window), QStringLiteral("1000"));
    EXPECT_EQ(rig.console().productionCounter().base(), 1000);
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1000));
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_THAT(rig.logLines(),
                ::testing::Contains(cp1251("Ошибка подключения ") + ConsoleRig::kControllerPort));
    // The probe asked every listed port and nothing else; start-up cleared the count, then
    // Timer1 pushed the settings once to the controller that answered, and the port that is gone
    // cost one line naming the configured port.
    rig.clock.run(2s);
    auto commands = rig.commands();
    ASSERT_EQ(commands.size(), 8u + 1 + 14) << ::testing::PrintToString(commands);
    EXPECT_EQ(std::count(commands.begin(), commands.begin() + 8, "GET_ALL"), 8);
    EXPECT_EQ(commands[8], "CLR_CNT");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "setSpeed800"), 1);
    EXPECT_EQ(rig.console().startUpState().autoPush(), ProbeReports::AutoPush::Started);

    for (std::size_t piece = 1; piece <= 2; ++piece) {
        rig.console().sendHandlePosition("100");  // each command stands alone on the line
        EXPECT_EQ(rig.commands().back(), "R_POS1629");
    }
    QTest::mouseClick(test::control<QPushButton>(window, "SpeedButton2"), Qt::LeftButton);
    rig.clock.run(50ms);
    EXPECT_EQ(counter(window), QStringLiteral("1002"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1002));
    rig.close();
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1002));
    EXPECT_EQ(counter(rig.window()), QStringLiteral("1002"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1002));
}

// An industrial PC's port list: the controller's adapter first, then spare ports that answer
// nothing and ports that answer noise. Start-up must end however the replies fall: the probe
// asks every port for its state and sends nothing else, and the settings push goes to the
// controller alone, once its port is open. The probe gives each port 150 ms; only a report
// within them starts the push, and the slowest controller here answers after a confirmed send
// has repeated.
TEST(StartupAmongOtherPorts, ThePushGoesToTheControllerAloneAndStartUpEnds) {
    for (const int replyDelay : {0, 60, 100}) {
        SCOPED_TRACE("the controller answers after " + std::to_string(replyDelay) + " ms");
        const std::string byId = "/dev/serial/by-id/usb-controller";
        QStringList listed{QString::fromLatin1(ConsoleRig::kControllerPort)};
        for (const char* spare : {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                                  "/dev/ttyUSB7", "/dev/ttyUSB8"}) {
            listed << QString::fromLatin1(spare);
        }
        ConsoleRig::Setup setup;
        setup.variables = {{"Port", byId}};
        setup.ini = test::counterIni(1000);
        setup.listedPorts = listed;
        setup.controller.controller.count = 7;
        setup.controller.replies.delay = std::chrono::milliseconds(replyDelay);
        ConsoleRig rig(setup);
        rig.controller.addAlias(byId);
        for (int i = 1; i <= 4; ++i) {
            rig.controller.addSilentDevice(listed[i].toStdString());
        }
        rig.controller.addNoisyDevice("/dev/ttyUSB7");
        rig.controller.addNoisyDevice("/dev/ttyUSB8");
        rig.window();
        EXPECT_TRUE(rig.boxes.seen().empty());
        rig.clock.run(5s);
        const auto lines = rig.logLines();
        // A slow controller's acknowledgement can come after a repeat: commands may come
        // twice, the push once.
        ASSERT_EQ(std::count(lines.begin(), lines.end(), "IMPORT GOOD!!!"), 1)
            << ::testing::PrintToString(lines);
        const auto commands = rig.commands();
        ASSERT_GE(commands.size(), 16u) << ::testing::PrintToString(commands);
        EXPECT_EQ(commands[0], "GET_ALL");
        EXPECT_EQ(commands[1], "CLR_CNT");
        EXPECT_EQ(commands.back(), "n_uporDelay50");
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "GET_ALL"), 1);
        EXPECT_GE(std::count(commands.begin(), commands.end(), "setSpeed800"), 1);
        EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1000));
        rig.close();
        for (int i = 1; i <= 6; ++i) {
            EXPECT_EQ(rig.controller.writtenTo(listed[i].toStdString()), "GET_ALL") << i;
        }
        EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1000));
    }
}

// A controller that is busy when the probe asks (slow firmware) answers after start-up has
// read the saved total: that report still carries the count from before this run, which has
// no place in the total. Reports after it count as ever.
TEST(StartupAmongOtherPorts, ALateAnswerToTheProbeLeavesTheSavedTotal) {
    ConsoleRig::Setup setup;
    setup.ini = test::counterIni(1000);
    setup.listedPorts = {QString::fromLatin1(ConsoleRig::kControllerPort)};
    setup.controller.controller.count = 7;
    setup.controller.replies.delay = 300ms;
    ConsoleRig rig(setup);
    TForm1& window = rig.window();
    rig.clock.run(500ms);
    EXPECT_EQ(rig.console().lastReply(), "CLR_CNT");  // its answers all came, the report first
    EXPECT_EQ(counter(window), QStringLiteral("1000"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1000));

    rig.controller.send("<GET_ALL;CNT=2;setOut=0;>");  // two pieces of this run
    EXPECT_EQ(counter(window), QStringLiteral("1002"));
    EXPECT_EQ(rig.workspace.readFile("Morvel.INI"), test::counterIni(1002));
    EXPECT_TRUE(rig.boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
