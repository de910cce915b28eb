#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
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
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "ComMainForm.h"
#include "MessageBoxWatcher.h"
#include "Numbers.h"
#include "PseudoTerminal.h"
#include "PumpingDelay.h"
#include "SimulatorProcess.h"
#include "Text.h"
#include "U_Set_Form.h"
#include "Version.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

const QString kMissingCounter = QString::fromUtf8("Ошибка в названии параметров : MAIN = CNT");

// A workspace made current, with a watcher for the error boxes that start-up may show.
class StartupTest : public ::testing::Test {
  protected:
    template <typename Widget = QWidget>
    static Widget* control(QWidget& window, const char* name) {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static QString counter(TForm1& window) { return control<QLabel>(window, "Label_CNT")->text(); }

    // KV.GDB with these variables, its Port naming the pseudo-terminal where the controller
    // would be.
    void createDatabase(std::vector<std::pair<std::string, std::string>> variables = {}) {
        variables.emplace_back("Port", controller.path());
        workspace.createDatabase(variables);
    }

    test::PseudoTerminal controller;
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::MessageBoxWatcher boxes;
};

TEST_F(StartupTest, LogsTheDatabaseLoadsTheVariablesAndShowsTheIniCounter) {
    createDatabase({{"Qty_Imp_mm", "16.3"}, {"L_upor", "50"}, {"pwd", "7"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1234\r\n");
    TForm1 window;

    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(window.console().state().startupDirectory, workspace.path());
    ASSERT_FALSE(window.console().state().eventLog.lines().empty());
    EXPECT_EQ(window.console().state().eventLog.lines().front(), workspace.file("KV.GDB"));
    EXPECT_TRUE(test::waitUntil([&] {
        return control<QPlainTextEdit>(window, "Memo")->toPlainText() ==
               QString::fromStdString(workspace.file("KV.GDB"));
    }));
    EXPECT_EQ(window.console().state().variables.Qty_Imp_mm, readReal("16,3"));
    EXPECT_EQ(window.console().state().variables.pwd, "7");
    EXPECT_EQ(counter(window), QStringLiteral("1234"));
    EXPECT_EQ(window.console().productionCounter().base(), 1234);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Velkor v.4  11.08.2021  Production by Morvel"));
    EXPECT_FALSE(control<QTimer>(window, "Timer1")->isActive());
    EXPECT_EQ(window.focusWidget(), control(window, "Edit_BarCode"));
    EXPECT_TRUE(window.console().port().Connected());
    EXPECT_EQ(controller.read(7), "CLR_CNT");
}

TEST_F(StartupTest, TheControllersPacketsReachTheEventLogInOrderHoweverTheyAreCut) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    TForm1 window;
    EXPECT_EQ(controller.read(7), "CLR_CNT");
    controller.write("\r\n<CLR_CNT><GET_ALL;CNT=3;");
    pumpingDelay(50);
    controller.write(std::string("setOut=0;>noise<build_time: ", 28));
    pumpingDelay(50);
    controller.write(cp1251("ошибка>"));
    test::waitUntil([&] { return window.console().state().eventLog.lines().size() >= 3; });
    // The state report is not logged; its count goes to the counter.
    EXPECT_EQ(window.console().state().eventLog.lines(),
              (std::vector<std::string>{workspace.file("KV.GDB"), "CLR_CNT",
                                        "build_time: " + cp1251("ошибка")}));
    EXPECT_EQ(counter(window), QStringLiteral("3"));
    EXPECT_EQ(window.console().state().lastReply, "build_time: " + cp1251("ошибка"));
}

TEST_F(StartupTest, ShutdownAsksTheControllerForItsCountBeforeSavingIt) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    {
        TForm1 window;
        EXPECT_EQ(controller.read(7), "CLR_CNT");
        window.close();
        EXPECT_EQ(controller.read(7), "GET_ALL");
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=100\r\n");
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(StartupTest, AShutdownWithoutALineStillSavesTheCounter) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    {
        TForm1 window;
        controller.write("<GET_ALL;CNT=20;>");  // counts on from the saved 100
        ASSERT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("120"); }));
        window.console().port().ClosePort();  // the line is gone: "GET_ALL" cannot be sent
        window.close();
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=120\r\n");
    EXPECT_TRUE(boxes.seen().empty());
}

// The blank is kept, so the port cannot be opened: the box names the port, the counter is
// still read, and the port is waited for in the status bar.
TEST_F(StartupTest, APortNameWithALeadingBlankFailsToOpenAndIsNamedAndWaitedFor) {
    workspace.createDatabase({{"Port", " " + controller.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    {
        TForm1 window;
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text,
                  QString::fromStdString("Порт  " + controller.path() +
                                         ": Unable to open com port (Error: 2). Консоль откроет "
                                         "его сама, как только он станет доступен."));
        EXPECT_EQ(window.console().state().variables.Port, " " + controller.path());
        EXPECT_FALSE(window.console().port().Connected());
        EXPECT_EQ(window.console().port().LineStatus(), TLineStatus::Lost);
        EXPECT_TRUE(control<QLabel>(window, "Label_Line")
                        ->text()
                        .startsWith(QString::fromStdString("Порт  " + controller.path() + ": ")));
        EXPECT_EQ(counter(window), QStringLiteral("100"));
        EXPECT_FALSE(control<QTimer>(window, "Timer1")->isActive());
        window.close();  // no line to ask: shutdown still ends
    }
    EXPECT_EQ(controller.read(1, 200), "");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=100\r\n");
}

// A USB adapter that the system lists only after the console has started: start-up reads the
// counter and finishes, the port is taken up once it is there, and start-up's CLR_CNT follows
// so that the controller counts from zero; its reports then add to the saved total.
TEST_F(StartupTest, AnAdapterThatAppearsAfterStartUpIsTakenUpAndCountsFromZero) {
    const std::string link = workspace.file("ttyUSB-late");
    workspace.createDatabase({{"Port", link}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    TForm1 window;
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(QString::fromStdString("Порт " + link + ": ")))
        << boxes.seen()[0].text.toStdString();
    EXPECT_EQ(counter(window), QStringLiteral("100"));
    EXPECT_EQ(window.console().port().LineStatus(), TLineStatus::Lost);

    std::filesystem::create_symlink(controller.path(), link);  // the adapter is plugged in
    std::string sent;  // read while the console's event loop runs
    EXPECT_TRUE(test::waitUntil([&] {
        sent += controller.read(7 - sent.size(), 10);
        return sent.size() >= 7;
    }));
    EXPECT_EQ(sent, "CLR_CNT");
    EXPECT_TRUE(window.console().port().Connected());
    controller.write("<GET_ALL;CNT=4;setOut=0;>");
    EXPECT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("104"); }));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=104\r\n");
    EXPECT_TRUE(
        control<QLabel>(window, "Label_Line")->text().endsWith(QString::fromUtf8("открыт")));
    EXPECT_EQ(boxes.seen().size(), 1u);
}

TEST_F(StartupTest, StateReportsShowAndSaveTheCounterAtOnceAndItCarriesOverToTheNextRun) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=100\r\n");
    {
        TForm1 window;
        EXPECT_EQ(controller.read(7), "CLR_CNT");
        controller.write("<GET_ALL;CNT=17;setOut=2;>");
        test::waitUntil([&] { return counter(window) == QStringLiteral("117"); });
        EXPECT_EQ(counter(window), QStringLiteral("117"));
        EXPECT_EQ(window.console().state().outputState, 2);
        // Saved before any shutdown: a power failure now keeps the 17 pieces.
        EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=117\r\n");
        EXPECT_EQ(window.console().state().eventLog.lines().size(), 1u);  // reports are not logged
        // The controller answers the shutdown's "GET_ALL" within its 200 ms wait.
        std::string asked;
        std::thread controllerSide([&] {
            asked = controller.read(7);
            controller.write("<GET_ALL;CNT=20;setOut=2;>");
        });
        window.close();
        controllerSide.join();
        EXPECT_EQ(asked, "GET_ALL");
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=120\r\n");
    TForm1 next;
    EXPECT_EQ(counter(next), QStringLiteral("120"));
    EXPECT_EQ(next.console().productionCounter().base(), 120);
}

TEST_F(StartupTest, TheMissingEntryTextIsShownButNeverSavedAsTheCounter) {
    createDatabase();
    {
        TForm1 window;
        EXPECT_EQ(counter(window), kMissingCounter);
        window.close();
    }
    EXPECT_FALSE(workspace.exists("Morvel.INI"));
}

TEST_F(StartupTest, TheMainWindowHasEveryControlWithItsCaptionAndVisibility) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    TForm1 window;
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
        auto* button = control<QPushButton>(window, name);
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
        EXPECT_EQ(control<QLabel>(window, name)->text(), QString::fromUtf8(caption)) << name;
        EXPECT_EQ(control<QLabel>(window, name)->isVisible(), shown) << name;
    }
    for (const char* name :
         {"Edit_BarCode", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit9"}) {
        EXPECT_TRUE(control<QLineEdit>(window, name)->isVisible()) << name;
        EXPECT_TRUE(control<QLineEdit>(window, name)->text().isEmpty()) << name;
    }
    EXPECT_EQ(control<QGroupBox>(window, "GroupBox2")->title(),
              QString::fromUtf8("Параметры для ручки"));
    EXPECT_FALSE(control(window, "GroupBox2")->isVisible());
    EXPECT_FALSE(control(window, "ListBoxPort")->isVisible());
    EXPECT_TRUE(control<QPlainTextEdit>(window, "Memo")->isReadOnly());
    EXPECT_EQ(control<QLabel>(window, "Image1")->pixmap().size(), QSize(260, 96));
    EXPECT_FALSE(control<QLabel>(window, "Label1")->text().isEmpty());

    QStringList menu;
    for (QAction* top : window.menuBar()->actions()) {
        menu << top->text();
        if (top->menu() != nullptr) {
            for (QAction* item : top->menu()->actions()) {
                menu << QStringLiteral("  ") + item->text();
            }
        }
    }
    EXPECT_EQ(menu, (QStringList{QString::fromUtf8("Файл"), QString::fromUtf8("  Загрузить"),
                                 QStringLiteral("  Export log"), QString::fromUtf8("Настройки"),
                                 QString::fromUtf8("О программе")}));

    const std::vector<std::tuple<const char*, int, bool>> timers = {
        {"Timer1", 1000, false}, {"Timer2", 500, true}, {"Timer3", 3000, false}};
    for (const auto& [name, interval, active] : timers) {
        EXPECT_EQ(control<QTimer>(window, name)->interval(), interval) << name;
        EXPECT_EQ(control<QTimer>(window, name)->isActive(), active) << name;
    }
}

