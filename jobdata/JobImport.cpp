#include "JobImport.h"

#include <fcntl.h>
#include <stdio.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "JobRowWriter.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

constexpr char kEndOfFile = '\x1a';  // Ctrl-Z

// The characters at 1-based columns first to last that the line has, possibly none.
std::string_view columns(std::string_view line, std::int64_t first, std::int64_t last) {
    first = std::max<std::int64_t>(first, 1);
    if (last < first || first > static_cast<std::int64_t>(line.size())) {
        return {};
    }
    const auto length =
        std::min<std::int64_t>(last, static_cast<std::int64_t>(line.size())) - first + 1;
    return line.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(length));
}

std::string integerText(std::string_view text) {
    return std::to_string(readInteger(text));
}

// A decimal in the file: the whole part, then the tenths character, which goes in unchanged.
std::string decimalText(std::string_view whole, std::string_view tenths) {
    return integerText(whole) + "." + std::string(tenths);
}

// File names are UTF-8 on this system; messages are Windows-1251.
std::string fileNameOf(const std::string& path) {
    return utf8ToCp1251(std::filesystem::path(path).filename().string());
}

// Renames without replacing a file that has the new name already.
void renameKeepingExisting(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {  // a file system that cannot promise it
        error = std::filesystem::exists(to)               ? EEXIST
                : ::rename(from.c_str(), to.c_str()) == 0 ? 0
                                                          : errno;
    }
    if (error != 0) {
        throw VelkorError(std::strerror(error));
    }
}

// Remembers the hole types an import has looked up; HOLETYPE does not change during one.
class HoleTypes {
  public:
    explicit HoleTypes(JobRowWriter& rows) : rows_(rows) {}
    std::string keyOf(const std::string& code) {
        auto found = keys_.find(code);
        if (found == keys_.end()) {
            const auto key = rows_.findHoleType(code);
            if (!key) {
                throw VelkorError(cp1251("Тип отверстия \"") + code +
                                  cp1251("\" не найден в таблице HOLETYPE"));
            }
            found = keys_.emplace(code, *key).first;
        }
        return found->second;
    }

  private:
    JobRowWriter& rows_;
    std::map<std::string, std::string> keys_;
};

// A hole the machine could not drill where the file says, or a position a dispatch could not
// send, is refused with its line rather than found at the machine.
void checkHolePosition(long double millimetres, const HolePositionLimits& limits) {
    const std::string position = realText(millimetres);
    if (millimetres < 0) {
        throw VelkorError(cp1251("позиция отверстия ") + position + cp1251(" мм отрицательна"));
    }
    if (!fitsControllerInteger(
            std::trunc((millimetres - limits.stopToHead) * limits.impulsesPerMillimetre))) {
        throw VelkorError(cp1251("позицию отверстия ") + position +
                          cp1251(" мм контроллер не примет: её импульсы не умещаются в его число"));
    }
}

}  // namespace

bool JobFileLines::next(std::string& line) {
    line.clear();
    if (ended_) {
        return false;
    }
    if (!started_) {
        started_ = true;
        static constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
        char mark[3];
        in_.read(mark, 3);
        if (in_.gcount() != 3 || std::string_view(mark, 3) != std::string_view(kUtf8Mark, 3)) {
            in_.clear();
            in_.seekg(0);
        } else {
            bytesRead_ = 3;
        }
    }
    std::streambuf& bytes = *in_.rdbuf();
    bool any = false;
    for (int c = bytes.sbumpc(); c != std::char_traits<char>::eof(); c = bytes.sbumpc()) {
        any = true;
        ++bytesRead_;
        if (c == '\n') {
            return true;
        }
        if (c == '\r') {
            if (bytes.sgetc() == '\n') {
                bytes.sbumpc();
                ++bytesRead_;
            }
            return true;
        }
        if (c == kEndOfFile) {
            ended_ = true;
            return true;
        }
        line += static_cast<char>(c);
    }
    ended_ = true;
    endedOpen_ = !line.empty();
    return any;
}

namespace {

// A record's text beyond its last field would be lost without a word: it is an error instead
// (two records run together, a line end gone).
void requireNothingBeyond(std::string_view line, std::int64_t lastColumn) {
    if (static_cast<std::int64_t>(line.size()) > lastColumn &&
        !trimmed(line.substr(static_cast<std::size_t>(std::max<std::int64_t>(lastColumn, 0))))
             .empty()) {
        throw VelkorError(cp1251("за колонкой ") + std::to_string(lastColumn) +
                          cp1251(" записи есть текст, который она не вмещает"));
    }
}

}  // namespace

