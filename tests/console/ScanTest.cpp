// The console's main job on the rig: a barcode typed into the window, the piece looked up, its
// positions sent to the controller with their pauses.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest/QTest>
#include <algorithm>

#include "ConsoleRig.h"
#include "PositionDispatch.h"
#include "Text.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::ConsoleRig;

// A controller's workstation with L_upor 50 and 10 impulses a millimetre, and a batch of pieces.
class ScanTest : public ::testing::Test {
  protected:
    ScanTest() {
        rig.addPiece("200000001", {400.0, 100.0, 250.5, 100.0});
        rig.addPiece("200000002", {10.0, 20.0, 30.0, 40.0, 50.0, 60.0, 70.0, 80.0, 90.0});
        for (int piece = 1; piece <= 4; ++piece) {  // four holes each, every one its own
            std::vector<std::optional<double>> holes;
            for (int hole = 1; hole <= 4; ++hole) {
                holes.emplace_back(100 * piece + 10 * hole);
            }
            rig.addPiece("40000000" + std::to_string(piece), holes);
        }
    }

    // What was sent after start-up's CLR_CNT.
    std::vector<std::string> dispatched() {
        auto commands = rig.commands();
        EXPECT_EQ(commands.front(), "CLR_CNT");
        return {commands.begin() + 1, commands.end()};
    }

    void click(const char* button) {
        QTest::mouseClick(test::control<QPushButton>(rig.window(), button), Qt::LeftButton);
    }

    ConsoleRig rig{{.variables = {{"L_upor", "50"}, {"Qty_Imp_mm", "10"}, {"L_BarCode", "9"}}}};
};

TEST_F(ScanTest, APiecesPositionsGoToTheControllerWithTheirPauses) {
    TForm1& window = rig.window();
    const auto enter = rig.clock.now();
    test::scan(window, "200000001");
    EXPECT_EQ(rig.clock.now() - enter, 1700ms);  // the whole dispatch waits its pauses
    EXPECT_EQ(dispatched(), (std::vector<std::string>{"R_POS500", "R2_POS2005", "R3_POS3500"}));
    const auto received = rig.controller.received();
    EXPECT_EQ(received[1].at - enter, 150ms);
    EXPECT_EQ(received[2].at - received[1].at, 200ms);
    EXPECT_EQ(received[3].at - received[2].at, 200ms);
    // Two holes at one place are one position.
    EXPECT_EQ(test::positionFields(window),
              (QStringList{"100", "250,5", "400", "", "", "", "", ""}));
    EXPECT_EQ(test::labelText(window, "Label_Bar_Code"), QStringLiteral("200000001"));
    EXPECT_TRUE(test::control<QLineEdit>(window, "Edit_BarCode")->text().isEmpty());
    EXPECT_TRUE(rig.boxes.seen().empty());
}

TEST_F(ScanTest, NinePositionsFillEightFieldsAndOnlySevenHaveACommand) {
    test::scan(rig.window(), "200000002");
    EXPECT_EQ(test::positionFields(rig.window()),
              (QStringList{"10", "20", "30", "40", "50", "60", "70", "80"}));
    EXPECT_EQ(dispatched(),
              (std::vector<std::string>{"R_POS-400", "R2_POS-300", "R3_POS-200", "R4_POS-100",
                                        "R5_POS0", "R6_POS100", "R7_POS200"}));
}

TEST_F(ScanTest, ImportSizeSendsTheFieldsAsTheyStandSkippingEmptyOnes) {
    test::scan(rig.window(), "200000001");
    test::control<QLineEdit>(rig.window(), "Edit2")->clear();
    test::control<QLineEdit>(rig.window(), "Edit4")->setText(QStringLiteral("60,05"));
    click("SpeedButton1");
    const auto sent = dispatched();
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 3, sent.end()),
              (std::vector<std::string>{"R_POS500", "R3_POS3500", "R4_POS100"}));
}

