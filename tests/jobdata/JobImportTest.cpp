#include "JobImport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ErrorText.h"
#include "JobRowWriter.h"
#include "LocalMoment.h"
#include "Numbers.h"
#include "ReadBack.h"
#include "Schema.h"
#include "SqlScript.h"
#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

using test::errorOf;

// A piece record of the worked example: number 007, the barcode, length 0123 and 4 tenths,
// angles 045 0 and 090 0, trolley "  3", cell " 12", the comment LEFT padded to 32.
std::string pieceRecord(const std::string& number, const std::string& barcode,
                        const std::string& comment = "LEFT") {
    std::string line = "C" + number + barcode + "01234" + "0450" + "0900" + "  3" + " 12" + comment;
    line.resize(line.size() + 32 - comment.size(), ' ');
    return line;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::istringstream in(text);
    JobFileLines lines(in);
    std::vector<std::string> all;
    for (std::string line; lines.next(line);) {
        all.push_back(line);
    }
    return all;
}

TEST(JobFileRecords, LinesEndAtLfCrLfOrCrAndCtrlZEndsTheFile) {
    EXPECT_EQ(linesOf("\xEF\xBB\xBFP1\r\nC2\nW\r3\r\n\r\nlast"),
              (std::vector<std::string>{"P1", "C2", "W", "3", "", "last"}));
    EXPECT_EQ(linesOf("P1\nC2\x1a"
                      "C3\nW4\n"),
              (std::vector<std::string>{"P1", "C2"}));
    EXPECT_TRUE(linesOf("").empty());
}

TEST(JobFileRecords, PieceFieldsMoveWithTheBarcodeLength) {
    const PieceRow piece = readPieceRecord(pieceRecord("007", "123456789"), 9);
    EXPECT_EQ(piece.number, "7");
    EXPECT_EQ(piece.barcode, "123456789");
    EXPECT_EQ(piece.length, "123.4");
    EXPECT_EQ(piece.firstAngle, "45.0");
    EXPECT_EQ(piece.secondAngle, "90.0");
    EXPECT_EQ(piece.trolley, "3");
    EXPECT_EQ(piece.cell, "12");
    EXPECT_EQ(piece.comment, "LEFT");

    const PieceRow shorter = readPieceRecord(
        "C000654321"
        "00000"
        "0000"
        "0000"
        "  0"
        "  0",
        6);
    EXPECT_EQ(shorter.number, "0");
    EXPECT_EQ(shorter.barcode, "654321");
    EXPECT_EQ(shorter.length, "0.0");
    EXPECT_EQ(shorter.comment, std::nullopt);  // a comment that is not there is null
    EXPECT_EQ(readPieceRecord(pieceRecord("001", "123456789", ""), 9).comment, std::nullopt);

    EXPECT_EQ(errorOf([] { readPieceRecord("C007123", 9); }), "'' is not a valid integer value");
    EXPECT_EQ(errorOf([] { readPieceRecord(pieceRecord("0A7", "123456789"), 9); }),
              "'0A7' is not a valid integer value");
    // Trolley and cell lose their blanks; the length field must not have trailing ones.
    EXPECT_EQ(errorOf([] { readPieceRecord("C001123456789 12 4", 9); }),
              "' 12 ' is not a valid integer value");
}

TEST(JobFileRecords, HolePositionsAreTenthsWrittenWithAFullStop) {
    EXPECT_EQ(readHoleRecord("WSCREW/1234").position, "123.4");
    const HoleRecord hole = readHoleRecord("W  HANDLE / 1230 /extra       ");
    EXPECT_EQ(hole.code, "HANDLE");
    EXPECT_EQ(hole.position, "123");
    EXPECT_EQ(readHoleRecord("WSCREW/5").position, "0.5");
    EXPECT_EQ(errorOf([] { readHoleRecord("WSCREW/12a"); }),
              "'12a' is not a valid floating point value");
    EXPECT_NE(errorOf([] { readHoleRecord("WSCREW"); }).find("SCREW"), std::string::npos);
    EXPECT_NE(errorOf([] { readHoleRecord("W"); }), "no error");

    // The separator stays a full stop under a locale with a decimal comma.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr) {
        EXPECT_EQ(readHoleRecord("WSCREW/2505").position, "250.5");
        std::setlocale(LC_NUMERIC, previous.c_str());
    }
}

// 6 December 2026, 09:05:03 local time.
std::tm sixDecemberMorning() {
    return test::localMoment(2026, 12, 6, 9, 5, 3);
}