// Qt's own texts are Russian too; both windows fit the screen (the offscreen one is 800 x 600)
// and carry the program's icon; the version is a menu away.
TEST_F(StartupTest, TheWindowsSpeakRussianFitTheScreenAndTellTheVersion) {
    createDatabase({{"pwd", ""}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    TForm1 window;
    TSet_Form settings(window.console());
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

    boxes.answer(false);
    QString about;
    test::whenModalShows<QMessageBox>([&](QMessageBox& box) {
        about = box.text();
        box.accept();
    });
    window.findChild<QAction*>(QStringLiteral("N5"))->trigger();
    EXPECT_TRUE(about.endsWith(QString::fromLatin1(kVersion))) << about.toStdString();
}

TEST_F(StartupTest, AFreshWorkspaceWithoutIniShowsTheMissingEntryAndReportsItsConversion) {
    createDatabase();
    TForm1 window;
    EXPECT_EQ(counter(window), kMissingCounter);
    EXPECT_EQ(window.console().productionCounter().base(), 0);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("'") + kMissingCounter +
                                        QStringLiteral("' is not a valid integer value."));
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("Velkor QN704"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Critical);
}

TEST_F(StartupTest, AMissingDatabaseStopsStartUpButTheWindowStillWorks) {
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=5\r\n");
    std::filesystem::create_directory(workspace.file("log"));
    TForm1 window;
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("KV.GDB")))
        << boxes.seen()[0].text.toStdString();
    EXPECT_EQ(window.console().state().eventLog.lines(),
              std::vector<std::string>{workspace.file("KV.GDB")});
    EXPECT_EQ(counter(window), QStringLiteral("0"));
    EXPECT_TRUE(control<QTimer>(window, "Timer1")->isActive());

    // The event loop runs on: the log export from the menu still works.
    QMetaObject::invokeMethod(window.findChild<QAction*>(QStringLiteral("N3")), "trigger",
                              Qt::QueuedConnection);
    EXPECT_TRUE(test::waitUntil([&] {
        return std::distance(std::filesystem::directory_iterator(workspace.file("log")), {}) == 1;
    }));
    // The settings would show zeros and a push would send them: the gate stays shut.
    window.findChild<QAction*>(QStringLiteral("N4"))->trigger();
    ASSERT_EQ(boxes.seen().size(), 2u);
    EXPECT_TRUE(
        boxes.seen()[1].text.startsWith(QString::fromUtf8("Машинные переменные не загружены")))
        << boxes.seen()[1].text.toStdString();
}

