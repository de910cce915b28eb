// Job file import on a generated file of 2,000 batches, 100,000 pieces and 800,000 holes: the
// console's import (read, convert, insert, rename) against a bare loop that makes the same
// inserts through the same client library, with typed messages built once and no file at all.
// Both run on fresh databases in the same run, taking turns at going first.
//
//   velkor_import_bench [--workspace DIR] [--server] [batches] [pieces per batch]
//                       [holes per piece] [rounds]                (defaults 2000 50 8 2)
//
// --server runs both through a Firebird server of the benchmark's own on the loopback address,
// as a workstation sharing a job database does.

#include <firebird/Interface.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

// The bare loop: the import's inserts, nothing else.
double bareLoop(const std::string& database, const Shape& shape) {
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper status(master->getStatus());
    IXpbBuilder* dpb =
        master->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, velkor::ConnectionParameters::kUser);
    dpb->insertString(&status, isc_dpb_password, velkor::ConnectionParameters::kPassword);
    dpb->insertString(&status, isc_dpb_lc_ctype, velkor::ConnectionParameters::kCharacterSet);
    IProvider* provider = master->getDispatcher();
    IAttachment* attachment = provider->attachDatabase(
        &status, database.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
    ITransaction* transaction = attachment->startTransaction(&status, 0, nullptr);
    auto prepare = [&](const char* sql) {
        IStatement* statement = attachment->prepare(&status, transaction, 0, sql, 3,
                                                    IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* out = statement->getOutputMetadata(&status);
        std::optional<Message> output;
        if (out->getCount(&status) > 0) {
            output.emplace(&status, out);
        }
        return Statement{statement, Message(&status, statement->getInputMetadata(&status)),
                         std::move(output)};
    };
    Statement batch = prepare(
        "INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp) "
        "RETURNING GRORDERSID");
    Statement bar = prepare(
        "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
        "VALUES (?, 1, (select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1) "
        "RETURNING OPTIMIZEDID");
    Statement piece = prepare(
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING OPTDETAILID");
    Statement hole = prepare(
        "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
        "VALUES (?, ?, ?, 0, 0)");
    auto run = [&](Statement& s) {
        s.statement->execute(&status, transaction, s.input.metadata(), s.input.data(),
                             s.output ? s.output->metadata() : nullptr,
                             s.output ? s.output->data() : nullptr);
        return s.output ? s.output->number(0) : 0;
    };

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
    transaction->commit(&status);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Statement* s : {&batch, &bar, &piece, &hole}) {
        s->statement->free(&status);
    }
    attachment->detach(&status);
    provider->release();
    dpb->dispose();
    status.dispose();
    return seconds;
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

}  // namespace

int main(int argc, char** argv) {
    fs::path workspace = fs::absolute(fs::path(argv[0]).parent_path() / "import-workspace");
    std::vector<int> numbers;
    bool throughServer = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--workspace") == 0 && i + 1 < argc) {
            workspace = fs::absolute(argv[++i]);
        } else if (std::strcmp(argv[i], "--server") == 0) {
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
    const int rounds = numbers.size() > 3 ? numbers[3] : 2;

    velkor::prepareFirebirdEnvironment();
    fs::create_directories(workspace / "Job");
    const std::string consoleFile = (workspace / "console.gdb").string();
    const std::string bareFile = (workspace / "bare.gdb").string();
    std::optional<velkor::test::FirebirdServer> server;
    if (throughServer) {
        server.emplace();
    }
    auto reached = [&](const std::string& file) {
        return server ? server->databaseString(file) : file;
    };
    const std::string consoleDatabase = reached(consoleFile);
    const std::string bareDatabase = reached(bareFile);
    std::printf("%d batches, %d pieces, %d holes: %lld lines\n", shape.batches,
                shape.batches * shape.piecesPerBatch,
                shape.batches * shape.piecesPerBatch * shape.holesPerPiece, shape.lines());

    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& entry : fs::directory_iterator(workspace / "Job")) {
            fs::remove(entry.path());
        }
        const fs::path jobFile = workspace / "Job" / "bench.kv";
        writeJobFile(jobFile, shape);
        makeDatabase(consoleFile);
        makeDatabase(bareFile);
        double consoleSeconds = 0;
        double bareSeconds = 0;
        if (round % 2 == 0) {
            consoleSeconds = consoleImport(consoleDatabase, jobFile);
            bareSeconds = bareLoop(bareDatabase, shape);
        } else {
            bareSeconds = bareLoop(bareDatabase, shape);
            consoleSeconds = consoleImport(consoleDatabase, jobFile);
        }
        for (const char* table : {"grorders", "optimized", "optdetail", "perforation"}) {
            if (countRows(consoleDatabase, table) != countRows(bareDatabase, table)) {
                std::fprintf(stderr, "the two databases differ in %s\n", table);
                return 1;
            }
        }
        const double consoleRate = static_cast<double>(shape.lines()) / consoleSeconds;
        const double bareRate = static_cast<double>(shape.lines()) / bareSeconds;
        ratios.push_back(consoleRate / bareRate);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf(
            "round %d: console import %.1f s, %.0f lines/s; bare inserts %.1f s, %.0f lines/s; "
            "%.0f %% of the limit; largest resident size so far %ld MB\n",
            round + 1, consoleSeconds, consoleRate, bareSeconds, bareRate, 100 * ratios.back(),
            usage.ru_maxrss / 1024);
    }
    return 0;
}
