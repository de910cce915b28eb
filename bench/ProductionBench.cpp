// The production window's opening on 1,000,000 records: 2,000 batches of 500 pieces, and a
// record for every piece twice over, 10,000 a day over 100 days up to today, by three
// workstations. Opening is the window made, shown with the day's chart, its newest 1,000 records
// and its batches, and painted once, on a connection of its own. Beside it, in turns, the same
// window on the same batches with no record at all: what the window costs with nothing to count.
// Each opening is printed, then each side's min / median / max.
//
//   velkor_production_bench [--workspace DIR] [openings]          (default 10)
//
// The databases are made once in DIR (default production-workspace beside this program; a
// minute or two) and kept. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says another.

#include <sys/wait.h>

#include <QApplication>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FirebirdSession.h"
#include "ProductionWindow.h"

namespace {

constexpr int kBatches = 2000;
constexpr int kPiecesPerBatch = 500;
constexpr int kRecords = 1'000'000;

// A fresh database's keys start at 1, so the n-th piece's key is n + 1 and its batch's is
// n / 500 + 1. The records end a minute before midnight today, one every 8.64 seconds.
constexpr const char* kFill = R"(
EXECUTE BLOCK (BATCHES INTEGER = ?, PER_BATCH INTEGER = ?, RECORDS INTEGER = ?) AS
  DECLARE I INTEGER = 0;
  DECLARE J INTEGER;
  DECLARE P INTEGER;
  DECLARE LAST_TIME TIMESTAMP;
BEGIN
  LAST_TIME = dateadd(1439 minute to cast(current_date as timestamp));
  WHILE (I < BATCHES) DO
  BEGIN
    INSERT INTO GRORDERS (NAME, DATECREATED) VALUES ('B-' || :I, current_timestamp);
    INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT)
      VALUES (gen_id(gen_grorders_id, 0), 1, 1, 0, 0, 1, 1);
    J = 0;
    WHILE (J < PER_BATCH) DO
    BEGIN
      INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, CELL, OPTDETAILID_IN)
        VALUES (gen_id(gen_optimized_id, 0), 1200, 45, 45, :J, 0, 0,
                100000001 + :I * :PER_BATCH + :J);
      J = J + 1;
    END
    I = I + 1;
  END
  I = 0;
  WHILE (I < RECORDS) DO
  BEGIN
    P = MOD(I, BATCHES * PER_BATCH);
    INSERT INTO PRODUCTION (RECORDKEY, DISPATCHED, WORKSTATION, ACCOUNT, SCAN, BARCODE,
                            OPTDETAILID, GRORDERSID, BATCH, PROFILEMODE, COMMANDS, OUTCOME,
                            COUNTER)
      VALUES (lpad(:I, 32, '0'),
              dateadd(cast(:I - :RECORDS as bigint) * 8640 millisecond to :LAST_TIME),
              'ws-' || mod(:I, 3), 'operator', 100000001 + :P, 100000001 + :P, :P + 1,
              :P / :PER_BATCH + 1, 'B-' || (:P / :PER_BATCH), 0,
              'R_POS1000 R2_POS2505 R3_POS4000', 'SENT', :I);
    I = I + 1;
  END
END)";

// Makes `database` with the batches and `records` records, unless its "ready" mark is there.
void prepare(const std::filesystem::path& database, int records) {
    const auto ready = database.string() + ".ready";
    if (std::filesystem::exists(ready)) {
        return;
    }
    std::filesystem::remove(database);
    std::printf("creating %s with %d records (a minute or two)\n", database.c_str(), records);
    const std::string make = std::string(VELKOR_MAKEDB) + " '" + database.string() + "'";
    const int status = std::system(make.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "velkor-makedb failed\n");
        std::exit(1);
    }
    velkor::FirebirdSession session;
    session.attach(database.string());
    session.startTransaction();
    session.execute(kFill, {std::to_string(kBatches), std::to_string(kPiecesPerBatch),
                            std::to_string(records)});
    session.commit();
    session.startTransaction();
    for (const auto& index : session.query("select rdb$index_name from rdb$indices")) {
        session.execute("set statistics index " + index[0].asText());
    }
    session.commit();
    session.detach();
    std::ofstream(ready) << records;
}

// Milliseconds from making the window to its first paint with everything in it.
double open(const std::string& database, std::size_t& rows) {
    const auto begun = std::chrono::steady_clock::now();
    velkor::ProductionWindow window(database, "/tmp");
    window.show();
    QApplication::processEvents();
    const double took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
    rows = static_cast<std::size_t>(
        window.findChild<QTableWidget*>(QStringLiteral("Table_Records"))->rowCount());
    return took;
}

void printSpread(const char* side, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%-32s min %7.1f  median %7.1f  max %7.1f ms\n", side, values.front(), median,
                values.back());
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    std::filesystem::path workspace =
        std::filesystem::absolute(argv[0]).parent_path() / "production-workspace";
    int openings = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--workspace" && i + 1 < argc) {
            workspace = argv[++i];
        } else {
            openings = std::max(1, std::atoi(argv[i]));
        }
    }
    velkor::prepareFirebirdEnvironment();
    QApplication application(argc, argv);
    std::filesystem::create_directories(workspace);
    const auto full = workspace / "RECORDS.GDB";
    const auto empty = workspace / "EMPTY.GDB";
    prepare(full, kRecords);
    prepare(empty, 0);

    std::vector<double> onRecords;
    std::vector<double> onNone;
    for (int round = 0; round < openings; ++round) {
        // Taking turns at going first.
        for (int side = 0; side < 2; ++side) {
            const bool records = (round + side) % 2 == 0;
            std::size_t rows = 0;
            const double took = open((records ? full : empty).string(), rows);
            (records ? onRecords : onNone).push_back(took);
            std::printf("opening %2d, %-10s %7.1f ms, %zu records shown\n", round + 1,
                        records ? "1,000,000" : "none", took, rows);
        }
    }
    std::printf("over %d openings each:\n", openings);
    printSpread("window on 1,000,000 records", onRecords);
    printSpread("window on no record", onNone);
    velkor::shutDownFirebirdEngine();
    return 0;
}
