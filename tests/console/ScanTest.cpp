// The console's main job end to end: a barcode typed into the real window, the real job
// database, and the controller simulator at the other end of a pseudo-terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <set>

#include "ComMainForm.h"
#include "JobRowWriter.h"
#include "MessageBoxWatcher.h"
#include "PositionDispatch.h"
#include "PumpingDelay.h"
#include "SimulatorProcess.h"
#include "Text.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

class ScanTest : public ::testing::Test {
  protected:
    ScanTest() {
        workspace.createDatabase({{"Port", simulator.path()},
                                  {"L_upor", "50"},
                                  {"Qty_Imp_mm", "10"},
                                  {"L_BarCode", "9"}});
        workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=0\r\n");
        JobDatabase db;
        db.connect(workspace.file("KV.GDB"));
        JobRowWriter rows(db);
        const auto bar = rows.insertBatch("TEST");
        addPiece(rows, bar, "200000001", {"400", "100", "250.5", "100"});
        addPiece(rows, bar, "200000002", {"10", "20", "30", "40", "50", "60", "70", "80", "90"});
        for (int piece = 1; piece <= 4; ++piece) {  // four holes each, every one its own
            std::vector<std::string> holes;
            for (int hole = 1; hole <= 4; ++hole) {
                holes.push_back(std::to_string(100 * piece + 10 * hole));
            }
            addPiece(rows, bar, "40000000" + std::to_string(piece), holes);
        }
        rows.commit();
    }

    static void addPiece(JobRowWriter& rows, std::int64_t bar, const std::string& barcode,
                         const std::vector<std::string>& holes) {
        const auto piece =
            rows.insertPiece(bar, {"1000.0", "45.0", "45.0", "1", "1", "1", barcode, std::nullopt});
        for (const auto& position : holes) {
            rows.insertHole(piece, "1", position);
        }
    }

    // Types the barcode and Enter as the scanner does; returns when the dispatch is over.
    long long scan(TForm1& window, const char* barcode) {
        auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
        QTest::keyClicks(edit, QString::fromLatin1(barcode));
        const long long enter = test::monotonicMilliseconds();
        QTest::keyClick(edit, Qt::Key_Return);
        return enter;
    }

    static QStringList fields(TForm1& window) {
        QStringList texts;
        for (const char* name :
             {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8"}) {
            texts << window.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
        }
        return texts;
    }

    // Waits for the simulator to have logged `count` commands.
    void settle(std::size_t count) {
        test::waitUntil([&] { return simulator.commands().size() >= count; });
    }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::Simulator simulator{workspace.file("controller.log")};
    test::MessageBoxWatcher boxes;
};

TEST_F(ScanTest, APiecesPositionsGoToTheControllerWithTheirPauses) {
    TForm1 window;
    const long long enter = scan(window, "200000001");
    settle(4);
    const auto received = simulator.received();
    ASSERT_EQ(simulator.commands(),
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2005", "R3_POS3500"}));
    // The simulator stamps a command when it reads the first byte; on a busy machine one read
    // comes late and brings two stamps a few milliseconds closer than the 200 ms the console
    // waited. A lost pause leaves them next to each other.
    EXPECT_GE(received[1].at - enter, 150);
    EXPECT_GE(received[2].at - received[1].at, 150);
    EXPECT_GE(received[3].at - received[2].at, 150);
    EXPECT_GE(test::monotonicMilliseconds() - enter, 1700);  // the whole dispatch waits its pauses
    // Two holes at one place are one position.
    EXPECT_EQ(fields(window), (QStringList{"100", "250,5", "400", "", "", "", "", ""}));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label_Bar_Code"))->text(),
              QStringLiteral("200000001"));
    EXPECT_TRUE(window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"))->text().isEmpty());
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(ScanTest, AJobFileLoadedFromTheMenuCanBeScanned) {
    std::filesystem::create_directory(workspace.file("Job"));
    workspace.writeFile(
        "Job/menu.kv",
        "PMENU\r\nC001300000001010004500450  1  1\r\nWSCREW/1000\r\nWHANDLE/3000\r\n");
    TForm1 window;
    // Start-up's CLR_CNT stands alone on the line: the controller has taken it.
    test::waitUntil([&] { return !simulator.commands().empty(); });
    auto pick = [&](bool accept) {
        test::whenModalShows<QFileDialog>([&, accept](QFileDialog& dialog) {
            EXPECT_EQ(dialog.objectName(), QStringLiteral("OpenDialog1"));
            EXPECT_EQ(dialog.directory().absolutePath().toStdString(),
                      std::filesystem::canonical(workspace.file("Job")).string());
            EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("*.kv (*.kv)")});
            if (accept) {
                // As the operator types it: the name box has the focus.
                dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QStringLiteral("menu.kv"));
                QMetaObject::invokeMethod(&dialog, "accept");
            } else {
                dialog.reject();
            }
        });
        window.findChild<QAction*>(QStringLiteral("N2"))->trigger();
    };
    pick(false);
    EXPECT_TRUE(workspace.exists("Job/menu.kv"));
    pick(true);
    ASSERT_TRUE(test::waitUntil([&] { return window.console().load() == nullptr; }));
    EXPECT_FALSE(workspace.exists("Job/menu.kv"));
    EXPECT_TRUE(boxes.seen().empty());