TEST(JobFileRecords, TheStampReplacesTheExtension) {
    EXPECT_EQ(importStamp(sixDecemberMorning()), "6122026_95_3");
    EXPECT_EQ(importedFileName("job1.kv", "S"), "job1.S");
    EXPECT_EQ(importedFileName("a.b.kv", "S"), "a.S");
    EXPECT_EQ(importedFileName("job", "S"), "S");
}

using test::readBack;

class JobImportTest : public ::testing::Test {
  protected:
    JobImportTest() {
        workspace.createDatabase();
        database.connect(workspace.file("KV.GDB"));
        std::filesystem::create_directory(workspace.file("Job"));
    }

    std::string job(const std::string& name) const { return workspace.file("Job/" + name); }
    void import(const std::string& name) { importJobFile(database, job(name), 9, kStart); }
    long long count(const std::string& table) {
        return readBack(workspace.file("KV.GDB"), "select count(*) from " + table)[0][0]
            .asInteger();
    }
    std::vector<std::string> jobFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(workspace.file("Job"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::time_t kStart = [] {
        std::tm moment = sixDecemberMorning();
        return std::mktime(&moment);
    }();

    test::Workspace workspace;
    JobDatabase database;
};

TEST_F(JobImportTest, BatchesPiecesAndHolesArriveAndTheFileIsRenamed) {
    workspace.writeFile("Job/job1.kv", "PORDER 'A'           \r\n" +
                                           pieceRecord("007", "123456789") +
                                           "\r\nWSCREW/1000\r\nWHANDLE/2505\r\n"
                                           "p skipped\r\nc skipped\r\nw skipped\r\n\r\n"
                                           "Xnot a record\r\n" +
                                           pieceRecord("008", "123456790", "") +
                                           "\r\nWSCREW/5\r\n\x1a"
                                           "Pignored\r\n");
    import("job1.kv");
    EXPECT_EQ(jobFolder(), std::vector<std::string>{"job1.6122026_95_3"});

    const std::string kv = workspace.file("KV.GDB");
    const auto batches = readBack(kv, "select name from grorders");
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0][0].asText(), "ORDER 'A'");
    const auto bars = readBack(kv,
                               "select o.qty, g.kod, o.longprof, o.ostat, o.colorin, o.coloruot "
                               "from optimized o join goods g on g.goodsid = o.goodsid");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0][1].asText(), "VIRT");
    for (int column : {0, 4, 5}) {
        EXPECT_EQ(bars[0][column].asInteger(), 1);
    }
    EXPECT_EQ(bars[0][2].asReal(), 0.0);
    EXPECT_EQ(bars[0][3].asReal(), 0.0);

    const auto pieces = readBack(kv,
                                 "select itemlong, ug1, ug2, num, telegano, cell, optdetailid_in, "
                                 "rcomment from optdetail order by num");
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_DOUBLE_EQ(pieces[0][0].asReal(), 123.4);
    EXPECT_DOUBLE_EQ(pieces[0][1].asReal(), 45.0);
    EXPECT_DOUBLE_EQ(pieces[0][2].asReal(), 90.0);
    EXPECT_EQ(pieces[0][3].asInteger(), 7);
    EXPECT_EQ(pieces[0][4].asInteger(), 3);
    EXPECT_EQ(pieces[0][5].asInteger(), 12);
    EXPECT_EQ(pieces[0][6].asInteger(), 123456789);
    EXPECT_EQ(pieces[0][7].asText(), "LEFT");
    EXPECT_TRUE(pieces[1][7].isNull());

    EXPECT_EQ(database.readPiecePositions("123456789"),
              (std::vector<std::optional<double>>{100, 250.5}));
    EXPECT_EQ(database.readPiecePositions("123456790"), (std::vector<std::optional<double>>{0.5}));
}

TEST_F(JobImportTest, AFileWithoutASingleRecordIsRefusedAndKeepsItsName) {
    for (const std::string& contents :
         {std::string(), std::string("barcode;length\r\n100000001;1200\r\n"),
          std::string("\x01\x02\x1aPBATCH\r\n")}) {
        workspace.writeFile("Job/a.b.kv", contents);
        EXPECT_EQ(errorOf([&] { import("a.b.kv"); }),
                  cp1251("Файл a.b.kv не загружен: в нём нет ни одной записи P, C или W"));
        EXPECT_EQ(jobFolder(), std::vector<std::string>{"a.b.kv"});
    }
    EXPECT_EQ(count("grorders"), 0);
}