// A workspace whose VARIABLES lacks the impulse factor (a variables file whose first key an
// editor's byte order mark spoilt): a scan says which variable is missing and sends nothing.
TEST_F(StartupTest, AScanWithoutTheImpulseFactorSendsNothingAndSaysWhy) {
    createDatabase({{"L_upor", "50"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
    TForm1 window;
    EXPECT_EQ(controller.read(7), "CLR_CNT");
    auto* barcode = control<QLineEdit>(window, "Edit_BarCode");
    QTest::keyClicks(barcode, QStringLiteral("200000001"));
    QTest::keyClick(barcode, Qt::Key_Return);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(
        boxes.seen()[0].text.startsWith(QString::fromUtf8("Нет машинных переменных "
                                                          "Qty_Imp_mm (")))
        << boxes.seen()[0].text.toStdString();
    EXPECT_EQ(controller.read(1, 300), "");
}

TEST_F(StartupTest, ABadVariableStopsStartUpBeforeTheCounterIsRead) {
    createDatabase({{"setSpeed", "800"}, {"SH_S", "12.5mm"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=5\r\n");
    TForm1 window;
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text,
              QStringLiteral("'12,5mm' is not a valid floating point value."));
    EXPECT_EQ(window.console().state().variables.setSpeed, 800);
    EXPECT_EQ(counter(window), QStringLiteral("0"));
}

TEST_F(StartupTest, ShutdownSavesTheCounterLabelAndKeepsTheRestOfTheIni) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nR_DELTA=12,5\r\ncnt=77\r\n");
    {
        TForm1 window;
        window.show();
        controller.write("<GET_ALL;CNT=3;>");  // counts on from the saved 77
        ASSERT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("80"); }));
        window.close();
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nR_DELTA=12,5\r\nCNT=80\r\n");
}

TEST_F(StartupTest, ExportFromTheMenuWritesTheLogAndAMissingFolderIsReported) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=3\r\n");
    TForm1 window;
    QAction* exportItem = window.findChild<QAction*>(QStringLiteral("N3"));
    ASSERT_NE(exportItem, nullptr);

    QMetaObject::invokeMethod(exportItem, "trigger", Qt::QueuedConnection);
    ASSERT_TRUE(test::waitUntil([&] { return !boxes.seen().empty(); }));
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(QStringLiteral("Cannot create file \"") +
                                                QString::fromStdString(workspace.file("log/"))));
    EXPECT_TRUE(
        boxes.seen()[0].text.endsWith(QStringLiteral(".log\". No such file or directory.")));
    // What a box said is on record in the journal, with its time.
    const auto day = std::filesystem::directory_iterator(workspace.file("journal"))->path();
    EXPECT_NE(
        workspace.readFile("journal/" + day.filename().string())
            .find(cp1251("Показано сообщение: Cannot create file \"") + workspace.file("log/")),
        std::string::npos);

    std::filesystem::create_directory(workspace.file("log"));
    QMetaObject::invokeMethod(exportItem, "trigger", Qt::QueuedConnection);
    test::waitUntil([&] {
        return std::distance(std::filesystem::directory_iterator(workspace.file("log")), {}) == 1;
    });
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(workspace.file("log")), {}), 1);
    const auto exported = std::filesystem::directory_iterator(workspace.file("log"))->path();
    EXPECT_EQ(exported.extension(), ".log");
    EXPECT_EQ(workspace.readFile("log/" + exported.filename().string()),
              workspace.file("KV.GDB") + "\r\n");
}

