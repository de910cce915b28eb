// velkor-report: prints the console's production records as CSV on standard output, for
// scripts and the plant office.
//
//   velkor-report [--from TIME] [--to TIME] [--batch NAME] [--workstation NAME]
//                 [--barcode N] [--bom] [DATABASE]

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FirebirdSession.h"
#include "ProductionReport.h"
#include "Text.h"
#include "Version.h"

namespace {

constexpr const char* kUsage =
    "usage: velkor-report [--from TIME] [--to TIME] [--batch NAME] [--workstation NAME]\n"
    "                     [--barcode N] [--bom] [DATABASE]\n"
    "\n"
    "Prints the Velkor console's production records (one line for each dispatch of\n"
    "positions) as CSV on standard output, oldest first. DATABASE is KV.GDB in the current\n"
    "folder unless given: a file (while no console works on it) or host:/path on a server.\n"
    "\n"
    "  --from TIME         records dispatched at or after TIME (2026-12-09 06:00)\n"
    "  --to TIME           records dispatched before TIME; times are the server's\n"
    "  --batch NAME        records of the batch NAME\n"
    "  --workstation NAME  records of the workstation NAME (its host name)\n"
    "  --barcode N         records of the barcode N\n"
    "  --bom               starts with UTF-8's byte order mark, for office spreadsheets\n"
    "  -h, --help          print this text and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "An option's value may also follow it after \"=\" (--batch=B-117).\n";

int fail(const std::string& message) {
    std::cerr << "velkor-report: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    velkor::ProductionFilter filter;
    std::optional<std::string> from;
    std::optional<std::string> to;
    std::optional<std::string> batch;
    std::optional<std::string> workstation;
    bool bom = false;
    std::vector<std::string> operands;
    const auto outcome = velkor::CommandLine()
                             .option("--from", from)
                             .option("--to", to)
                             .option("--batch", batch)
                             .option("--workstation", workstation)
                             .option("--barcode",
                                     [&filter](const std::string& text) {
                                         try {
                                             std::size_t used = 0;
                                             const long long barcode = std::stoll(text, &used);
                                             filter.barcode = barcode;
                                             return used == text.size() && barcode >= 0;
                                         } catch (const std::logic_error&) {
                                             return false;
                                         }
                                     })
                             .flag("--bom", bom)
                             .operands(operands, 1)
                             .read(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto status =
            velkor::answerCommandLine(outcome, "velkor-report", kUsage, velkor::kVersion)) {
        return *status;
    }
    // The command line is UTF-8; the database's texts are Windows-1251.
    const auto inDatabase = [](const std::optional<std::string>& text) {
        return text ? std::optional(velkor::utf8ToCp1251(*text)) : std::nullopt;
    };
    filter.from = from;
    filter.to = to;
    filter.batch = inDatabase(batch);
    filter.workstation = inDatabase(workstation);
    const std::string database = operands.empty() ? "KV.GDB" : operands.front();
    const bool local = database.find(':') == std::string::npos;

    velkor::prepareFirebirdEnvironment();
    int status = 0;
    try {
        velkor::JobDatabase jobs;
        try {
            jobs.connect(database);
        } catch (const std::exception& error) {
            const std::string folder = std::filesystem::absolute(database).parent_path().string();
            throw velkor::VelkorError(
                error.what() +
                (local && std::filesystem::exists(folder + "/velkor.running")
                     ? "\n(a console may be working in " + folder +
                           ": the file opens while it is closed, or through a server)"
                     : std::string()));
        }
        jobs.ensureTable("PRODUCTION");
        velkor::writeCsv(std::cout, velkor::productionHeadings(),
                         velkor::readProductionLines(jobs, filter), bom);
        std::cout.flush();
    } catch (const std::exception& error) {
        status = fail(velkor::cp1251ToUtf8(error.what()));
    }
    velkor::shutDownFirebirdEngine();
    return status;
}
