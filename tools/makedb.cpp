// velkor-makedb: creates a fresh job database (KV.GDB) for the console from the project's
// schema, optionally with machine variables and a run of generated pieces to scan.
//
//   velkor-makedb [--force] [--variables FILE] [--pieces N [--holes H]] [--job JOBFILE] DATABASE
//   velkor-makedb --existing [--variables FILE] [--job JOBFILE] DATABASE
//   velkor-makedb --workspace [--force] [--variables FILE] FOLDER
//
// FILE holds one KEY=VALUE line per VARIABLES row, in UTF-8 or Windows-1251 (stored as
// Windows-1251); blank
// lines and lines starting with # are skipped; key and value are stored exactly as written,
// so a file can also hold oddly spelled keys on purpose. --pieces N adds one batch of N pieces
// with the barcodes 100000001, 100000002, ... and H holes each (3 unless --holes says), at 100,
// 250.5 and 400 mm, then every 50 mm. --job imports a job file as the console's File/Load does,
// with the L_BarCode of FILE, and renames it with the import stamp as the console would.
// --existing works on a database that is there already (one on a server too, "host:/path"):
// nothing is created, --variables and --job add to it. --workspace makes the folder a console
// starts in at a new site: KV.GDB with FILE's variables (or the defaults built in, the same as
// tools/workspace/variables.txt), Morvel.INI with CNT=0 unless one is there, log/ and Job/.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Clock.h"
#include "CommandLine.h"
#include "FirebirdSession.h"
#include "JobImport.h"
#include "MachineParameters.h"
#include "RunMarker.h"
#include "Schema.h"
#include "SqlScript.h"
#include "Text.h"
#include "VelkorError.h"
#include "Version.h"
#include "WorkspaceDefaults.h"

namespace {

constexpr const char* kUsage =
    "usage: velkor-makedb [--force] [--variables FILE] [--pieces N [--holes H]]\n"
    "                     [--job JOBFILE] DATABASE\n"
    "       velkor-makedb --existing [--variables FILE] [--job JOBFILE] DATABASE\n"
    "       velkor-makedb --workspace [--force] [--variables FILE] FOLDER\n"
    "\n"
    "Makes the Velkor console's job database (KV.GDB) from its schema, or with\n"
    "--workspace a whole workspace for a new site: FOLDER/KV.GDB, Morvel.INI with\n"
    "CNT=0 (an existing one is kept), log/ and Job/. An existing KV.GDB is never\n"
    "touched without --force.\n"
    "\n"
    "  --variables FILE  machine variables, one KEY=VALUE line each, in UTF-8 (a byte\n"
    "                    order mark is skipped) or, when it is not valid UTF-8, in\n"
    "                    Windows-1251; without it a workspace gets the defaults,\n"
    "                    /usr/share/velkor/variables.txt\n"
    "  --pieces N        adds N generated pieces (barcodes 100000001...), H holes\n"
    "                    each\n"
    "  --job JOBFILE     imports a job file as the console's File/Load does\n"
    "  --existing        adds to a database that is there (also host:/path on a\n"
    "                    server)\n"
    "  --force           replaces an existing KV.GDB, keeping it as\n"
    "                    KV-<date>-<time>.GDB; refused while a console works in its\n"
    "                    folder\n"
    "  -h, --help        print this text and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "An option's value may also follow it after \"=\" (--variables=FILE).\n";

// Runs on the engine in one transaction: a million pieces take seconds instead of the hours that
// a commit per row would cost.
constexpr const char* kGeneratePieces = R"(
EXECUTE BLOCK (PIECES INTEGER = ?, FIRST_BARCODE BIGINT = ?, HOLES INTEGER = ?) AS
  DECLARE I INTEGER = 0;
  DECLARE J INTEGER;
  DECLARE HOLE_TYPE INTEGER;
BEGIN
  INSERT INTO GRORDERS (NAME, DATECREATED) VALUES ('GENERATED', current_timestamp);
  INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT)
    VALUES (gen_id(gen_grorders_id, 0), 1, (SELECT g.goodsid FROM GOODS g WHERE g.kod = 'VIRT'), 0, 0, 1, 1);
  SELECT FIRST 1 h.holetypeid FROM HOLETYPE h ORDER BY h.holetypeid INTO :HOLE_TYPE;
  WHILE (I < PIECES) DO
  BEGIN
    INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, CELL, OPTDETAILID_IN, RCOMMENT)
      VALUES (gen_id(gen_optimized_id, 0), 1200.0, 45.0, 45.0, MOD(:I, 1000), MOD(:I / 1000, 1000),
              MOD(:I, 100), :FIRST_BARCODE + :I, NULL);
    J = 0;
    WHILE (J < HOLES) DO
    BEGIN
      INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE)
        VALUES (gen_id(gen_optdetail_id, 0), :HOLE_TYPE,
                CASE WHEN :J = 0 THEN 100 WHEN :J = 1 THEN 250.5 ELSE 400 + 50 * (:J - 2) END, 0, 0);
      J = J + 1;
    END
    I = I + 1;
  END
END)";