TEST_F(StartupTest, ACounterEntryThatIsNoNumberIsKeptBeforeAReportReplacesIt) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1O07\r\n");
    TForm1 window;
    ASSERT_EQ(boxes.seen().size(), 1u);
    const QString text = boxes.seen()[0].text;
    const QString prefix = QStringLiteral("'1O07' is not a valid integer value: [Main] CNT in ") +
                           QString::fromStdString(workspace.file("Morvel.INI")) +
                           QStringLiteral("; its text is kept there as CNT_UNREADABLE_");
    ASSERT_TRUE(text.startsWith(prefix)) << text.toStdString();
    const std::string keptAs = text.mid(prefix.size() - 15).chopped(1).toStdString();
    EXPECT_EQ(counter(window), QStringLiteral("1O07"));

    controller.write("<GET_ALL;CNT=3;setOut=0;>");
    ASSERT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("3"); }));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=3\r\n" + keptAs + "=1O07\r\n");
}

TEST_F(StartupTest, AnIniFileThatCannotBeReadIsNamedAndNeverReplaced) {
    createDatabase();
    std::filesystem::create_directory(workspace.file("Morvel.INI"));
    {
        TForm1 window;
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("Cannot read file \"") +
                                            QString::fromStdString(workspace.file("Morvel.INI")) +
                                            QStringLiteral("\". Is a directory."));
        controller.write("<GET_ALL;CNT=3;setOut=0;>");
        ASSERT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("3"); }));
        window.close();
    }
    EXPECT_TRUE(std::filesystem::is_directory(workspace.file("Morvel.INI")));
}