TEST_F(JobImportTest, AFailingLineRollsBackTheWholeFileWhichCanThenBeLoadedOnce) {
    const std::string good = "PBATCH\n" + pieceRecord("001", "100000001") + "\nWSCREW/1000\n" +
                             pieceRecord("002", "100000002") + "\nWSCREW/2000\n";
    for (const auto& [last, error] : std::vector<std::pair<std::string, std::string>>{
             {"C003100000003", "'' is not a valid integer value"},
             {pieceRecord("003", "10000000A"), "conversion error"},
             {"WNOSUCH/1000", "NOSUCH"},
             {"WSCREW 1000", "SCREW"},
             {"WSCREW/10x0", "'10x0' is not a valid floating point value"},
             {std::string("WSCREW/1\0x0", 11), "'1\\0x0' is not a valid floating point value"},
             {"WSCREW/-50", cp1251("позиция отверстия -5 мм отрицательна")}}) {
        workspace.writeFile("Job/job2.kv", good + last + "\n");
        const std::string message = errorOf([&] { import("job2.kv"); });
        EXPECT_NE(message.find(cp1251("Файл job2.kv не загружен, ошибка в строке 6: ")),
                  std::string::npos)
            << cp1251ToUtf8(message);
        EXPECT_NE(message.find(error), std::string::npos) << cp1251ToUtf8(message);
        EXPECT_EQ(jobFolder(), std::vector<std::string>{"job2.kv"});
        EXPECT_EQ(count("grorders"), 0);
        EXPECT_EQ(count("optimized"), 0);
        EXPECT_EQ(count("optdetail"), 0);
        EXPECT_EQ(count("perforation"), 0);
    }

    workspace.writeFile("Job/job2.kv", good);
    import("job2.kv");
    EXPECT_EQ(count("grorders"), 1);
    EXPECT_EQ(count("optdetail"), 2);
    EXPECT_EQ(database.readPiecePositions("100000002"), std::vector<std::optional<double>>{200});
}

// The engine takes a file's records many at a time; the record it refuses is named with its
// own line wherever it stands in its block, and nothing of the file stays.
TEST_F(JobImportTest, ARefusedRecordIsNamedWhereverItStandsInItsBlock) {
    const long perBlock = static_cast<long>(JobRowWriter::kPiecesPerBlock);
    const long lastLine = 3 * perBlock + 3;  // the last block is not full
    // Early in the first block, in its middle, its last and the next one's first, the file's last.
    for (const long refused : {2L, perBlock / 2, perBlock + 1, perBlock + 2, lastLine}) {
        std::string file = "PBATCH\n";  // line 1; pieces from line 2 on
        for (long line = 2; line <= lastLine; ++line) {
            const std::string number = std::to_string(100000000 + line);
            file += pieceRecord("001", line == refused ? "10000000A" : number) + "\n";
        }
        workspace.writeFile("Job/many.kv", file);
        const std::string message = errorOf([&] { import("many.kv"); });
        EXPECT_EQ(message.find(cp1251("Файл many.kv не загружен, ошибка в строке ") +
                               std::to_string(refused) + ": "),
                  0u)
            << cp1251ToUtf8(message);
        EXPECT_NE(message.find("conversion error"), std::string::npos) << cp1251ToUtf8(message);
        EXPECT_EQ(count("optdetail"), 0);
        EXPECT_EQ(jobFolder(), std::vector<std::string>{"many.kv"});
    }
    // A record the engine refuses comes before a later line that the console refuses itself.
    workspace.writeFile("Job/two.kv",
                        "PBATCH\n" + pieceRecord("001", "10000000A") + "\nWSCREW/10x0\n");
    EXPECT_NE(errorOf([&] { import("two.kv"); }).find(cp1251("ошибка в строке 2: ")),
              std::string::npos);
}