std::string readBatchRecord(std::string_view line) {
    requireNothingBeyond(line, 21);
    return trimmed(columns(line, 2, 21));
}

PieceRow readPieceRecord(std::string_view line, std::int32_t barcodeLength) {
    const std::int64_t L = barcodeLength;
    PieceRow piece;
    piece.number = integerText(columns(line, 2, 4));
    piece.barcode = std::string(columns(line, 5, 4 + L));
    piece.length = decimalText(columns(line, 5 + L, 8 + L), columns(line, 9 + L, 9 + L));
    piece.firstAngle = decimalText(columns(line, 10 + L, 12 + L), columns(line, 13 + L, 13 + L));
    piece.secondAngle = decimalText(columns(line, 14 + L, 16 + L), columns(line, 17 + L, 17 + L));
    piece.trolley = integerText(trimmed(columns(line, 18 + L, 20 + L)));
    piece.cell = integerText(trimmed(columns(line, 21 + L, 23 + L)));
    if (std::string comment = trimmed(columns(line, 24 + L, 55 + L)); !comment.empty()) {
        piece.comment = std::move(comment);
    }
    requireNothingBeyond(line, 55 + L);
    return piece;
}

HoleRecord readHoleRecord(std::string_view line) {
    requireNothingBeyond(line, 33);
    const std::string text = trimmed(columns(line, 2, 33));
    const auto slash = text.find('/');
    HoleRecord hole;
    hole.code = trimmed(std::string_view(text).substr(0, slash));
    if (slash == std::string::npos) {
        throw VelkorError(cp1251("У отверстия \"") + hole.code +
                          cp1251("\" нет позиции (нет \"/\")"));
    }
    const std::string_view rest = std::string_view(text).substr(slash + 1);
    const std::string tenths = trimmed(rest.substr(0, rest.find('/')));
    hole.millimetres = readReal(tenths) / 10;
    hole.position = realText(hole.millimetres);
    return hole;
}

std::string importStamp(const std::tm& localTime) {
    return std::to_string(localTime.tm_mday) + std::to_string(localTime.tm_mon + 1) +
           std::to_string(localTime.tm_year + 1900) + "_" + std::to_string(localTime.tm_hour) +
           std::to_string(localTime.tm_min) + "_" + std::to_string(localTime.tm_sec);
}

std::string importedFileName(std::string_view fileName, std::string_view stamp) {
    const auto dot = fileName.find('.');
    const std::string_view kept =
        dot == std::string_view::npos ? std::string_view() : fileName.substr(0, dot + 1);
    return std::string(kept) + std::string(stamp);
}

namespace {

// What a job file is on disk while it is read; a copy still under way changes it.
struct FileState {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type changed;
    bool operator==(const FileState&) const = default;
};

// The file's content as one SHA-256 in hex, read in pieces.
std::string contentHash(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        hash.addData(QByteArrayView(buffer, in.gcount()));
    }
    return hash.result().toHex().toStdString();
}

// The words of a load refused: the file was not loaded, and why.
VelkorError notLoaded(const std::string& fileName, const std::string& why) {
    return VelkorError(cp1251("Файл ") + fileName + cp1251(" не загружен") + why);
}

VelkorError notLoadedAt(const std::string& fileName, long lineNumber, const char* what) {
    return notLoaded(fileName,
                     cp1251(", ошибка в строке ") + std::to_string(lineNumber) + ": " + what);
}

// A file that is gone (deleted or moved while it was read) is named in the error.
FileState stateOf(const std::string& path, const std::string& fileName) {
    std::error_code error;
    FileState state{std::filesystem::file_size(path, error), {}};
    if (!error) {
        state.changed = std::filesystem::last_write_time(path, error);
    }
    if (error == std::errc::no_such_file_or_directory) {
        throw notLoaded(fileName, cp1251(": файл удалён или переименован, пока он читался"));
    }
    if (error) {
        throw notLoaded(fileName, ": " + error.message());
    }
    return state;
}

std::ifstream openJobFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw VelkorError(cp1251("Не удалось открыть файл ") + utf8ToCp1251(path) + ": " +
                          std::strerror(errno));
    }
    return file;
}

// A file's content loads once, whatever the file is called: a second load would put its pieces
// in twice.
void refuseLoadedBefore(JobRowWriter& rows, const std::string& hash, const std::string& fileName) {
    if (const auto earlier = rows.loadedBefore(hash)) {
        throw notLoaded(fileName,
                        cp1251(": файл с тем же содержимым уже загружен ") + earlier->loaded +
                            (earlier->fileName.empty() ? std::string()
                                                       : cp1251(" (") + earlier->fileName + ")"));
    }
}