TEST_F(StartupTest, TheWindowsLogKeepsItsNewestLinesWhileTheJournalKeepsThemAll) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1\r\n");
    TForm1 window;
    const std::size_t total = EventLog::kDefaultLimit + 1000;
    for (std::size_t i = 1; i < total; ++i) {  // the first line is the database's
        window.console().state().eventLog.append(i == 5 ? "two\nlines"
                                                        : "line " + std::to_string(i));
    }
    // The notice, then the newest lines, as the window shows them.
    const auto lines = window.console().state().eventLog.lines();
    EXPECT_EQ(lines.size(), EventLog::kDefaultLimit + 1);
    EXPECT_EQ(lines.back(), "line " + std::to_string(total - 1));
    EXPECT_TRUE(test::waitUntil([&] {
        return control<QLabel>(window, "Label_LogDropped")->text() == fromCp1251(lines.front());
    }));
    const QTextDocument* shown = control<QPlainTextEdit>(window, "Memo")->document();
    EXPECT_EQ(shown->blockCount(), static_cast<int>(EventLog::kDefaultLimit));
    EXPECT_EQ(shown->firstBlock().text(), fromCp1251(lines[1]));
    EXPECT_EQ(shown->lastBlock().text(), fromCp1251(lines.back()));

    std::ifstream journal(
        workspace.file("journal/") +
        std::filesystem::directory_iterator(workspace.file("journal"))->path().filename().string());
    std::size_t journalled = 0;
    for (std::string line; std::getline(journal, line);) {
        ++journalled;
    }
    EXPECT_EQ(journalled, total + 1);  // every line, the two-line packet as two
}

TEST_F(StartupTest, ARunThatEndedUncleanlyIsReportedAtTheNextStart) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1\r\n");
    std::optional<TForm1> crashed;
    crashed.emplace();
    EXPECT_TRUE(workspace.exists("velkor.running"));
    crashed.reset();  // gone without its shutdown, as when it is killed
    workspace.writeFile("Morvel.INI.Zq81kP", "[Main]\r\nCNT=2\r\n");  // killed while saving
    {
        TForm1 next;
        const auto& lines = next.console().state().eventLog.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1].find(cp1251("Прошлый запуск консоли (начат ")), 0u)
            << cp1251ToUtf8(lines[1]);
        EXPECT_NE(lines[1].find(cp1251(") завершился аварийно; проверьте базу, закрыв консоль: "
                                       "velkor-checkdb ") +
                                workspace.file("KV.GDB")),
                  std::string::npos)
            << cp1251ToUtf8(lines[1]);
        next.close();
    }
    EXPECT_FALSE(workspace.exists("velkor.running"));
    EXPECT_FALSE(workspace.exists("Morvel.INI.Zq81kP"));
    TForm1 clean;
    EXPECT_EQ(clean.console().state().eventLog.lines(),
              std::vector<std::string>{workspace.file("KV.GDB")});
}