// A position whose impulses the controller could not hold is refused with its line; a hole
// beyond the end of its piece loads, and the import says so.
TEST_F(JobImportTest, HolesNoDispatchCouldSendAreRefusedAndOnesBeyondTheirPieceNoted) {
    const JobImportOptions limits{{10, 50}, {}};
    const std::string piece = "PBATCH\n" + pieceRecord("001", "100000001") + "\n";  // 123.4 mm
    workspace.writeFile("Job/far.kv", piece + "WSCREW/1000\nWSCREW/99999999999\n");
    EXPECT_NE(errorOf([&] { importJobFile(database, job("far.kv"), 9, kStart, limits); })
                  .find(cp1251("ошибка в строке 4: позицию отверстия 9999999999.9 мм контроллер "
                               "не примет")),
              std::string::npos);
    EXPECT_EQ(count("perforation"), 0);

    workspace.writeFile("Job/long.kv", piece + "WSCREW/1000\nWSCREW/2505\n");
    EXPECT_EQ(importJobFile(database, job("long.kv"), 9, kStart, limits).notices,
              std::vector<std::string>{cp1251("Файл long.kv, строка 4: отверстие на 250.5 мм "
                                              "дальше конца детали (123.4 мм)")});
    EXPECT_EQ(count("perforation"), 2);
}

// The optimiser re-exports a corrected job: its pieces replace the earlier ones for the scan,
// and the load says how many. The same content again, under any name, is refused.
TEST_F(JobImportTest, ACorrectedReExportWinsAndTheSameContentLoadsOnce) {
    const auto job = [](const char* first, const char* second) {
        return "PJOB\n" + pieceRecord("001", "100000001") + "\nWSCREW/" + first + "\nWSCREW/" +
               second + "\n" + pieceRecord("002", "100000002") + "\nWSCREW/" + first + "\n";
    };
    workspace.writeFile("Job/job.kv", job("1000", "4000"));
    EXPECT_EQ(importJobFile(database, this->job("job.kv"), 9, kStart).superseded, 0);
    workspace.writeFile("Job/fixed.kv", job("1500", "4500"));
    const JobImportReport fixed = importJobFile(database, this->job("fixed.kv"), 9, kStart);
    EXPECT_EQ(fixed.superseded, 2);
    EXPECT_EQ(fixed.pieces, 2);
    EXPECT_EQ(database.readPiecePositions("100000001"),
              (std::vector<std::optional<double>>{150, 450}));

    workspace.writeFile("Job/again.kv", job("1500", "4500"));
    const std::string refused = errorOf([&] { import("again.kv"); });
    EXPECT_EQ(refused.find(cp1251("Файл again.kv не загружен: файл с тем же содержимым уже "
                                  "загружен 20")),
              0u)
        << cp1251ToUtf8(refused);
    EXPECT_NE(refused.find("(fixed.kv)"), std::string::npos) << cp1251ToUtf8(refused);
    EXPECT_EQ(count("optdetail"), 4);
    EXPECT_TRUE(workspace.exists("Job/again.kv"));
}

// Files as they arrive: still being copied (cut inside a record, or growing while read), with
// line ends of another system, with an editor's byte order mark.
TEST_F(JobImportTest, OnlyWholeFilesLoadWhateverTheirLineEnds) {
    const std::string piece = "PJOB\n" + pieceRecord("001", "100000001") + "\n";
    workspace.writeFile("Job/cut.kv", piece + "WSCREW/1000\nWSCREW/25");
    EXPECT_NE(errorOf([&] {
                  import("cut.kv");
              }).find(cp1251("ошибка в строке 4: последняя запись обрывается без конца строки")),
              std::string::npos);

    std::string many = piece;
    for (int hole = 0; hole < 5000; ++hole) {
        many += "WSCREW/1000\n";
    }
    workspace.writeFile("Job/growing.kv", many);
    JobImportOptions copying;
    copying.progress = [&](const JobImportReport&) {
        std::ofstream(job("growing.kv"), std::ios::app) << "WSCREW/2000\n";  // the copy goes on
        return true;
    };
    EXPECT_NE(errorOf([&] {
                  importJobFile(database, job("growing.kv"), 9, kStart, copying);
              }).find(cp1251("файл изменился, пока читались его")),
              std::string::npos);
    // Deleted while it is read (a colleague tidies the folder): the message names it.
    copying.progress = [&](const JobImportReport&) {
        std::filesystem::remove(job("growing.kv"));
        return true;
    };
    EXPECT_EQ(errorOf([&] { importJobFile(database, job("growing.kv"), 9, kStart, copying); }),
              cp1251("Файл growing.kv не загружен: файл удалён или переименован, пока он читался"));
    EXPECT_EQ(count("perforation"), 0);
    EXPECT_EQ(jobFolder(), (std::vector<std::string>{"cut.kv"}));

    workspace.writeFile("Job/mac.kv", "\xEF\xBB\xBF" + pieceRecord("003", "100000003") +
                                          "\rWSCREW/1000\rWSCREW/2000\r");
    workspace.writeFile("Job/first.kv", piece);
    import("first.kv");
    import("mac.kv");
    EXPECT_EQ(database.readPiecePositions("100000003"),
              (std::vector<std::optional<double>>{100, 200}));
}