// Records before the file's first batch or piece belong to the last one in the database, from
// an earlier import; with none there, the record is an error of its line.
std::int64_t newestStored(std::optional<std::int64_t> key, std::string_view missing) {
    if (!key) {
        throw VelkorError(cp1251(missing));
    }
    return *key;
}

// Reads a job file's lines into the writer's queue and counts them in the report. An error of
// a line ends the load with the line's number; a record before it that the engine refuses is
// the error instead, as it came first.
class RecordReader {
  public:
    RecordReader(JobRowWriter& rows, const std::string& fileName, std::int32_t barcodeLength,
                 const JobImportOptions& options, JobImportReport& report)
        : rows_(rows),
          holeTypes_(rows),
          fileName_(fileName),
          barcodeLength_(barcodeLength),
          options_(options),
          report_(report) {}

    // Every line, and then what is still queued is sent.
    void readAll(JobFileLines& lines);
    // The file's P, C and W records.
    long records() const { return records_; }

  private:
    void queueRecord(const std::string& line, long lineNumber);
    void queueBatch(const std::string& line, long lineNumber);
    void queuePiece(const std::string& line, long lineNumber);
    void queueHole(const std::string& line, long lineNumber);
    void checkHole(const HoleRecord& hole, long lineNumber);
    void sendQueued();
    void reportProgress(long lineNumber);

    JobRowWriter& rows_;
    HoleTypes holeTypes_;
    const std::string& fileName_;
    std::int32_t barcodeLength_;
    const JobImportOptions& options_;
    JobImportReport& report_;
    long records_ = 0;
    bool barKnown_ = false;
    bool pieceKnown_ = false;
    long double pieceLength_ = 0;  // of the file's piece; 0 for an earlier one or none given
};

void RecordReader::readAll(JobFileLines& lines) {
    std::string line;
    for (long lineNumber = 1; lines.next(line); ++lineNumber) {
        report_.lines = lineNumber;
        try {
            queueRecord(line, lineNumber);
            if (lines.endedOpen()) {
                throw VelkorError(
                    cp1251("последняя запись обрывается без конца строки "
                           "(файл ещё копируется?)"));
            }
        } catch (const JobRowWriter::RecordRefused& refusal) {
            throw notLoadedAt(fileName_, refusal.line(), refusal.what());
        } catch (const std::exception& error) {
            sendQueued();  // a record before this line that the engine refuses comes first
            throw notLoadedAt(fileName_, lineNumber, error.what());
        }
        report_.bytesRead = lines.bytesRead();
        reportProgress(lineNumber);
    }
    sendQueued();
}

// Lines that are not P, C or W records are skipped.
void RecordReader::queueRecord(const std::string& line, long lineNumber) {
    if (line.starts_with('P')) {
        ++records_;
        queueBatch(line, lineNumber);
    } else if (line.starts_with('C')) {
        ++records_;
        queuePiece(line, lineNumber);
    } else if (line.starts_with('W')) {
        ++records_;
        queueHole(line, lineNumber);
    }
}

void RecordReader::queueBatch(const std::string& line, long lineNumber) {
    rows_.queueBatch(readBatchRecord(line), lineNumber);
    barKnown_ = true;
}

void RecordReader::queuePiece(const std::string& line, long lineNumber) {
    const PieceRow record = readPieceRecord(line, barcodeLength_);
    if (!barKnown_) {
        rows_.setBarParent(newestStored(rows_.latestBarKey(),
                                        "деталь стоит перед первой партией (P), а "
                                        "в базе нет ни одной партии"));
        barKnown_ = true;
    }
    rows_.queuePiece(record, lineNumber);
    pieceKnown_ = true;
    ++report_.pieces;
    pieceLength_ = readRealEitherSeparator(record.length);
}

void RecordReader::queueHole(const std::string& line, long lineNumber) {
    const HoleRecord hole = readHoleRecord(line);
    checkHole(hole, lineNumber);
    const std::string holeType = holeTypes_.keyOf(hole.code);
    if (!pieceKnown_) {
        rows_.setPieceParent(newestStored(rows_.latestPieceKey(),
                                          "отверстие стоит перед первой деталью "
                                          "(C), а в базе нет ни одной детали"));
        pieceKnown_ = true;
    }
    rows_.queueHole(holeType, hole.position, lineNumber);
    ++report_.holes;
}