// The port list of a site: several names lead to the controller's adapter (as the links under
// /dev/serial do), so that the probe outlasts Timer1's first tick, and one listed port is gone.
class StartupAtASite : public ::testing::Test {
  protected:
    StartupAtASite() {
        QStringList listed;
        for (int i = 0; i < 8; ++i) {
            listed << QString::fromStdString(workspace.file("by-id-" + std::to_string(i)));
            std::filesystem::create_symlink(controller.path(), listed.back().toStdString());
        }
        listed << QString::fromStdString(workspace.file("unplugged"));
        ::setenv(kSerialPortsVariable, listed.join(u':').toLocal8Bit().constData(), 1);
        workspace.createDatabase(test::Workspace::siteVariables({{"Port", controller.path()}}));
    }
    ~StartupAtASite() override { ::unsetenv(kSerialPortsVariable); }

    static QString counter(TForm1& window) {
        return window.findChild<QLabel*>(QStringLiteral("Label_CNT"))->text();
    }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::MessageBoxWatcher boxes;
    // Not power-cycled since the last run: it still holds the 7 pieces it counted then.
    test::Simulator controller{workspace.file("controller.log"),
                               {QStringLiteral("--count"), QStringLiteral("7")}};
};

TEST_F(StartupAtASite, TheProbesReportLeavesTheSavedTotalAndLaterReportsAddToIt) {
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1000\r\n");
    {
        TForm1 window;
        EXPECT_EQ(counter(window), QStringLiteral("1000"));
        EXPECT_EQ(window.console().productionCounter().base(), 1000);
        EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1000\r\n");
        EXPECT_TRUE(boxes.seen().empty());
        EXPECT_THAT(window.console().state().eventLog.lines(),
                    ::testing::Contains(cp1251("Ошибка подключения ") + controller.path()));
        // The probe asked every listed port and nothing else; start-up cleared the count, then
        // Timer1 pushed the settings once to the controller that answered, and the port that
        // is gone cost one line naming the configured port.
        auto commands = controller.commandsOnceThereAre(8 + 1 + 14);
        ASSERT_EQ(commands.size(), 8u + 1 + 14);
        EXPECT_EQ(std::count(commands.begin(), commands.begin() + 8, "GET_ALL"), 8);
        EXPECT_EQ(commands[8], "CLR_CNT");
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "setSpeed800"), 1);

        for (std::size_t piece = 1; piece <= 2; ++piece) {
            window.console().port().SendText("R_POS1000");  // each command stands alone on the line
            EXPECT_EQ(controller.commandsOnceThereAre(commands.size() + piece).back(), "R_POS1000");
        }
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("SpeedButton2")),
                          Qt::LeftButton);
        EXPECT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("1002"); }));
        EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1002\r\n");
        window.close();
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1002\r\n");
    TForm1 next;
    EXPECT_EQ(counter(next), QStringLiteral("1002"));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1002\r\n");
}

// A device on another listed port that answers whatever reaches it with noise (a modem, a
// scale, a second adapter's loose end).
class NoisyDevice {
  public:
    NoisyDevice()
        : answering_([this] {
              while (!stopping_) {
                  if (!line_.read(1, 20).empty()) {
                      try {
                          line_.write("\x15?ERR>>\xff<<<no", 200);
                      } catch (const std::runtime_error&) {
                          // nobody reads: the next request brings the next answer
                      }
                  }
              }
          }) {}
    ~NoisyDevice() {
        stopping_ = true;
        answering_.join();
    }
    const std::string& path() const { return line_.path(); }

  private:
    test::PseudoTerminal line_;
    std::atomic<bool> stopping_{false};
    std::thread answering_;
};

