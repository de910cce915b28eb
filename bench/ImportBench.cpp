// Job file import on a generated file of 2,000 batches, 100,000 pieces and 800,000 holes: the
// console's import (read, convert, insert, rename) against two bare loops through the same client
// library, with typed messages built once and no file at all: one making the same inserts one
// row at a time, one sending 25 pieces with their holes in one EXECUTE BLOCK. All three run on
// fresh databases of their own in every round and take turns at going first, second and third;
// each round is printed, then each side's lines per second and the console's share of each bare
// loop as min / median / max over the rounds.
//
//   velkor_import_bench [--workspace DIR] [--server] [batches] [pieces per batch]
//                       [holes per piece] [rounds]                (defaults 2000 50 8 3)
//
// --server runs all three through a Firebird server of the benchmark's own on the loopback
// address, as a workstation sharing a job database does. --relay MS goes to that server through a
// relay that holds every chunk MS milliseconds in each direction (a plant's network; 0 is the
// relay alone) and counts round trips: each side's round trips per line are reported, and,
// through the same relay, the console's start-up reads (connect, machine variables) and its
// barcode lookup, each with its round trips.

#include <firebird/Interface.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DelayRelay.h"
#include "FirebirdServer.h"
#include "FirebirdSession.h"
#include "JobImport.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace Firebird;
namespace fs = std::filesystem;

constexpr int kBarcodeLength = 9;

struct Shape {
    int batches = 2000;
    int piecesPerBatch = 50;
    int holesPerPiece = 8;
    long long lines() const {
        return batches + static_cast<long long>(batches) * piecesPerBatch * (1 + holesPerPiece);
    }
};

// The values of piece `i` and of its holes, the same for the file and for the bare loop.
struct Piece {
    int number;
    long long barcode;
    int lengthTenths;
    int trolley;
    int cell;
    std::string comment;
};
Piece pieceOf(long long i) {
    return {static_cast<int>(i % 1000),          300000000 + i,
            10000 + static_cast<int>(i % 20000), static_cast<int>(i % 100),
            static_cast<int>(i % 1000),          "PIECE " + std::to_string(i)};
}
int holeTenths(long long piece, int hole) {
    return 1000 + hole * 1500 + static_cast<int>(piece % 7);
}
const char* holeCode(int hole) {
    return hole == 0 ? "HANDLE" : "SCREW";
}

std::string padded(std::string text, std::size_t width, bool right = false) {
    if (text.size() < width) {
        text.insert(right ? 0 : text.size(), width - text.size(), right ? '0' : ' ');
    }
    return text;
}

void writeJobFile(const fs::path& path, const Shape& shape) {
    std::ofstream out(path, std::ios::binary);
    long long piece = 0;
    for (int b = 0; b < shape.batches; ++b) {
        out << "P" << padded("BATCH " + std::to_string(b), 20) << "\r\n";
        for (int p = 0; p < shape.piecesPerBatch; ++p, ++piece) {
            const Piece values = pieceOf(piece);
            out << "C" << padded(std::to_string(values.number), 3, true)
                << padded(std::to_string(values.barcode), kBarcodeLength, true)
                << padded(std::to_string(values.lengthTenths / 10), 4, true)
                << values.lengthTenths % 10 << "0450"
                << "0900" << padded(std::to_string(values.trolley), 3, true)
                << padded(std::to_string(values.cell), 3, true) << padded(values.comment, 32)
                << "\r\n";
            for (int h = 0; h < shape.holesPerPiece; ++h) {
                out << "W"
                    << padded(std::string(holeCode(h)) + "/" + std::to_string(holeTenths(piece, h)),
                              32)
                    << "\r\n";
            }
        }
    }
}

void makeDatabase(const fs::path& path) {
    fs::remove(path);
    const std::string command =
        std::string(VELKOR_MAKEDB) + " --pieces 0 '" + path.string() + "' > /dev/null";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "velkor-makedb failed\n");
        std::exit(1);
    }
}