TEST_F(JobImportTest, RecordsBeforeAnyParentJoinTheLastOneOfAnEarlierImport) {
    workspace.writeFile("Job/first.kv", "PFIRST\n" + pieceRecord("001", "100000001") + "\n");
    import("first.kv");
    workspace.writeFile("Job/second.kv",
                        "WSCREW/1000\n" + pieceRecord("002", "100000002") + "\nWSCREW/2000\n");
    import("second.kv");
    EXPECT_EQ(count("optimized"), 1);
    EXPECT_EQ(database.readPiecePositions("100000001"), std::vector<std::optional<double>>{100});
    EXPECT_EQ(database.readPiecePositions("100000002"), std::vector<std::optional<double>>{200});
}

TEST_F(JobImportTest, AContinuationAfterAFailedImportLinksToTheNewestParentThereIs) {
    workspace.writeFile("Job/first.kv", "PFIRST\n" + pieceRecord("001", "100000001") + "\n");
    import("first.kv");
    // Rolled back, but its inserts drew keys that no row will ever have.
    workspace.writeFile("Job/failed.kv",
                        "PFAILED\n" + pieceRecord("002", "100000002") + "\nWNOSUCH/10\n");
    EXPECT_NE(errorOf([&] { import("failed.kv"); }), "no error");
    workspace.writeFile("Job/next.kv",
                        "WSCREW/1000\n" + pieceRecord("003", "100000003") + "\nWSCREW/2000\n");
    import("next.kv");
    EXPECT_EQ(database.readPiecePositions("100000001"), std::vector<std::optional<double>>{100});
    EXPECT_EQ(database.readPiecePositions("100000003"), std::vector<std::optional<double>>{200});

    // In a database with nothing to continue, a leading hole or piece has no parent.
    JobDatabase empty;
    test::Workspace other;
    other.createDatabase();
    empty.connect(other.file("KV.GDB"));
    for (const auto& [orphan, error] : std::vector<std::pair<std::string, std::string>>{
             {"WSCREW/1000",
              "отверстие стоит перед первой деталью (C), а в базе нет ни одной детали"},
             {pieceRecord("004", "100000004"),
              "деталь стоит перед первой партией (P), а в базе нет ни одной партии"}}) {
        workspace.writeFile("Job/orphan.kv", orphan + "\n");
        EXPECT_EQ(errorOf([&] { importJobFile(empty, job("orphan.kv"), 9, kStart); }),
                  cp1251("Файл orphan.kv не загружен, ошибка в строке 1: ") + cp1251(error));
    }
}

// Older job databases name their key columns otherwise, or declare no primary keys at all.
TEST(JobImportOnOtherSchemas, ParentsAreFoundWhateverTheirKeyColumnsAreCalled) {
    const std::string schema(jobDatabaseSchema());
    auto renamed = [&](std::vector<std::pair<std::string, std::string>> replacements) {
        std::string text = schema;
        for (const auto& [from, to] : replacements) {
            for (auto at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                text.replace(at, from.size(), to);
            }
        }
        return text;
    };
    const std::vector<std::string> schemas = {
        renamed({{"GRORDERSID  INTEGER NOT NULL", "GR_KEY INTEGER NOT NULL"},
                 {"GRORDERS (GRORDERSID)", "GRORDERS (GR_KEY)"},
                 {"NEW.GRORDERSID", "NEW.GR_KEY"},
                 {"OPTIMIZEDID INTEGER NOT NULL", "BAR INTEGER NOT NULL"},
                 {"OPTIMIZED (OPTIMIZEDID)", "OPTIMIZED (BAR)"},
                 {"NEW.OPTIMIZEDID", "NEW.BAR"}}),
        renamed({{" NOT NULL PRIMARY KEY", " NOT NULL"},
                 {" REFERENCES ", " /* "},
                 {"ID),", "ID) */,"}}),
    };
    for (const std::string& text : schemas) {
        test::Workspace workspace;
        {
            FirebirdSession session;
            session.create(workspace.file("KV.GDB"));
            for (const auto& statement : splitSqlScript(text)) {
                session.startTransaction();
                session.execute(statement);
                session.commit();
            }
        }
        std::filesystem::create_directory(workspace.file("Job"));
        // Blocks of records follow one another, each taking the parents the last one left.
        std::string job = "PBATCH\n" + pieceRecord("001", "100000001") + "\nWSCREW/1000\n";
        for (int piece = 2; piece <= 100; ++piece) {
            job += pieceRecord("001", std::to_string(100000000 + piece)) + "\nWSCREW/3000\n";
        }
        workspace.writeFile("Job/job.kv", job);
        workspace.writeFile("Job/more.kv", "WSCREW/2500\n");
        JobDatabase database;
        database.connect(workspace.file("KV.GDB"));
        importJobFile(database, workspace.file("Job/job.kv"), 9, 0);
        importJobFile(database, workspace.file("Job/more.kv"), 9, 0);
        EXPECT_EQ(database.readPiecePositions("100000001"),
                  (std::vector<std::optional<double>>{100}));
        EXPECT_EQ(database.readPiecePositions("100000100"),
                  (std::vector<std::optional<double>>{250, 300}));
    }
}