// An industrial PC's port list: the controller's adapter first, then spare ports that answer
// nothing and ports that answer noise. Start-up must end however the replies fall: the probe
// asks every port for its state and sends nothing else, and the settings push goes to the
// controller alone, once its port is open.
//
// The probe gives each port 150 ms; only a report within them starts the push, so the slowest
// controller here answers well inside them (its delay, plus the simulator's 20 ms quiet gap,
// plus whatever a busy machine adds) and still slower than a confirmed send waits.
TEST(StartupAmongOtherPorts, ThePushGoesToTheControllerAloneAndStartUpEnds) {
    for (const int replyDelay : {0, 60, 100}) {
        SCOPED_TRACE("the controller answers after " + std::to_string(replyDelay) + " ms");
        test::Workspace workspace;
        test::CurrentDirectory current{workspace.path()};
        test::MessageBoxWatcher boxes;
        test::Simulator controller{workspace.file("controller.log"),
                                   {QStringLiteral("--count"), QStringLiteral("7"),
                                    QStringLiteral("--delay"), QString::number(replyDelay)}};
        std::vector<std::unique_ptr<test::PseudoTerminal>> silent(4);
        std::vector<std::unique_ptr<NoisyDevice>> noisy(2);
        QStringList listed{QString::fromStdString(controller.path())};
        for (auto& port : silent) {
            port = std::make_unique<test::PseudoTerminal>();
            listed << QString::fromStdString(port->path());
        }
        for (auto& port : noisy) {
            port = std::make_unique<NoisyDevice>();
            listed << QString::fromStdString(port->path());
        }
        // The controller's adapter goes by a name of its own, as /dev/serial/by-id gives it.
        const std::string byId = workspace.file("usb-controller");
        std::filesystem::create_symlink(controller.path(), byId);
        workspace.createDatabase(test::Workspace::siteVariables({{"Port", byId}}));
        workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1000\r\n");
        ::setenv(kSerialPortsVariable, listed.join(u':').toLocal8Bit().constData(), 1);
        {
            TForm1 window;
            ::unsetenv(kSerialPortsVariable);
            EXPECT_TRUE(boxes.seen().empty());
            // A slow controller's acknowledgement can come after a repeat: commands may come
            // twice, the push once.
            ASSERT_TRUE(test::waitUntil(
                [&] {
                    const auto lines = window.console().state().eventLog.lines();
                    return std::count(lines.begin(), lines.end(), "IMPORT GOOD!!!") == 1;
                },
                8000))
                << ::testing::PrintToString(window.console().state().eventLog.lines());
            const auto commands = controller.commands();
            ASSERT_GE(commands.size(), 16u) << ::testing::PrintToString(commands);
            EXPECT_EQ(commands[0], "GET_ALL");
            EXPECT_EQ(commands[1], "CLR_CNT");
            EXPECT_EQ(commands.back(), "n_uporDelay50");
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "GET_ALL"), 1);
            EXPECT_GE(std::count(commands.begin(), commands.end(), "setSpeed800"), 1);
            EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1000\r\n");
            window.close();
        }
        for (auto& port : silent) {
            EXPECT_EQ(port->read(64, 100), "GET_ALL");
        }
        EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1000\r\n");
    }
}

// A controller that is busy when the probe asks (slow firmware) answers after start-up has
// read the saved total: that report still carries the count from before this run, which has
// no place in the total. Reports after it count as ever.
TEST(StartupAmongOtherPorts, ALateAnswerToTheProbeLeavesTheSavedTotal) {
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::MessageBoxWatcher boxes;
    test::PseudoTerminal controller;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1000\r\n");
    std::thread busy([&] {
        if (controller.read(7) == "GET_ALL") {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the late answer
            controller.write("<GET_ALL;CNT=7;setOut=0;><LATE>");
        }
    });
    ::setenv(kSerialPortsVariable, controller.path().c_str(), 1);
    TForm1 window;
    ::unsetenv(kSerialPortsVariable);
    busy.join();
    ASSERT_TRUE(test::waitUntil([&] { return window.console().state().lastReply == "LATE"; }));
    const auto counter = [&] {
        return window.findChild<QLabel*>(QStringLiteral("Label_CNT"))->text();
    };
    EXPECT_EQ(counter(), QStringLiteral("1000"));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1000\r\n");

    controller.write("<GET_ALL;CNT=2;setOut=0;>");  // two pieces of this run
    EXPECT_TRUE(test::waitUntil([&] { return counter() == QStringLiteral("1002"); }));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1002\r\n");
    EXPECT_TRUE(boxes.seen().empty());
}