TEST_F(ScanTest, AHoleWithoutAPositionLeavesItsFieldEmptyAndIsNotSent) {
    rig.database->pieces["200000001"].push_back(std::nullopt);
    test::scan(rig.window(), "200000001");
    EXPECT_EQ(test::positionFields(rig.window()),
              (QStringList{"", "100", "250,5", "400", "", "", "", ""}));
    EXPECT_EQ(dispatched(), (std::vector<std::string>{"R2_POS500", "R3_POS2005", "R4_POS3500"}));
}

TEST_F(ScanTest, AFieldThatIsNotANumberStopsTheDispatchBeforeAnythingIsSent) {
    test::scan(rig.window(), "200000001");
    test::control<QLineEdit>(rig.window(), "Edit3")->setText(QStringLiteral("4OO"));
    click("SpeedButton1");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text,
              QStringLiteral("'4OO' is not a valid floating point value."));
    EXPECT_EQ(dispatched().size(), 3u);
}

// A label that is no barcode, scanned between two pieces while the first goes out, costs only
// itself: the piece behind it still goes out, and its error is shown once the queue is done.
TEST_F(ScanTest, ABadLabelInTheQueueCostsOnlyItself) {
    TForm1& window = rig.window();
    const auto start = rig.clock.now();
    rig.clock.at(start + 300ms, [&window] { test::scanner(window, "abc"); });
    rig.clock.at(start + 600ms, [&window] { test::scanner(window, "400000002"); });
    test::scanner(window, "400000001");
    const std::vector<std::string> sent = dispatched();
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(sent[4], "R_POS1600");
    ASSERT_EQ(rig.boxes.seen().size(), 1u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("'abc' is not a valid integer value."));
    EXPECT_TRUE(std::ranges::any_of(rig.console().eventLog().lines(), [](const std::string& line) {
        return line.ends_with(cp1251("Скан abc не отправлен: 'abc' is not a valid integer value"));
    }));
}

TEST_F(ScanTest, AnUnknownPieceIsReportedInTheStatusLineWithoutABox) {
    TForm1& window = rig.window();
    test::scan(window, "999999999");
    EXPECT_EQ(window.statusBar()->currentMessage(),
              QString::fromUtf8("Деталь 999999999 не найдена: позиций нет"));
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_TRUE(dispatched().empty());
    test::scan(window, "200000001");  // the next scan goes on at once
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());
}

TEST(Scan, NoTextMakesTheWindowWiderThanItsScreen) {
    ConsoleRig rig({.ini = ""});  // the long missing-entry text on the counter
    TForm1& window = rig.window();
    window.resize(1280, 1024);
    window.show();
    test::scan(window, std::string(10000, '7'));
    rig.controller.send("<" + std::string(5000, 'p') + ">");
    QCoreApplication::processEvents();
    EXPECT_LE(window.minimumSizeHint().width(), 1280);
    EXPECT_LE(window.width(), 1280);
    EXPECT_EQ(test::labelText(window, "Label_Bar_Code").size(), 40);
    for (const char* name : {"Edit1", "Edit7", "SpeedButton1"}) {
        const QWidget* control = test::control(window, name);
        const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
        EXPECT_TRUE(window.rect().contains(inWindow)) << name;
        EXPECT_TRUE(control->isVisible()) << name;
    }
}

TEST_F(ScanTest, AScanThatIsNotANumberIsReportedAndSendsNothing) {
    TForm1& window = rig.window();
    test::scan(window, "200000001");
    test::scan(window, "2000x1");
    test::scan(window, "12345678901234567890");  // too long for the barcode column
    ASSERT_EQ(rig.boxes.seen().size(), 2u);
    EXPECT_EQ(rig.boxes.seen()[0].text, QStringLiteral("'2000x1' is not a valid integer value."));
    EXPECT_EQ(rig.boxes.seen()[1].text,
              QStringLiteral("'12345678901234567890' is not a valid integer value."));
    EXPECT_EQ(test::positionFields(window), QStringList(8, QString()));
    EXPECT_EQ(dispatched().size(), 3u);
}