    scan(window, "300000001");
    settle(3);
    EXPECT_EQ(simulator.commands(),
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2500"}));
}

TEST_F(ScanTest, NinePositionsFillEightFieldsAndOnlySevenHaveACommand) {
    TForm1 window;
    scan(window, "200000002");
    settle(8);
    EXPECT_EQ(fields(window), (QStringList{"10", "20", "30", "40", "50", "60", "70", "80"}));
    EXPECT_EQ(simulator.commands(),
              (std::vector<std::string>{"CLR_CNT", "R_POS-400", "R2_POS-300", "R3_POS-200",
                                        "R4_POS-100", "R5_POS0", "R6_POS100", "R7_POS200"}));
}

TEST_F(ScanTest, ImportSizeSendsTheFieldsAsTheyStandSkippingEmptyOnes) {
    TForm1 window;
    scan(window, "200000001");
    window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->clear();
    window.findChild<QLineEdit*>(QStringLiteral("Edit4"))->setText(QStringLiteral("60,05"));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("SpeedButton1")),
                      Qt::LeftButton);
    settle(7);
    const auto commands = simulator.commands();
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 4, commands.end()),
              (std::vector<std::string>{"R_POS500", "R3_POS3500", "R4_POS100"}));
}

TEST_F(ScanTest, AHoleWithoutAPositionLeavesItsFieldEmptyAndIsNotSent) {
    {
        FirebirdSession session;
        session.attach(workspace.file("KV.GDB"));
        session.startTransaction();
        session.execute(
            "insert into perforation (optdetailid, holetypeid, posx) select "
            "optdetailid, 1, null from optdetail where optdetailid_in = 200000001");
        session.commit();
    }
    TForm1 window;
    scan(window, "200000001");
    settle(4);
    EXPECT_EQ(fields(window), (QStringList{"", "100", "250,5", "400", "", "", "", ""}));
    EXPECT_EQ(simulator.commands(),
              (std::vector<std::string>{"CLR_CNT", "R2_POS500", "R3_POS2005", "R4_POS3500"}));
}

TEST_F(ScanTest, AFieldThatIsNotANumberStopsTheDispatchBeforeAnythingIsSent) {
    TForm1 window;
    scan(window, "200000001");
    settle(4);
    window.findChild<QLineEdit*>(QStringLiteral("Edit3"))->setText(QStringLiteral("4OO"));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("SpeedButton1")),
                      Qt::LeftButton);
    pumpingDelay(300);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("'4OO' is not a valid floating point value."));
    EXPECT_EQ(simulator.commands().size(), 4u);
}

TEST_F(ScanTest, AnUnknownPieceIsReportedInTheStatusLineWithoutABox) {
    TForm1 window;
    scan(window, "999999999");
    pumpingDelay(100);
    EXPECT_EQ(window.statusBar()->currentMessage(),
              QString::fromUtf8("Деталь 999999999 не найдена: позиций нет"));
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(simulator.commands(), std::vector<std::string>{"CLR_CNT"});
    scan(window, "200000001");  // the next scan goes on at once
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());
}

