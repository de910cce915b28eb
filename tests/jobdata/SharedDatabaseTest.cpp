// The job database shared by several workstations through a real Firebird server on the
// loopback address.
#include <gtest/gtest.h>

#include <QProcess>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "ErrorText.h"
#include "FirebirdServer.h"
#include "JobImport.h"
#include "ReadBack.h"
#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

using test::errorOf;
using test::FirebirdServer;
using test::readBack;

// A piece record with a 9-digit barcode and no comment.
std::string pieceRecord(int number, long long barcode) {
    return "C" + std::string(3 - std::to_string(number % 1000).size(), '0') +
           std::to_string(number % 1000) + std::to_string(barcode) + "012000450004500  1  1";
}

class SharedDatabase : public ::testing::Test {
  protected:
    SharedDatabase() {
        workspace.createDatabase({{"L_BarCode", "9"}, {"setSpeed", "800"}});
        std::filesystem::create_directory(workspace.file("Job"));
    }

    std::string database() const {
        return FirebirdServer::shared().databaseString(workspace.file("KV.GDB"));
    }
    long long count(const std::string& sql) { return readBack(database(), sql)[0][0].asInteger(); }

    // A job file of one batch: `pieces` pieces from `firstBarcode` on, each with a hole at
    // a position that tells its barcode (barcode - firstBarcode + 1 millimetres).
    std::string writeJob(const std::string& name, const std::string& batch, long long firstBarcode,
                         int pieces) {
        std::string text = "P" + batch + "\r\n";
        for (int i = 0; i < pieces; ++i) {
            text += pieceRecord(i, firstBarcode + i) + "\r\nWSCREW/" +
                    std::to_string(10 * (i + 1)) + "\r\n";
        }
        workspace.writeFile("Job/" + name, text);
        return workspace.file("Job/" + name);
    }

    test::Workspace workspace;
};

TEST_F(SharedDatabase, AWorkstationSeesAtOnceWhatAnotherHasCommitted) {
    JobDatabase first;
    first.connect(database());
    EXPECT_TRUE(first.readPiecePositions("200000001").empty());  // its read stays open

    JobDatabase second;
    second.connect(database());
    importJobFile(second, writeJob("job.kv", "SHARED", 200000001, 2), 9, std::time(nullptr));
    second.updateVariable("SETSPEED", "900");

    EXPECT_EQ(first.readPiecePositions("200000002"), std::vector<std::optional<double>>{2});
    bool seen = false;
    for (const auto& [key, value] : first.readVariables()) {
        seen = seen || (key == "setSpeed" && value == "900");
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(first.inTransaction());  // reads still leave their transaction open
    // The reading workstation can write as well: its read-only transaction gives way.
    first.updateVariable("SETSPEED", "950");
    EXPECT_EQ(count("select count(*) from variables where var_str = '950'"), 1);
}

TEST_F(SharedDatabase, TwoWorkstationsImportingAtOnceLinkOnlyTheirOwnRows) {
    constexpr int kPieces = 1000;
    const std::map<std::string, long long> batches = {{"WEST", 300000001}, {"EAST", 400000001}};
    std::vector<std::unique_ptr<QProcess>> imports;
    for (const auto& [batch, first] : batches) {
        const std::string job = writeJob(batch + ".kv", batch, first, kPieces);
        auto& process = imports.emplace_back(std::make_unique<QProcess>());
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QStringLiteral(VELKOR_MAKEDB),
                       {QStringLiteral("--existing"), QStringLiteral("--job"),
                        QString::fromStdString(job), QString::fromStdString(database())});
    }
    for (auto& process : imports) {
        ASSERT_TRUE(process->waitForFinished(120000));
        EXPECT_EQ(process->exitCode(), 0);
    }
    // Every hole belongs to the piece whose barcode its position tells, and every piece to the
    // bar and batch of its own file.
    EXPECT_EQ(count("select count(*) from perforation"), 2 * kPieces);
    EXPECT_EQ(count("select count(*) from perforation p join optdetail o on o.optdetailid = "
                    "p.optdetailid join optimized b on b.optimizedid = o.optimizedid join "
                    "grorders g on g.grordersid = b.grordersid where p.posx = "
                    "o.optdetailid_in - iif(g.name = 'WEST', 300000000, 400000000) and "
                    "o.optdetailid_in between iif(g.name = 'WEST', 300000001, 400000001) and "
                    "iif(g.name = 'WEST', 300001000, 400001000)"),
              2 * kPieces);
}

