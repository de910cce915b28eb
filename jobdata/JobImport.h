#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JobDatabase.h"

namespace velkor {

// Job files: plain Windows-1251 text from the cutting line's optimiser, one record per line.
// "P" starts a batch, "C" is a piece of the batch before it, "W" a hole of the piece before
// it; every other line is skipped. Fields sit at fixed columns; those after a piece's barcode
// move with the barcode length L_BarCode.

// Reads a job file line by line: a line ends at LF, CR LF or a CR alone (files from older
// systems), a UTF-8 byte order mark before the first line is skipped, and a Ctrl-Z ends the
// file. `endedOpen()` tells whether the file's last line had no line end: a file cut short in
// the middle of a record (still being copied) ends that way.
class JobFileLines {
  public:
    explicit JobFileLines(std::istream& in) : in_(in) {}
    bool next(std::string& line);
    bool endedOpen() const { return endedOpen_; }
    std::uintmax_t bytesRead() const { return bytesRead_; }

  private:
    std::istream& in_;
    std::uintmax_t bytesRead_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool endedOpen_ = false;
};

// The fields of a piece record, converted: numbers without leading zeros, decimals as whole
// part, ".", tenths character; throws the conversion error of the first bad number field.
PieceRow readPieceRecord(std::string_view line, std::int32_t barcodeLength);

// A hole record: the hole-type code and the position in millimetres (the file gives tenths).
struct HoleRecord {
    std::string code;
    std::string position;
    long double millimetres = 0;
};
HoleRecord readHoleRecord(std::string_view line);

// The batch name of a batch record.
std::string readBatchRecord(std::string_view line);

// The stamp an imported file gets in place of its extension: day, month, year, "_", hour,
// minute, "_", second, without leading zeros (6122026_95_3 for 6 December 2026, 09:05:03).
std::string importStamp(const std::tm& localTime);

// The file name after the import: up to and including its first ".", then the stamp; a name
// without "." becomes the stamp alone.
std::string importedFileName(std::string_view fileName, std::string_view stamp);

// The machine variables that decide which hole positions a scan's dispatch can send: a
// position less the stop-to-head distance, times the impulses per millimetre, must fit the
// controller's 32-bit integer. With no factor (0) only the file's own bounds are checked.
struct HolePositionLimits {
    long double impulsesPerMillimetre = 0;
    long double stopToHead = 0;
};

// What a load brought, as it goes and at its end.
struct JobImportReport {
    std::uintmax_t bytesRead = 0;      // of the file, so far
    std::uintmax_t bytesTotal = 0;     // the file's size
    long lines = 0;                    // lines read so far
    long pieces = 0;                   // piece records loaded
    long holes = 0;                    // hole records loaded
    long superseded = 0;               // pieces of earlier loads with a barcode of this file's
    std::string contentHash;           // SHA-256 of the file, in hex, once it is known
    std::vector<std::string> notices;  // for the event log: holes beyond their piece
};

struct JobImportOptions {
    HolePositionLimits limits;
    // Told how far the load is every few thousand lines; returning false ends the load (its
    // rows go, the file keeps its name).
    std::function<bool(const JobImportReport&)> progress;
};

// Imports a job file into the job database in one transaction, then renames it with the stamp
// of `startTime`.
//
// Only whole files load, and only once: a file whose content was loaded before (whatever its
// name) is refused with when that was; one that changes while it is read, or whose last record
// has no line end (a copy not finished), is refused naming the line, and so is a record with
// text beyond its layout. A hole whose position is negative or could not be sent (`limits`) is
// an error of its line; one beyond the end of its piece (when the file gives the piece) is
// loaded and noted. The report says how many pieces of earlier loads the new ones supersede. A
// failure on any line rolls back every row of the file and leaves its name, so that the corrected
// file can be imported again; the error names the file and the line. A file without a single P, C
// or W record is refused the same way. A rename that fails after the commit is reported as such:
// the rows are in, the name stays.
JobImportReport importJobFile(JobDatabase& database, const std::string& path,
                              std::int32_t barcodeLength, std::time_t startTime,
                              const JobImportOptions& options = {});

}  // namespace velkor