TEST_F(ScanTest, NoTextMakesTheWindowWiderThanItsScreen) {
    workspace.writeFile("Morvel.INI", "");  // the long missing-entry text on the counter
    TForm1 window;
    window.resize(1280, 1024);
    window.show();
    scan(window, std::string(10000, '7').c_str());
    window.console().state().eventLog.append(std::string(5000, 'p'));
    pumpingDelay(50);
    EXPECT_LE(window.minimumSizeHint().width(), 1280);
    EXPECT_LE(window.width(), 1280);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label_Bar_Code"))->text().size(), 40);
    for (const char* name : {"Edit1", "Edit7", "SpeedButton1"}) {
        const QWidget* control = window.findChild<QWidget*>(QString::fromLatin1(name));
        const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
        EXPECT_TRUE(window.rect().contains(inWindow)) << name;
        EXPECT_TRUE(control->isVisible()) << name;
    }
}

TEST_F(ScanTest, AScanThatIsNotANumberIsReportedAndSendsNothing) {
    TForm1 window;
    scan(window, "200000001");
    settle(4);
    scan(window, "2000x1");
    scan(window, "12345678901234567890");  // too long for the barcode column
    pumpingDelay(300);
    ASSERT_EQ(boxes.seen().size(), 2u);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("'2000x1' is not a valid integer value."));
    EXPECT_EQ(boxes.seen()[1].text,
              QStringLiteral("'12345678901234567890' is not a valid integer value."));
    EXPECT_EQ(fields(window), QStringList(8, QString()));
    EXPECT_EQ(simulator.commands().size(), 4u);
}

// The scanner types into whatever has the keyboard focus, a whole code with Enter in a few
// milliseconds.
void scanner(TForm1& window, const char* code) {
    QWidget* target = window.focusWidget();
    QTest::keyClicks(target, QString::fromLatin1(code));
    QTest::keyClick(target, Qt::Key_Return);
}

// The pace of a shift: pieces scanned 0.3 s apart, each while the one before is being sent.
// Every piece's positions go out whole and in scan order, and the status line says how many
// scans wait.
TEST_F(ScanTest, ScansThatFollowQuicklyAreSentWholeInTheirOrder) {
    TForm1 window;
    window.show();
    QString waiting;
    for (int piece = 2; piece <= 4; ++piece) {
        const std::string code = "40000000" + std::to_string(piece);
        QTimer::singleShot(300 * (piece - 1), &window,
                           [&window, code] { scanner(window, code.c_str()); });
    }
    QTimer::singleShot(750, &window, [&] {
        waiting = window.findChild<QLabel*>(QStringLiteral("Label_Status"))->text();
    });
    scanner(window, "400000001");  // the first dispatch takes up the others in turn
    std::vector<std::string> expected;
    for (int piece = 1; piece <= 4; ++piece) {
        for (int hole = 1; hole <= 4; ++hole) {
            const char* word = kPositionCommands[static_cast<std::size_t>(hole - 1)];
            expected.push_back(word + std::to_string((100 * piece + 10 * hole - 50) * 10));
        }
    }
    EXPECT_EQ(simulator.commandsOnceThereAre(1 + 16), [&] {
        expected.insert(expected.begin(), "CLR_CNT");
        return expected;
    }());
    EXPECT_EQ(waiting, QString::fromUtf8("ждут отправки: 2"));
    EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("Label_Status"))->text().isEmpty());
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label_Bar_Code"))->text(),
              QStringLiteral("400000004"));
}