std::string readVariablesFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw velkor::VelkorError("Cannot open variables file \"" + file + "\"");
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A variables file as an editor saved it: UTF-8 (with or without a byte order mark), or, when it
// is no valid UTF-8, Windows-1251 as the console's own texts are. Returned in Windows-1251; a
// UTF-8 character that the code page lacks is refused with its line, never stored as "?".
std::string variablesInWindows1251(std::string text, const std::string& file) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    if (!velkor::isValidUtf8(text)) {
        return text;
    }
    std::istringstream in(text);
    std::string converted;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto exact = velkor::utf8ToCp1251Exactly(line);
        if (!exact) {
            throw velkor::VelkorError(velkor::utf8ToCp1251(file) + ", line " +
                                      std::to_string(number) +
                                      ": a character that Windows-1251 does not have");
        }
        converted += *exact + "\n";
    }
    return converted;
}

// Every KEY=VALUE line of a variables file, with its line number; blank lines and comments are
// no entries.
struct VariableLine {
    int number;
    std::string key;
    std::string value;
};

std::vector<VariableLine> variableLines(const std::string& text) {
    std::vector<VariableLine> entries;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto equals = line.find('=');
        if (velkor::trimmed(line).empty() || line[0] == '#' || equals == std::string::npos) {
            continue;
        }
        entries.push_back({number, line.substr(0, equals), line.substr(equals + 1)});
    }
    return entries;
}

// A machine variable that the console could not read would stop its start-up (without naming
// the variable): refused here, with the key and the line, before anything is made.
void checkVariables(const std::string& text, const std::string& file) {
    velkor::MachineVariables scratch;
    for (const VariableLine& entry : variableLines(text)) {
        if (const auto* parameter = velkor::findMachineParameter(velkor::trimmed(entry.key))) {
            try {
                velkor::storeVariableText(scratch, *parameter, entry.value);
            } catch (const velkor::VelkorError& error) {
                throw velkor::VelkorError(velkor::utf8ToCp1251(file) + ", line " +
                                          std::to_string(entry.number) + ", " + parameter->key +
                                          ": " + error.what());
            }
        }
    }
}

void insertVariables(velkor::FirebirdSession& session, const std::string& text) {
    session.startTransaction();
    for (const VariableLine& entry : variableLines(text)) {
        session.execute("INSERT INTO VARIABLES (KODS, VAR_STR) VALUES (?, ?)",
                        {entry.key, entry.value});
    }
    session.commit();
}

// Index statistics are taken when an index is built, on empty tables here; after a bulk fill
// they are refreshed so that the database looks like one restored from a backup.
void refreshIndexStatistics(velkor::FirebirdSession& session) {
    session.startTransaction();
    const auto indexes = session.query(
        "select trim(rdb$index_name) from rdb$indices where coalesce(rdb$system_flag, 0) = 0");
    session.commit();
    for (const auto& index : indexes) {
        // Index names come from the engine's own catalogue, never from input; quoted as
        // identifiers since SET STATISTICS takes no parameters.
        session.startTransaction();
        session.execute("SET STATISTICS INDEX \"" + index[0].asText() + "\"");
        session.commit();
    }
}

// Imports a job file with the barcode length and the hole limits that the database's machine
// variables give, as the console would.
void importJob(const std::string& database, const std::string& job) {
    velkor::JobDatabase jobs;
    jobs.connect(database);
    velkor::MachineVariables variables;
    velkor::loadMachineVariables(variables, jobs.readVariables());
    for (const std::string& notice :
         velkor::importJobFile(jobs, job, variables.L_BarCode, std::time(nullptr),
                               {{variables.Qty_Imp_mm, variables.L_upor}, {}})
             .notices) {
        std::cerr << "velkor-makedb: " << velkor::cp1251ToUtf8(notice) << "\n";
    }
}

// The folder a console starts in at a new site. Its files are made before the database so that a
// folder that cannot be written fails before anything is created. A Morvel.INI that is a
// symbolic link (dangling or not) is refused: the tool, often run as root, never writes
// through one.
void prepareWorkspace(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder / "log");
    std::filesystem::create_directories(folder / "Job");
    const auto ini = folder / "Morvel.INI";
    const auto status = std::filesystem::symlink_status(ini);
    if (std::filesystem::is_symlink(status)) {
        throw velkor::VelkorError(ini.string() +
                                  " is a symbolic link; the workspace's files are never written "
                                  "through links");
    }
    if (!std::filesystem::exists(status)) {
        std::ofstream out(ini, std::ios::binary);
        out << "[Main]\r\nCNT=0\r\n";
        if (!out.flush()) {
            throw velkor::VelkorError("Cannot write \"" + ini.string() + "\"");
        }
    }
}