// A typed message of a prepared statement, built once and refilled for every execution.
class Message {
  public:
    Message(ThrowStatusWrapper* status, IMessageMetadata* metadata)
        : status_(status), metadata_(metadata), buffer_(metadata->getMessageLength(status)) {
        for (unsigned i = 0; i < metadata->getCount(status); ++i) {
            *reinterpret_cast<short*>(&buffer_[metadata->getNullOffset(status, i)]) = 0;
        }
    }
    IMessageMetadata* metadata() const { return metadata_; }
    unsigned char* data() { return buffer_.data(); }

    // A whole number, or tenths for a column with one decimal.
    void setNumber(unsigned i, long long value) {
        unsigned char* field = &buffer_[metadata_->getOffset(status_, i)];
        switch (metadata_->getType(status_, i) & ~1u) {
            case SQL_SHORT: {
                const auto v = static_cast<short>(value);
                std::memcpy(field, &v, sizeof v);
                break;
            }
            case SQL_LONG: {
                const auto v = static_cast<int>(value);
                std::memcpy(field, &v, sizeof v);
                break;
            }
            case SQL_INT64:
                std::memcpy(field, &value, sizeof value);
                break;
            case SQL_DOUBLE: {
                const double v = static_cast<double>(value) / 10;
                std::memcpy(field, &v, sizeof v);
                break;
            }
            default:
                std::fprintf(stderr, "unexpected column type\n");
                std::exit(1);
        }
    }
    void setText(unsigned i, const std::string& text) {
        unsigned char* field = &buffer_[metadata_->getOffset(status_, i)];
        const auto length = static_cast<unsigned short>(text.size());
        std::memcpy(field, &length, sizeof length);
        std::memcpy(field + sizeof length, text.data(), text.size());
    }
    long long number(unsigned i) {
        int value;
        std::memcpy(&value, &buffer_[metadata_->getOffset(status_, i)], sizeof value);
        return value;
    }

  private:
    ThrowStatusWrapper* status_;
    IMessageMetadata* metadata_;
    std::vector<unsigned char> buffer_;
};

struct Statement {
    IStatement* statement;
    Message input;
    std::optional<Message> output;
};

// A connection of the bare loops, straight through the client library: one transaction, and
// statements with typed messages built once.
class BareSession {
  public:
    explicit BareSession(const std::string& database)
        : master_(fb_get_master_interface()), status_(master_->getStatus()) {
        dpb_ = master_->getUtilInterface()->getXpbBuilder(&status_, IXpbBuilder::DPB, nullptr, 0);
        dpb_->insertString(&status_, isc_dpb_user_name, velkor::ConnectionParameters::kUser);
        dpb_->insertString(&status_, isc_dpb_password, velkor::ConnectionParameters::kPassword);
        dpb_->insertString(&status_, isc_dpb_lc_ctype, velkor::ConnectionParameters::kCharacterSet);
        provider_ = master_->getDispatcher();
        attachment_ = provider_->attachDatabase(
            &status_, database.c_str(), dpb_->getBufferLength(&status_), dpb_->getBuffer(&status_));
        transaction_ = attachment_->startTransaction(&status_, 0, nullptr);
    }
    ~BareSession() {
        for (IStatement* statement : statements_) {
            statement->free(&status_);
        }
        attachment_->detach(&status_);
        provider_->release();
        dpb_->dispose();
        status_.dispose();
    }
    BareSession(const BareSession&) = delete;
    BareSession& operator=(const BareSession&) = delete;

    Statement prepare(const std::string& sql) {
        IStatement* statement = attachment_->prepare(&status_, transaction_, 0, sql.c_str(), 3,
                                                     IStatement::PREPARE_PREFETCH_METADATA);
        statements_.push_back(statement);
        IMessageMetadata* out = statement->getOutputMetadata(&status_);
        std::optional<Message> output;
        if (out->getCount(&status_) > 0) {
            output.emplace(&status_, out);
        }
        return Statement{statement, Message(&status_, statement->getInputMetadata(&status_)),
                         std::move(output)};
    }
    // Runs the statement; returns the first column of its RETURNING row, if it has one.
    long long run(Statement& s) {
        s.statement->execute(&status_, transaction_, s.input.metadata(), s.input.data(),
                             s.output ? s.output->metadata() : nullptr,
                             s.output ? s.output->data() : nullptr);
        return s.output ? s.output->number(0) : 0;
    }
    void commit() { transaction_->commit(&status_); }