// A power failure in the middle of a large import: nothing of the file is in, it keeps its
// name, and the database checks out clean once validation has released the pages that the
// import had taken.
TEST(JobImportKilled, LeavesNoRowAndTheCheckReleasesThePagesItTook) {
    test::Workspace workspace;
    workspace.createDatabase({{"L_BarCode", "9"}});
    std::filesystem::create_directory(workspace.file("Job"));
    std::string text = "PBIG\r\n";
    for (int i = 0; i < 200000; ++i) {
        text += pieceRecord("001", std::to_string(300000001 + i)) + "\r\nWSCREW/" +
                std::to_string(10 * (i % 500 + 1)) + "\r\n";
    }
    workspace.writeFile("Job/big.kv", text);
    const auto database = workspace.file("KV.GDB");
    const auto emptySize = std::filesystem::file_size(database);

    QProcess import;
    import.start(
        QStringLiteral(VELKOR_MAKEDB),
        {QStringLiteral("--existing"), QStringLiteral("--job"),
         QString::fromStdString(workspace.file("Job/big.kv")), QString::fromStdString(database)});
    ASSERT_TRUE(import.waitForStarted());
    // Killed once the import has taken a few megabytes of pages.
    while (import.state() == QProcess::Running &&
           std::filesystem::file_size(database) < emptySize + 4 * 1024 * 1024) {
        import.waitForFinished(5);
    }
    ASSERT_EQ(import.state(), QProcess::Running) << "the import ended before it could be killed";
    import.kill();
    import.waitForFinished();

    auto check = [&] {
        QProcess checkdb;
        checkdb.setProcessChannelMode(QProcess::MergedChannels);
        checkdb.start(QStringLiteral(VELKOR_CHECKDB), {QString::fromStdString(database)});
        EXPECT_TRUE(checkdb.waitForFinished(60000));
        EXPECT_EQ(checkdb.exitCode(), 0);
        return checkdb.readAll().toStdString();
    };
    const std::string first = check();
    EXPECT_NE(first.find("page warnings"), std::string::npos) << first;
    EXPECT_NE(first.find("orphan pages released; no errors and no warnings now"), std::string::npos)
        << first;
    EXPECT_EQ(check(), database + ": no errors and no warnings\n");
    EXPECT_EQ(readBack(database, "select count(*) from optdetail")[0][0].asInteger(), 0);
    EXPECT_TRUE(workspace.exists("Job/big.kv"));
}

TEST_F(JobImportTest, ARenameThatFailsAfterTheCommitIsReported) {
    workspace.writeFile("Job/job3.kv", "PBATCH\n");
    workspace.writeFile("Job/job3.6122026_95_3", "an earlier file of the same minute");
    const std::string message = errorOf([&] { import("job3.kv"); });
    EXPECT_NE(message.find(cp1251("Файл job3.kv загружен, но не переименован в job3.6122026_95_3")),
              std::string::npos)
        << cp1251ToUtf8(message);
    EXPECT_EQ(count("grorders"), 1);
    EXPECT_EQ(workspace.readFile("Job/job3.6122026_95_3"), "an earlier file of the same minute");
    EXPECT_TRUE(workspace.exists("Job/job3.kv"));
}

TEST_F(JobImportTest, AFileThatCannotBeOpenedIsReported) {
    const std::string message = errorOf([&] { import("missing.kv"); });
    EXPECT_NE(message.find("missing.kv: No such file or directory"), std::string::npos)
        << cp1251ToUtf8(message);
}

}  // namespace
}  // namespace velkor