// Two workstations load copies of the same file at once: one load stands, the other is told
// that the content is loaded already, and the pieces are in once.
TEST_F(SharedDatabase, OfTwoLoadsOfOneFileAtOnceTheLaterIsToldItIsLoadedAlready) {
    constexpr int kPieces = 3000;
    const std::string west = writeJob("west.kv", "SAME", 600000001, kPieces);
    std::filesystem::copy_file(west, workspace.file("Job/east.kv"));
    std::string errors[2];
    // Each load, past its check for an earlier load, waits (a while at most) for the other.
    std::atomic<int> underWay = 0;
    JobImportOptions meeting;
    meeting.progress = [&](const JobImportReport&) {
        ++underWay;
        for (int wait = 0; underWay < 2 && wait < 1000; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    };
    std::vector<std::thread> loads;
    for (int which = 0; which < 2; ++which) {
        loads.emplace_back([&, which] {
            JobDatabase workstation;
            workstation.connect(database());
            errors[which] = errorOf([&] {
                importJobFile(workstation, which == 0 ? west : workspace.file("Job/east.kv"), 9,
                              std::time(nullptr), meeting);
            });
        });
    }
    for (auto& load : loads) {
        load.join();
    }
    const bool westStood = errors[0] == "no error";
    const std::string& refused = errors[westStood ? 1 : 0];
    EXPECT_NE(refused.find(cp1251(" не загружен: файл с тем же содержимым уже загружен ")),
              std::string::npos)
        << cp1251ToUtf8(refused);
    EXPECT_EQ(count("select count(*) from optdetail where optdetailid_in >= 600000001"), kPieces);
}

// The server's machine hangs during a lookup: the lookup, and the attempt to connect again,
// each give up after the console's limit, naming the database; once the server goes on, the
// next lookup connects again.
TEST_F(SharedDatabase, AServerThatHangsCostsAStatementItsLimitAndNothingMore) {
    JobDatabase workstation(JobDatabase::kConsoleAnswerLimit);
    workstation.connect(database());
    importJobFile(workstation, writeJob("hang.kv", "HANG", 200000001, 1), 9, std::time(nullptr));
    FirebirdServer::shared().hang();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        const std::string lost = errorOf([&] { workstation.readPiecePositions("200000001"); });
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, JobDatabase::kConsoleAnswerLimit + std::chrono::seconds(3));
        EXPECT_NE(lost.find(cp1251(" базой данных ") + database()), std::string::npos)
            << cp1251ToUtf8(lost);
    }
    FirebirdServer::shared().resume();
    EXPECT_EQ(workstation.readPiecePositions("200000001"), std::vector<std::optional<double>>{1});
}

TEST_F(SharedDatabase, AServerThatStopsAndComesBackCostsTheOperationsMeanwhileAndNothingElse) {
    JobDatabase workstation;
    workstation.connect(database());
    importJobFile(workstation, writeJob("before.kv", "BEFORE", 200000001, 1), 9,
                  std::time(nullptr));

    // An import under way when the server stops leaves nothing of its file behind.
    const std::string big = writeJob("big.kv", "BIG", 500000001, 20000);
    std::string importError;
    std::thread importer([&] {
        JobDatabase other;
        other.connect(database());
        importError = errorOf([&] { importJobFile(other, big, 9, std::time(nullptr)); });
    });
    // The server's machine fails once the import is under way (its keys are being drawn);
    // stopped as an administrator stops it, the server would let the import finish first.
    const long long before = count("select gen_id(gen_optdetail_id, 0) from rdb$database");
    while (count("select gen_id(gen_optdetail_id, 0) from rdb$database") < before + 1000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FirebirdServer::shared().kill();
    importer.join();
    EXPECT_NE(importError, "no error");

    const std::string lost = errorOf([&] { workstation.readPiecePositions("200000001"); });
    EXPECT_EQ(lost.find(cp1251("Связь с базой данных ") + database() + cp1251(" потеряна: ")), 0u)
        << cp1251ToUtf8(lost);
    EXPECT_FALSE(workstation.connected());
    EXPECT_NE(errorOf([&] { workstation.readPiecePositions("200000001"); }).find("127.0.0.1"),
              std::string::npos);  // the read tries to connect again, the server is still away
    EXPECT_NE(errorOf([&] { workstation.updateVariable("SETSPEED", "1"); }).find("127.0.0.1"),
              std::string::npos);  // so does the update

    FirebirdServer::shared().start();
    EXPECT_EQ(workstation.readPiecePositions("200000001"), std::vector<std::optional<double>>{1});
    EXPECT_EQ(count("select count(*) from grorders where name = 'BIG'"), 0);
    EXPECT_EQ(count("select count(*) from optdetail where optdetailid_in >= 500000001"), 0);
    importJobFile(workstation, big, 9, std::time(nullptr));  // the file kept its name
    EXPECT_EQ(count("select count(*) from optdetail where optdetailid_in >= 500000001"), 20000);

    // Stopped and started again by an administrator while the workstation is idle: its next
    // scan and its next setting just work, connecting again on the way.
    FirebirdServer::shared().stop();
    FirebirdServer::shared().start();
    EXPECT_EQ(workstation.readPiecePositions("200000001"), std::vector<std::optional<double>>{1});
    FirebirdServer::shared().stop();
    FirebirdServer::shared().start();
    workstation.updateVariable("SETSPEED", "801");
    EXPECT_EQ(readBack(database(), "select var_str from variables where kods = 'setSpeed'")[0][0]
                  .asText(),
              "801");
}

}  // namespace
}  // namespace velkor