// Two operators start the console in one folder: the second says that one runs already and
// where, and touches nothing; the folder stays the first one's.
TEST_F(StartupTest, ASecondConsoleInTheFolderSaysSoAndTouchesNothing) {
    createDatabase();
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=40\r\n");
    TForm1 first;
    ASSERT_TRUE(boxes.seen().empty());
    EXPECT_EQ(controller.read(7), "CLR_CNT");
    const std::string marker = workspace.readFile("velkor.running");
    const auto journal = std::filesystem::directory_iterator(workspace.file("journal"))->path();
    const std::string journalled = workspace.readFile("journal/" + journal.filename().string());
    {
        TForm1 second;
        EXPECT_TRUE(second.console().heldByAnotherConsole());
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text,
                  QString::fromStdString("В папке " + workspace.path() +
                                         " уже работает консоль (запущена ") +
                      fromCp1251(marker.substr(0, marker.size() - 1)) +
                      QString::fromUtf8("); вторая консоль в той же папке не запускается."));
        EXPECT_FALSE(second.console().port().Connected());
        second.close();
    }
    EXPECT_EQ(controller.read(1, 200), "");
    EXPECT_EQ(workspace.readFile("velkor.running"), marker);
    EXPECT_EQ(workspace.readFile("journal/" + journal.filename().string()), journalled);
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=40\r\n");
    first.close();
    EXPECT_FALSE(workspace.exists("velkor.running"));
}

// Another account that may write the start-up directory plants links where the console keeps
// its files: the console reads and writes none of them through a link.
TEST_F(StartupTest, LinksInTheStartUpDirectoryAreNeverFollowed) {
    createDatabase();
    workspace.writeFile("private.txt", "[Main]\r\nCNT=5\r\nsecret\r\n");
    std::filesystem::create_symlink(workspace.file("private.txt"), workspace.file("Morvel.INI"));
    std::filesystem::create_symlink("/dev/zero", workspace.file("velkor.running"));
    {
        TForm1 window;
        ASSERT_EQ(boxes.seen().size(), 1u);
        EXPECT_EQ(boxes.seen()[0].text,
                  QString::fromStdString("Cannot open file \"" + workspace.file("Morvel.INI") +
                                         "\". It is a symbolic link, which the console does not "
                                         "follow."));
        const auto& lines = window.console().state().eventLog.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1], "Cannot create file \"" + workspace.file("velkor.running") +
                                "\". It is a symbolic link, which the console does not follow");
        controller.write("<GET_ALL;CNT=3;setOut=0;>");
        EXPECT_TRUE(test::waitUntil([&] { return counter(window) == QStringLiteral("3"); }));
        window.close();
        for (const auto& line : window.console().state().eventLog.lines()) {
            EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(workspace.readFile("private.txt"), "[Main]\r\nCNT=5\r\nsecret\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(workspace.file("Morvel.INI")));
    EXPECT_TRUE(std::filesystem::is_symlink(workspace.file("velkor.running")));
}

// A busy machine's counter outgrows 32 bits; it is saved, and read back at the next start, from
// a file that an editor saved with a byte order mark.
TEST_F(StartupTest, ACounterBeyondThirtyTwoBitsCarriesOverToTheNextRun) {
    createDatabase();
    // Saved by an editor that puts a byte order mark first.
    workspace.writeFile("Morvel.INI", "\xEF\xBB\xBF[Main]\r\nCNT=2147483646\r\n");
    {
        TForm1 window;
        EXPECT_TRUE(boxes.seen().empty());
        controller.write("<GET_ALL;CNT=4;setOut=0;>");
        ASSERT_TRUE(
            test::waitUntil([&] { return counter(window) == QStringLiteral("2147483650"); }));
        window.close();
    }
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "\xEF\xBB\xBF[Main]\r\nCNT=2147483650\r\n");
    TForm1 next;
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(next.console().productionCounter().base(), 2147483650);
}

}  // namespace
}  // namespace velkor
