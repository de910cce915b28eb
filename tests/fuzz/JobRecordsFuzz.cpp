// Fuzzing target for the job file's record readers: the first byte chooses the barcode length,
// the rest is one line read as a batch, a piece and a hole record. A line is read or refused
// with the console's error, never a crash or another exception.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "JobImport.h"
#include "VelkorError.h"

using velkor::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::int32_t barcodeLength = data[0] % 40;
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        const std::string batch = velkor::readBatchRecord(line);
        check(batch.size() <= 20, "a batch name fits its columns");
    } catch (const velkor::VelkorError&) {
    }
    try {
        const velkor::PieceRow piece = velkor::readPieceRecord(line, barcodeLength);
        check(piece.barcode.size() <= static_cast<std::size_t>(barcodeLength),
              "a barcode fits its columns");
    } catch (const velkor::VelkorError&) {
    }
    try {
        velkor::readHoleRecord(line);
    } catch (const velkor::VelkorError&) {
    }
    return 0;
}