  private:
    IMaster* master_;
    ThrowStatusWrapper status_;
    IXpbBuilder* dpb_ = nullptr;
    IProvider* provider_ = nullptr;
    IAttachment* attachment_ = nullptr;
    ITransaction* transaction_ = nullptr;
    std::vector<IStatement*> statements_;
};

constexpr const char* kBareBatchInsert =
    "INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp) RETURNING GRORDERSID";
constexpr const char* kBareBarInsert =
    "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
    "VALUES (?, 1, (select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1) "
    "RETURNING OPTIMIZEDID";

// The bare loop: the import's inserts, nothing else.
double bareLoop(const std::string& database, const Shape& shape) {
    BareSession session(database);
    Statement batch = session.prepare(kBareBatchInsert);
    Statement bar = session.prepare(kBareBarInsert);
    Statement piece = session.prepare(
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING OPTDETAILID");
    Statement hole = session.prepare(
        "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
        "VALUES (?, ?, ?, 0, 0)");
    const auto run = [&](Statement& s) { return session.run(s); };

    const auto start = Clock::now();
    long long pieceIndex = 0;
    for (int b = 0; b < shape.batches; ++b) {
        batch.input.setText(0, "BATCH " + std::to_string(b));
        bar.input.setNumber(0, run(batch));
        const long long barKey = run(bar);
        for (int p = 0; p < shape.piecesPerBatch; ++p, ++pieceIndex) {
            const Piece values = pieceOf(pieceIndex);
            piece.input.setNumber(0, barKey);
            piece.input.setNumber(1, values.lengthTenths);
            piece.input.setNumber(2, 450);
            piece.input.setNumber(3, 900);
            piece.input.setNumber(4, values.number);
            piece.input.setNumber(5, values.trolley);
            piece.input.setNumber(6, values.cell);
            piece.input.setNumber(7, values.barcode);
            piece.input.setText(8, values.comment);
            hole.input.setNumber(0, run(piece));
            for (int h = 0; h < shape.holesPerPiece; ++h) {
                hole.input.setNumber(1, h == 0 ? 3 : 1);
                hole.input.setNumber(2, holeTenths(pieceIndex, h));
                run(hole);
            }
        }
    }
    session.commit();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bare batched loop: per batch its two single-row inserts, then its pieces 25 at a time,
// each block inserting the pieces and their holes with the piece keys taken inside the block.
constexpr int kPiecesPerBlock = 25;

std::string pieceBlockSql(int pieces, int holes) {
    std::string parameters = "BAR INTEGER = ?";
    std::string body;
    for (int p = 0; p < pieces; ++p) {
        const std::string n = std::to_string(p);
        for (const char* column :
             {"ITEMLONG", "UG1", "UG2", "NUM", "TELEGANO", "CELL", "OPTDETAILID_IN", "RCOMMENT"}) {
            parameters +=
                std::string(", ") + column + n + " TYPE OF COLUMN OPTDETAIL." + column + " = ?";
        }
        body +=
            "  INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
            "OPTDETAILID_IN, rcomment) VALUES (:BAR, :ITEMLONG" +
            n + ", :UG1" + n + ", :UG2" + n + ", :NUM" + n + ", :TELEGANO" + n + ", :CELL" + n +
            ", :OPTDETAILID_IN" + n + ", :RCOMMENT" + n + ") RETURNING OPTDETAILID INTO :P;\n";
        for (int h = 0; h < holes; ++h) {
            const std::string m = n + "_" + std::to_string(h);
            parameters += ", T" + m + " TYPE OF COLUMN PERFORATION.HOLETYPEID = ?, X" + m +
                          " TYPE OF COLUMN PERFORATION.POSX = ?";
            body +=
                "  INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
                "VALUES (:P, :T" +
                m + ", :X" + m + ", 0, 0);\n";
        }
    }
    return "EXECUTE BLOCK (" + parameters + ") AS DECLARE VARIABLE P INTEGER; BEGIN\n" + body +
           "END";
}

double bareBatchedLoop(const std::string& database, const Shape& shape) {
    BareSession session(database);
    Statement batch = session.prepare(kBareBatchInsert);
    Statement bar = session.prepare(kBareBarInsert);
    const auto run = [&](Statement& s) { return session.run(s); };
    std::map<int, Statement> blocks;  // by the number of pieces they carry

    const auto start = Clock::now();
    long long pieceIndex = 0;
    for (int b = 0; b < shape.batches; ++b) {
        batch.input.setText(0, "BATCH " + std::to_string(b));
        bar.input.setNumber(0, run(batch));
        const long long barKey = run(bar);
        for (int first = 0; first < shape.piecesPerBatch; first += kPiecesPerBlock) {
            const int count = std::min(kPiecesPerBlock, shape.piecesPerBatch - first);
            auto found = blocks.find(count);
            if (found == blocks.end()) {
                found =
                    blocks
                        .emplace(count, session.prepare(pieceBlockSql(count, shape.holesPerPiece)))
                        .first;
            }
            Message& input = found->second.input;
            input.setNumber(0, barKey);
            unsigned field = 1;
            for (int p = 0; p < count; ++p, ++pieceIndex) {
                const Piece values = pieceOf(pieceIndex);
                for (const long long number :
                     {static_cast<long long>(values.lengthTenths), 450LL, 900LL,
                      static_cast<long long>(values.number), static_cast<long long>(values.trolley),
                      static_cast<long long>(values.cell), values.barcode}) {
                    input.setNumber(field++, number);
                }
                input.setText(field++, values.comment);
                for (int h = 0; h < shape.holesPerPiece; ++h) {
                    input.setNumber(field++, h == 0 ? 3 : 1);
                    input.setNumber(field++, holeTenths(pieceIndex, h));
                }
            }
            run(found->second);
        }
    }
    session.commit();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double consoleImport(const std::string& database, const fs::path& jobFile) {
    velkor::JobDatabase console;
    console.connect(database);
    const auto start = Clock::now();
    velkor::importJobFile(console, jobFile.string(), kBarcodeLength, std::time(nullptr));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long long countRows(const std::string& database, const char* table) {
    velkor::FirebirdSession session;
    session.attach(database);
    session.startTransaction();
    const auto rows = session.query(std::string("select count(*) from ") + table);
    session.rollback();
    return rows.at(0).at(0).asInteger();
}

// What a phase cost: its time and the relay's round trips meanwhile.
struct Measured {
    double seconds;
    long long roundTrips;
};

template <typename Phase>
Measured measured(const velkor::bench::DelayRelay* relay, Phase&& phase) {
    const long long before = relay != nullptr ? relay->roundTrips() : 0;
    const double seconds = phase();
    return {seconds, relay != nullptr ? relay->roundTrips() - before : 0};
}

// The console's start-up reads (connect, machine variables) and its barcode lookup over the
// same link, each with its round trips.
void reportStartUpAndLookup(const std::string& database, const velkor::bench::DelayRelay& relay,
                            const Shape& shape) {
    constexpr int kStarts = 5;
    std::vector<double> starts;
    long long startTrips = 0;
    for (int i = 0; i < kStarts; ++i) {
        velkor::JobDatabase console;
        const Measured m = measured(&relay, [&] {
            const auto begin = Clock::now();
            console.connect(database);
            console.readVariables();
            return std::chrono::duration<double>(Clock::now() - begin).count();
        });
        starts.push_back(m.seconds);
        startTrips += m.roundTrips;
    }
    std::sort(starts.begin(), starts.end());
    velkor::JobDatabase console;
    console.connect(database);
    console.readPiecePositions(std::to_string(pieceOf(0).barcode));  // prepared once, as a run does
    constexpr int kLookups = 100;
    const long long pieces = static_cast<long long>(shape.batches) * shape.piecesPerBatch;
    std::vector<double> lookups;
    long long lookupTrips = 0;
    for (int i = 0; i < kLookups; ++i) {
        const Measured m = measured(&relay, [&] {
            const auto begin = Clock::now();
            console.readPiecePositions(std::to_string(pieceOf((i * 7919LL) % pieces).barcode));
            return std::chrono::duration<double>(Clock::now() - begin).count();
        });
        lookups.push_back(m.seconds);
        lookupTrips += m.roundTrips;
    }
    std::sort(lookups.begin(), lookups.end());
    std::printf(
        "start-up reads: median %.1f ms, %.1f round trips; barcode lookup: median %.2f ms, "
        "%.1f round trips\n",
        1000 * starts[kStarts / 2], static_cast<double>(startTrips) / kStarts,
        1000 * lookups[kLookups / 2], static_cast<double>(lookupTrips) / kLookups);
}

// The least, the middle and the largest of a figure over the rounds, in `format`.
std::string spreadText(std::vector<double> values, const char* format) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const std::string three = std::string(format) + " / " + format + " / " + format;
    char text[160];
    std::snprintf(text, sizeof text, three.c_str(), values.front(), median, values.back());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path workspace = fs::absolute(fs::path(argv[0]).parent_path() / "import-workspace");
    std::vector<int> numbers;
    bool throughServer = false;
    std::optional<double> relayMilliseconds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--workspace") == 0 && i + 1 < argc) {
            workspace = fs::absolute(argv[++i]);
        } else if (std::strcmp(argv[i], "--server") == 0) {
            throughServer = true;
        } else if (std::strcmp(argv[i], "--relay") == 0 && i + 1 < argc) {
            relayMilliseconds = std::stod(argv[++i]);
            throughServer = true;
        } else {
            numbers.push_back(std::stoi(argv[i]));
        }
    }
    Shape shape;
    if (numbers.size() > 0)
        shape.batches = numbers[0];
    if (numbers.size() > 1)
        shape.piecesPerBatch = numbers[1];
    if (numbers.size() > 2)
        shape.holesPerPiece = numbers[2];
    const int rounds = std::max(1, numbers.size() > 3 ? numbers[3] : 3);

    velkor::prepareFirebirdEnvironment();
    fs::create_directories(workspace / "Job");
    const std::string consoleFile = (workspace / "console.gdb").string();
    const std::string bareFile = (workspace / "bare.gdb").string();
    const std::string batchedFile = (workspace / "batched.gdb").string();
    std::optional<velkor::test::FirebirdServer> server;
    std::optional<velkor::bench::DelayRelay> relay;
    if (throughServer) {
        server.emplace();
    }
    if (relayMilliseconds) {
        relay.emplace(server->port(),
                      std::chrono::microseconds(static_cast<long long>(*relayMilliseconds * 1000)));
    }
    auto reached = [&](const std::string& file) {
        if (relay) {
            return "127.0.0.1/" + std::to_string(relay->port()) + ":" + file;
        }
        return server ? server->databaseString(file) : file;
    };
    const velkor::bench::DelayRelay* counted = relay ? &*relay : nullptr;
    const std::string consoleDatabase = reached(consoleFile);
    const std::string bareDatabase = reached(bareFile);
    const std::string batchedDatabase = reached(batchedFile);
    std::printf("%d batches, %d pieces, %d holes: %lld lines%s\n", shape.batches,
                shape.batches * shape.piecesPerBatch,
                shape.batches * shape.piecesPerBatch * shape.holesPerPiece, shape.lines(),
                relay ? (", through a relay holding each chunk " +
                         std::to_string(*relayMilliseconds) + " ms each way")
                            .c_str()
                      : "");

    const auto rate = [&](const Measured& m) {
        return static_cast<double>(shape.lines()) / m.seconds;
    };
    const auto tripsPerLine = [&](const Measured& m) {
        return static_cast<double>(m.roundTrips) / static_cast<double>(shape.lines());
    };
    // The three sides take turns at going first, second and third, round by round.
    enum Side { ConsoleImport, SingleRow, Batched, kSides };
    const char* const sideNames[kSides] = {"console import", "bare single-row loop",
                                           "bare batched loop"};
    const std::string files[kSides] = {consoleFile, bareFile, batchedFile};
    const std::string databases[kSides] = {consoleDatabase, bareDatabase, batchedDatabase};
    std::vector<double> linesPerSecond[kSides];
    std::vector<double> againstSingle;
    std::vector<double> againstBatched;
    std::vector<double> trips[kSides];
    for (int round = 0; round < rounds; ++round) {
        for (const auto& entry : fs::directory_iterator(workspace / "Job")) {
            fs::remove(entry.path());
        }
        const fs::path jobFile = workspace / "Job" / "bench.kv";
        writeJobFile(jobFile, shape);
        for (const std::string& file : files) {
            makeDatabase(file);
        }
        Measured result[kSides]{};
        std::string order;
        for (int k = 0; k < kSides; ++k) {
            const int side = (round + k) % kSides;
            const std::string& database = databases[side];
            result[side] = measured(counted, [&] {
                switch (side) {
                    case ConsoleImport:
                        return consoleImport(database, jobFile);
                    case SingleRow:
                        return bareLoop(database, shape);
                    default:
                        return bareBatchedLoop(database, shape);
                }
            });
            order += std::string(k == 0 ? "" : ", then ") + sideNames[side];
        }
        for (const char* table : {"grorders", "optimized", "optdetail", "perforation"}) {
            const long long rows = countRows(consoleDatabase, table);
            if (rows != countRows(bareDatabase, table) ||
                rows != countRows(batchedDatabase, table)) {
                std::fprintf(stderr, "the databases differ in %s\n", table);
                return 1;
            }
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("round %d (%s):\n", round + 1, order.c_str());
        for (int side = 0; side < kSides; ++side) {
            linesPerSecond[side].push_back(rate(result[side]));
            trips[side].push_back(tripsPerLine(result[side]));
            std::printf("         %-21s %7.2f s, %8.0f lines/s\n", sideNames[side],
                        result[side].seconds, rate(result[side]));
        }
        againstSingle.push_back(100 * rate(result[ConsoleImport]) / rate(result[SingleRow]));
        againstBatched.push_back(100 * rate(result[ConsoleImport]) / rate(result[Batched]));
        std::printf(
            "         the console does %.0f %% of the single-row loop and %.0f %% of "
            "the batched loop; largest resident size so far %ld MB\n",
            againstSingle.back(), againstBatched.back(), usage.ru_maxrss / 1024);
        if (relay) {
            std::printf(
                "         round trips per line: console %.3f, bare single-row loop %.3f, bare "
                "batched loop %.3f\n",
                trips[ConsoleImport].back(), trips[SingleRow].back(), trips[Batched].back());
        }
    }
    std::printf("over %d round%s, min / median / max:\n", rounds, rounds == 1 ? "" : "s");
    for (int side = 0; side < kSides; ++side) {
        std::printf("  %-21s %s lines/s\n", sideNames[side],
                    spreadText(linesPerSecond[side], "%.0f").c_str());
    }
    std::printf("  console against the single-row loop: %s %%\n",
                spreadText(againstSingle, "%.0f").c_str());
    std::printf("  console against the batched loop:    %s %%\n",
                spreadText(againstBatched, "%.0f").c_str());
    if (relay) {
        std::printf("  round trips per line: console %s, single-row loop %s, batched loop %s\n",
                    spreadText(trips[ConsoleImport], "%.3f").c_str(),
                    spreadText(trips[SingleRow], "%.3f").c_str(),
                    spreadText(trips[Batched], "%.3f").c_str());
    }
    if (relay) {
        reportStartUpAndLookup(consoleDatabase, *relay, shape);
    }
    return 0;
}