// The pace of a shift: pieces scanned 0.3 s apart, each while the one before is being sent.
// Every piece's positions go out whole and in scan order, and the status line says how many
// scans wait.
TEST_F(ScanTest, ScansThatFollowQuicklyAreSentWholeInTheirOrder) {
    TForm1& window = rig.window();
    window.show();
    const auto start = rig.clock.now();
    QString waiting;
    for (int piece = 2; piece <= 4; ++piece) {
        rig.clock.at(start + 300ms * (piece - 1), [&window, piece] {
            test::scanner(window, "40000000" + std::to_string(piece));
        });
    }
    rig.clock.at(start + 750ms, [&] { waiting = test::labelText(window, "Label_Status"); });
    test::scanner(window, "400000001");  // the first dispatch takes up the others in turn
    std::vector<std::string> expected;
    for (int piece = 1; piece <= 4; ++piece) {
        for (int hole = 1; hole <= 4; ++hole) {
            const char* word = kPositionCommands[static_cast<std::size_t>(hole - 1)];
            expected.push_back(word + std::to_string((100 * piece + 10 * hole - 50) * 10));
        }
    }
    EXPECT_EQ(dispatched(), expected);
    EXPECT_EQ(waiting, QString::fromUtf8("ждут отправки: 2"));
    EXPECT_TRUE(test::labelText(window, "Label_Status").isEmpty());
    EXPECT_EQ(test::labelText(window, "Label_Bar_Code"), QStringLiteral("400000004"));
}

// A lookup that takes its time (a database whose pages are not yet read) runs inside the pause
// before the piece's first position; a piece that waited still gets the whole pause after the
// dispatch before it.
TEST_F(ScanTest, TheLookupTakesItsTimeInsideThePauseBeforeThePiece) {
    rig.database->lookingUp = [this] { rig.clock.run(40ms); };
    rig.window();
    const auto enter = rig.clock.now();
    rig.clock.at(enter + 300ms, [this] { rig.console().scan("400000002"); });
    rig.console().scan("400000001");
    const auto received = rig.controller.received();
    ASSERT_EQ(received.size(), 9u);
    EXPECT_EQ(received[1].at - enter, 150ms);
    EXPECT_EQ(received[5].at - enter, 1700ms + 150ms);
}

// The operator clicks "Показать" and "STEP" at all sorts of moments while queued pieces go out,
// faster than anyone clicks (so clicks meet each other too): the controller, which ends a
// command by its quiet gap, takes every click and every position as a command of its own.
TEST_F(ScanTest, ClicksWhilePiecesGoOutNeverRunTogetherWithAPosition) {
    TForm1& window = rig.window();
    window.show();
    const auto start = rig.clock.now();
    for (int piece = 2; piece <= 3; ++piece) {
        rig.clock.at(start + 300ms * (piece - 1),
                     [this, piece] { rig.console().scan("40000000" + std::to_string(piece)); });
    }
    int clicks = 0;
    for (auto at = start + 7ms; at < start + 5200ms; at += 53ms) {
        rig.clock.at(
            at, [this, &clicks] { click(++clicks % 20 == 0 ? "Speed_step" : "SpeedButton2"); });
    }
    rig.console().scan("400000001");
    rig.clock.run(300ms);
    std::vector<std::string> positions;
    int requests = 0;
    for (const std::string& command : dispatched()) {
        if (command == "GET_ALL" || command == "GET_STEP") {
            ++requests;
        } else {
            positions.push_back(command);
        }
    }
    EXPECT_EQ(requests, clicks);
    std::vector<std::string> expected;
    for (int piece = 1; piece <= 3; ++piece) {
        for (int hole = 1; hole <= 4; ++hole) {
            const char* word = kPositionCommands[static_cast<std::size_t>(hole - 1)];
            expected.push_back(word + std::to_string((100 * piece + 10 * hole - 50) * 10));
        }
    }
    EXPECT_EQ(positions, expected);
}