// A position the machine or a dispatch cannot use is the line's error; a hole beyond the end of
// the file's piece loads, and the event log notes it.
void RecordReader::checkHole(const HoleRecord& hole, long lineNumber) {
    checkHolePosition(hole.millimetres, options_.limits);
    if (pieceLength_ > 0 && hole.millimetres > pieceLength_) {
        report_.notices.push_back(cp1251("Файл ") + fileName_ + cp1251(", строка ") +
                                  std::to_string(lineNumber) + cp1251(": отверстие на ") +
                                  hole.position + cp1251(" мм дальше конца детали (") +
                                  realText(pieceLength_) + cp1251(" мм)"));
    }
}

// Sends what is queued; a record the engine refuses is the file's error, at its line.
void RecordReader::sendQueued() {
    try {
        rows_.flush();
    } catch (const JobRowWriter::RecordRefused& refusal) {
        throw notLoadedAt(fileName_, refusal.line(), refusal.what());
    }
}

// Every 4096 lines the caller hears how far the load is, and may end it there.
void RecordReader::reportProgress(long lineNumber) {
    if (options_.progress && lineNumber % 4096 == 0 && !options_.progress(report_)) {
        throw notLoaded(fileName_,
                        cp1251(": загрузка прервана после строки ") + std::to_string(lineNumber));
    }
}

// Only a whole job file loads: one with records, and the same at its end as when it was opened.
void checkWholeFile(const std::string& path, const std::string& fileName, long records,
                    const FileState& opened, long lines) {
    if (records == 0) {
        // Not a job file (a table export, a file cut short): loading it would only rename it.
        throw notLoaded(fileName, cp1251(": в нём нет ни одной записи P, C или W"));
    }
    if (stateOf(path, fileName) != opened) {
        throw notLoaded(fileName, cp1251(": файл изменился, пока читались его ") +
                                      std::to_string(lines) +
                                      cp1251(" строк (его ещё копируют?); загрузите его, когда "
                                             "копия будет готова"));
    }
}

// The rows become durable together with the note that this content is loaded; the report gets
// how many pieces of earlier loads the new ones supersede.
void commitLoad(JobRowWriter& rows, const std::string& hash, const std::string& fileName,
                JobImportReport& report) {
    if (const auto keys = rows.pieceKeys(); keys.firstPiece) {
        report.superseded = rows.supersededBy(*keys.firstPiece, *keys.piece);
    }
    try {
        rows.recordLoaded(hash, fileName, report.pieces);
    } catch (const DuplicateKey&) {
        // Another workstation loaded the same content while this one read it: its load stands.
        refuseLoadedBefore(rows, hash, fileName);
        throw;
    }
    rows.commit();
}

// The file's rows in one transaction of their own, committed when the whole file is in; a
// failure before rolls all of them back.
JobImportReport loadRows(JobDatabase& database, std::ifstream& file, const std::string& path,
                         const std::string& fileName, std::int32_t barcodeLength,
                         const JobImportOptions& options) {
    JobImportReport report;
    const FileState opened = stateOf(path, fileName);
    report.bytesTotal = opened.size;
    const std::string hash = contentHash(path);
    report.contentHash = hash;
    database.ensureTable("JOBFILES");
    JobRowWriter rows(database);
    refuseLoadedBefore(rows, hash, fileName);
    RecordReader reader(rows, fileName, barcodeLength, options, report);
    JobFileLines lines(file);
    reader.readAll(lines);
    checkWholeFile(path, fileName, reader.records(), opened, report.lines);
    commitLoad(rows, hash, fileName, report);
    return report;
}

// A loaded file takes the stamp of the load in place of its extension; a file that has that
// name already stays as it is, and the error says the rows are in.
void renameLoaded(const std::string& path, const std::string& stamp, const std::string& fileName) {
    const std::filesystem::path oldPath(path);
    const std::string newName = importedFileName(oldPath.filename().string(), stamp);
    const std::string newPath = (oldPath.parent_path() / newName).string();
    try {
        renameKeepingExisting(path, newPath);
    } catch (const VelkorError& error) {
        throw VelkorError(cp1251("Файл ") + fileName + cp1251(" загружен, но не переименован в ") +
                          utf8ToCp1251(newName) + ": " + error.what());
    }
}

}  // namespace

JobImportReport importJobFile(JobDatabase& database, const std::string& path,
                              std::int32_t barcodeLength, std::time_t startTime,
                              const JobImportOptions& options) {
    std::tm localTime{};
    localtime_r(&startTime, &localTime);
    const std::string stamp = importStamp(localTime);
    const std::string fileName = fileNameOf(path);
    std::ifstream file = openJobFile(path);
    JobImportReport report = loadRows(database, file, path, fileName, barcodeLength, options);
    file.close();
    renameLoaded(path, stamp, fileName);
    return report;
}

}  // namespace velkor