std::string localNow(const char* format) {
    char text[64];
    const std::tm local = velkor::localNow();
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// The name the replaced database keeps beside the new one: its own with the moment it was
// replaced before the extension (KV-20261209-081500.GDB), never one that is taken.
std::filesystem::path keptName(const std::filesystem::path& database) {
    const std::string stamp = localNow("-%Y%m%d-%H%M%S");
    for (int n = 0;; ++n) {
        std::filesystem::path kept = database;
        kept.replace_filename(database.stem().string() + stamp +
                              (n == 0 ? std::string() : "-" + std::to_string(n)) +
                              database.extension().string());
        if (!std::filesystem::exists(std::filesystem::symlink_status(kept))) {
            return kept;
        }
    }
}

int fail(const std::string& message, int status) {
    std::cerr << "velkor-makedb: " << message << "\n";
    return status;
}

// A count between 0 and `most`, for --pieces and --holes.
velkor::CommandLine::Setter countUpTo(long most, long& target) {
    return [most, &target](const std::string& text) {
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || value < 0 || value > most) {
            return false;
        }
        target = value;
        return true;
    };
}

}  // namespace

int main(int argc, char** argv) {
    bool force = false;
    bool existing = false;
    bool workspace = false;
    std::optional<std::string> variablesOption;
    long pieces = 0;
    long holes = 3;
    std::optional<std::string> jobOption;
    std::vector<std::string> operands;  // the database, or with --workspace the folder
    const auto outcome = velkor::CommandLine()
                             .flag("--force", force)
                             .flag("--existing", existing)
                             .flag("--workspace", workspace)
                             .option("--variables", variablesOption)
                             .option("--pieces", countUpTo(100'000'000, pieces))
                             .option("--holes", countUpTo(1000, holes))
                             .option("--job", jobOption)
                             .operands(operands, 1)
                             .read(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto status =
            velkor::answerCommandLine(outcome, "velkor-makedb", kUsage, velkor::kVersion)) {
        return *status;
    }
    if (operands.empty() || (existing && (force || pieces > 0 || workspace)) ||
        (workspace && (pieces > 0 || jobOption))) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& target = operands.front();
    const std::string variablesFile = variablesOption.value_or("");
    const std::string job = jobOption.value_or("");
    const std::string database =
        workspace ? (std::filesystem::path(target) / "KV.GDB").string() : target;
    struct stat there {};
    const bool replacing = !existing && ::lstat(database.c_str(), &there) == 0;
    if (replacing && !force) {
        return fail(database + " exists; --force replaces it", 1);
    }

    velkor::prepareFirebirdEnvironment();
    // A database being replaced may be the one a console works on: the console's claim on its
    // folder says so. The claim is held until the new database is there, so that no console
    // starts on the folder meanwhile.
    const std::filesystem::path folder = std::filesystem::absolute(database).parent_path();
    velkor::RunMarker marker((folder / "velkor.running").string());
    if (replacing) {
        try {
            marker.claim(localNow("%Y-%m-%d %H:%M:%S"));
        } catch (const velkor::RunMarker::Held& held) {
            return fail("a console works in " + folder.string() + " (started " +
                            velkor::cp1251ToUtf8(held.startedAt()) +
                            "); close it before replacing its database",
                        1);
        } catch (const std::exception& error) {
            return fail(velkor::cp1251ToUtf8(error.what()), 1);
        }
    }
    std::optional<std::filesystem::path> kept;  // the replaced database, until the new one is made
    try {
        std::string variables =
            variablesFile.empty()
                ? std::string()
                : variablesInWindows1251(readVariablesFile(variablesFile), variablesFile);
        checkVariables(variables, variablesFile);
        if (workspace) {
            prepareWorkspace(target);
            if (variablesFile.empty()) {
                variables = variablesInWindows1251(velkor::workspaceDefaultVariables(),
                                                   "the default variables");
            }
        }
        if (replacing) {
            // Kept, not deleted: a --force given by mistake costs no jobs.
            kept = keptName(database);
            std::filesystem::rename(database, *kept);
        }
        velkor::FirebirdSession session;
        if (existing) {
            session.attach(database);
        } else {
            session.create(database);
            for (const auto& statement : velkor::splitSqlScript(velkor::jobDatabaseSchema())) {
                session.startTransaction();
                session.execute(statement);
                session.commit();
            }
        }
        if (!variables.empty()) {
            insertVariables(session, variables);
        }
        if (pieces > 0) {
            session.startTransaction();
            session.execute(kGeneratePieces,
                            {std::to_string(pieces), "100000001", std::to_string(holes)});
            session.commit();
            refreshIndexStatistics(session);
        }
        session.detach();
        if (!job.empty()) {
            importJob(database, job);
        }
    } catch (const std::exception& error) {
        // Nothing is left of a database that could not be made whole; the one it was to replace
        // takes its place again.
        if (!existing) {
            velkor::shutDownFirebirdEngine();
            std::error_code ignored;
            std::filesystem::remove(database, ignored);
            if (kept) {
                std::filesystem::rename(*kept, database, ignored);
            }
        }
        marker.release();
        return fail(velkor::cp1251ToUtf8(error.what()), 1);
    }
    if (kept) {
        std::cout << "velkor-makedb: the replaced database is kept as " << kept->string() << "\n";
    }
    velkor::shutDownFirebirdEngine();
    marker.release();
    if (workspace) {
        std::cout << "velkor-makedb: workspace " << target
                  << " is ready; the console starts in it (cd " << target << " && velkor)\n";
    }
    return 0;
}