// The operator closes the window while a piece goes out and another waits: no position follows
// the shutdown's request for the count, the piece stops before its next position, and the log
// says what was not sent.
TEST_F(ScanTest, ClosingWhilePiecesGoOutSendsTheCountRequestLast) {
    TForm1& window = rig.window();
    window.show();
    const auto start = rig.clock.now();
    rig.clock.at(start + 300ms, [this] { rig.console().scan("400000002"); });
    rig.clock.at(start + 450ms, [&window] { window.close(); });
    rig.console().scan("400000001");
    rig.clock.run(500ms);
    EXPECT_EQ(dispatched(), (std::vector<std::string>{"R_POS600", "R2_POS700", "GET_ALL"}));
    const auto log = rig.logLines();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        cp1251("Консоль закрывается; позиций детали не отправлено: 2")),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        cp1251("Консоль закрывается; не отправлено сканов и нажатий \"Import "
                               "size\", ждавших очереди: 1")),
              log.end());
}

// A hand correction, "Import size", and the scanner's next code: it is a scan, not more digits
// in the corrected field. A code that lands in a position field leaves the field as it was;
// a click into the log takes the keyboard from nobody.
TEST_F(ScanTest, TheBarcodeFieldKeepsTheScanner) {
    TForm1& window = rig.window();
    window.show();
    auto* barcode = test::control<QLineEdit>(window, "Edit_BarCode");
    test::scanner(window, "200000001");
    rig.clock.run(10ms);
    auto* third = test::control<QLineEdit>(window, "Edit3");
    third->setFocus();
    third->selectAll();
    for (const char key : {'2', '6', '0'}) {  // a person types
        QTest::keyClick(third, key);
        rig.clock.run(80ms);
    }
    click("SpeedButton1");
    EXPECT_EQ(window.focusWidget(), barcode);
    test::scanner(window, "400000001");
    rig.clock.run(10ms);

    auto* second = test::control<QLineEdit>(window, "Edit2");
    second->setFocus();
    test::scanner(window, "400000002");
    EXPECT_EQ(second->text(), QStringLiteral("120"));  // as it was: the code added nothing
    EXPECT_EQ(window.focusWidget(), barcode);
    rig.clock.run(10ms);

    QTest::mouseClick(test::control<QPlainTextEdit>(window, "Memo")->viewport(), Qt::LeftButton);
    EXPECT_EQ(window.focusWidget(), barcode);

    const std::vector<std::string> sent = dispatched();
    ASSERT_EQ(sent.size(), 3u + 3 + 4 + 4);
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 3, sent.begin() + 6),
              (std::vector<std::string>{"R_POS500", "R2_POS2005", "R3_POS2100"}));
    EXPECT_EQ(sent[6], "R_POS600");
    EXPECT_EQ(sent[10], "R_POS1600");
    EXPECT_TRUE(rig.boxes.seen().empty());
}

// The scanner's Enter does not close a message box the operator has not read; the code it
// ended is taken once the box is closed.
TEST_F(ScanTest, AScanWhileABoxIsOpenIsTakenOnceItCloses) {
    TForm1& window = rig.window();
    window.show();
    rig.boxes.answer(false);
    bool stayedOpen = false;
    const auto box = [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); };
    test::whenTrue([&] { return box() != nullptr && box()->focusWidget() != nullptr; },
                   [&] {
                       QTest::keyClicks(box()->focusWidget(), QStringLiteral("400000003"));
                       QTest::keyClick(box()->focusWidget(), Qt::Key_Return);
                       stayedOpen = box()->isVisible();
                       box()->done(QMessageBox::Ok);
                   });
    test::scanner(window, "abc");  // not a barcode: the error box
    ASSERT_TRUE(test::waitUntil([&] { return rig.controller.commands().size() > 1; }));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(dispatched(),
              (std::vector<std::string>{"R_POS2600", "R2_POS2700", "R3_POS2800", "R4_POS2900"}));
}

}  // namespace
}  // namespace velkor