// A hand correction, "Import size", and the scanner's next code: it is a scan, not more digits
// in the corrected field. A code that lands in a position field leaves the field as it was;
// a click into the log takes the keyboard from nobody.
TEST_F(ScanTest, TheBarcodeFieldKeepsTheScanner) {
    TForm1 window;
    window.show();
    auto* barcode = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
    scanner(window, "200000001");
    auto* third = window.findChild<QLineEdit*>(QStringLiteral("Edit3"));
    third->setFocus();
    third->selectAll();
    QTest::keyClicks(third, QStringLiteral("260"), Qt::NoModifier, 80);  // a person types
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("SpeedButton1")),
                      Qt::LeftButton);
    EXPECT_EQ(window.focusWidget(), barcode);
    scanner(window, "400000001");

    auto* second = window.findChild<QLineEdit*>(QStringLiteral("Edit2"));
    second->setFocus();
    scanner(window, "400000002");
    EXPECT_EQ(second->text(), QStringLiteral("120"));  // as it was: the code added nothing
    EXPECT_EQ(window.focusWidget(), barcode);

    QTest::mouseClick(window.findChild<QPlainTextEdit*>(QStringLiteral("Memo"))->viewport(),
                      Qt::LeftButton);
    EXPECT_EQ(window.focusWidget(), barcode);

    const std::vector<std::string> sent = simulator.commandsOnceThereAre(1 + 3 + 3 + 4 + 4);
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 4, sent.begin() + 7),
              (std::vector<std::string>{"R_POS500", "R2_POS2005", "R3_POS2100"}));
    EXPECT_EQ(sent[7], "R_POS600");
    EXPECT_EQ(sent[11], "R_POS1600");
    EXPECT_TRUE(boxes.seen().empty());
}

// The scanner's Enter does not close a message box the operator has not read; the code it
// ended is taken once the box is closed.
TEST_F(ScanTest, AScanWhileABoxIsOpenIsTakenOnceItCloses) {
    TForm1 window;
    window.show();
    boxes.answer(false);
    bool stayedOpen = false;
    const auto box = [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); };
    test::whenTrue([&] { return box() != nullptr && box()->focusWidget() != nullptr; },
                   [&] {
                       QTest::keyClicks(box()->focusWidget(), QStringLiteral("400000003"));
                       QTest::keyClick(box()->focusWidget(), Qt::Key_Return);
                       stayedOpen = box()->isVisible();
                       box()->done(QMessageBox::Ok);
                   });
    scanner(window, "abc");  // not a barcode: the error box
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(simulator.commandsOnceThereAre(1 + 4),
              (std::vector<std::string>{"CLR_CNT", "R_POS2600", "R2_POS2700", "R3_POS2800",
                                        "R4_POS2900"}));
}

// A large job file loads beside the window: the status bar shows how far it is, a scan made
// meanwhile goes out at once, and the load is on record when it ends.
TEST_F(ScanTest, ALargeLoadRunsBesideTheWindowWhichShowsHowFarItIs) {
    std::filesystem::create_directory(workspace.file("Job"));
    {
        std::ofstream big(workspace.file("Job/big.kv"), std::ios::binary);
        big << "PBIG\r\n";
        for (int piece = 0; piece < 40000; ++piece) {
            big << "C001" << 500000000 + piece << "012000450004500  1  1\r\nWSCREW/1000\r\n"
                << "WSCREW/2000\r\n";
        }
    }
    TForm1 window;
    window.show();
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar_Load"));
    std::set<int> shown;
    bool loadingWhenScanned = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (bar->isVisible()) {
            shown.insert(bar->value());
        }
        if (!loadingWhenScanned && bar->isVisible() && bar->value() >= 10) {
            loadingWhenScanned = true;
            scanner(window, "200000001");  // goes out while the load goes on
        }
    });
    long long loadEndedAt = 0;
    QObject::connect(&window.console(), &Console::loadEnded,
                     [&] { loadEndedAt = test::monotonicMilliseconds(); });
    sampler.start(20);
    test::whenModalShows<QFileDialog>([](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("big.kv"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    window.findChild<QAction*>(QStringLiteral("N2"))->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return window.console().load() == nullptr; }, 120000));
    EXPECT_TRUE(loadingWhenScanned);
    EXPECT_GE(shown.size(), 3u);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(simulator.commandsOnceThereAre(4),
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2005", "R3_POS3500"}));
    ASSERT_EQ(simulator.received().size(), 4u);
    EXPECT_LT(simulator.received()[1].at, loadEndedAt);  // the scan did not wait for the load
    const std::string loaded = window.console().state().eventLog.lines().back();
    EXPECT_EQ(loaded.find(cp1251("Загружен big.kv: строк 120001, деталей 40000, отверстий 80000")),
              0u)
        << cp1251ToUtf8(loaded);
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_FALSE(workspace.exists("Job/big.kv"));
}

}  // namespace
}  // namespace velkor
