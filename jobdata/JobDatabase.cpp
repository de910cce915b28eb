#include "JobDatabase.h"

#include "Logging.h"
#include "Schema.h"
#include "SqlScript.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

// What was prepared or learnt on a connection goes with it.
void JobDatabase::abandonConnection() {
    prepared_.clear();
    keyColumns_.clear();
    loadedFilesTableSeen_ = false;
    session_.abandon();
}

// A statement that failed because the connection is gone (the server stopped, the network
// down) takes the connection with it: the next read connects again, and the operator is told
// what happened rather than only the engine's words.
template <typename Action>
auto JobDatabase::guarded(Action&& action) -> decltype(action()) {
    try {
        return action();
    } catch (const DatabaseConnectionLost& error) {
        abandonConnection();
        throw lostConnection(error);
    }
}

// A statement the console may simply run again, because it only reads or because it sets a
// value outright: when it finds the connection gone (the server restarted, the network
// blinked), the console connects again and runs it once more before anything is reported.
template <typename Action>
auto JobDatabase::retried(Action&& action) -> decltype(action()) {
    if (!session_.attached()) {
        if (databaseString_.empty()) {
            throw VelkorError("Cannot perform operation -- DB is not open");
        }
        session_.attach(databaseString_);
    }
    try {
        return action();
    } catch (const DatabaseConnectionLost& error) {
        abandonConnection();
        try {
            session_.attach(databaseString_);
        } catch (const VelkorError&) {
            throw lostConnection(error);  // still away: the next statement tries again
        }
        return guarded(action);
    }
}

VelkorError JobDatabase::lostConnection(const std::exception& error) const {
    return VelkorError(cp1251("Связь с базой данных ") + utf8ToCp1251(databaseString_) +
                       cp1251(" потеряна: ") + error.what());
}

void JobDatabase::connect(std::string databaseString) {
    prepared_.clear();
    keyColumns_.clear();
    session_.detach();
    databaseString_ = std::move(databaseString);
    session_.attach(databaseString_);
    session_.startTransaction(true);
}

std::vector<Row> JobDatabase::read(std::string_view sql, const std::vector<Parameter>& parameters,
                                   std::size_t maxRows) {
    return retried([&] {
        if (!session_.inTransaction()) {
            session_.startTransaction(true);
        }
        return prepared(sql).run(parameters, maxRows);
    });
}

void JobDatabase::beginWriting() {
    if (!session_.attached()) {
        throw VelkorError("Cannot perform operation -- DB is not open");
    }
    guarded([&] { startWriteTransaction(); });
}

void JobDatabase::startWriteTransaction() {
    if (session_.readOnlyTransaction()) {
        session_.commit();  // a read's transaction: nothing to keep, and it cannot write
    }
    if (!session_.inTransaction()) {
        session_.startTransaction(false);
    }
}

FirebirdSession::PreparedQuery& JobDatabase::prepared(std::string_view sql) {
    auto found = prepared_.find(sql);
    if (found == prepared_.end()) {
        found = prepared_.emplace(std::string(sql), session_.prepare(sql)).first;
    }
    return found->second;
}

void JobDatabase::write(std::string_view sql, const std::vector<Parameter>& parameters) {
    retried([&] {
        startWriteTransaction();
        prepared(sql).execute(parameters);
        session_.commit();
    });
}

// Read with the machine variables, so that an apply knows it before it sends anything, also
// while the connection is away.
void JobDatabase::readVariableValueLimit() {
    const auto rows = read(
        "select f.rdb$character_length from rdb$relation_fields r "
        "join rdb$fields f on f.rdb$field_name = r.rdb$field_source "
        "where r.rdb$relation_name = 'VARIABLES' and r.rdb$field_name = 'VAR_STR'",
        {});
    variableValueLimit_ = rows.empty() || rows[0][0].isNull()
                              ? SIZE_MAX
                              : static_cast<std::size_t>(rows[0][0].asInteger());
}

std::vector<VariableRow> JobDatabase::readVariables() {
    readVariableValueLimit();
    std::vector<VariableRow> variables;
    for (const auto& row : read("select v.kods, v.var_str from variables v", {})) {
        variables.push_back({row[0].asText(), row[1].asText()});
    }
    return variables;
}

std::vector<std::optional<double>> JobDatabase::readPiecePositions(std::string_view barcode) {
    std::vector<std::optional<double>> positions;
    // The newest piece is found first, by the barcode's index, and its holes then by theirs: no
    // join that the engine could drive from PERFORATION (in a database whose index statistics
    // date from when its tables were empty it would read every hole of every job).
    for (const auto& row :
         read("select p.posx from PERFORATION p where p.optdetailid = "
              "(select max(o.optdetailid) from optdetail o where o.optdetailid_in = ?) "
              "group by 1 order by 1",
              {std::string(barcode)})) {
        // A hole without a position (NULL) is no position: nothing to send for it.
        positions.push_back(row[0].isNull() ? std::nullopt : std::optional(row[0].asReal()));
    }
    return positions;
}

void JobDatabase::updateVariable(std::string_view upperKey, std::string_view value) {
    write("update VARIABLES s set s.VAR_STR = ? where upper(s.KODS) = ?",
          {std::string(value), std::string(upperKey)});
}

// The table as the schema script defines it; made once, in a transaction of its own. Two
// workstations that make it at the same moment: the second finds it there.
void JobDatabase::ensureLoadedFilesTable() {
    const auto there = [this] {
        return read("select count(*) from rdb$relations where rdb$relation_name = 'JOBFILES'",
                    {})[0][0]
                   .asInteger() > 0;
    };
    if (loadedFilesTableSeen_ || there()) {
        loadedFilesTableSeen_ = true;
        return;
    }
    std::string definition;
    for (const std::string& statement : splitSqlScript(jobDatabaseSchema())) {
        if (statement.starts_with("CREATE TABLE JOBFILES")) {
            definition = statement;
        }
    }
    try {
        beginWriting();
        guarded([&] {
            session_.execute(definition);
            session_.commit();
        });
    } catch (const VelkorError&) {
        if (session_.inTransaction()) {
            session_.rollback();
        }
        if (!there()) {
            throw;
        }
    }
    loadedFilesTableSeen_ = true;
}

JobRowWriter::JobRowWriter(JobDatabase& database) : database_(database) {
    database_.beginWriting();
    // Each insert returns the new row's key, so its children can name it.
    batchInsert_ =
        "INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp) "
        "RETURNING " +
        keyOf(JobTable::Batches).returned;
    barInsert_ =
        "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
        "VALUES (?, 1, (select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1) "
        "RETURNING " +
        keyOf(JobTable::Bars).returned;
    pieceInsert_ =
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING " +
        keyOf(JobTable::Pieces).returned;
}

JobRowWriter::~JobRowWriter() {
    if (committed_ || !database_.session_.inTransaction()) {
        return;
    }
    try {
        database_.session_.rollback();
    } catch (const VelkorError& error) {
        // Nothing to hand the error to here; the engine drops an unended transaction anyway.
        qCWarning(lcJobData, "rolling back job rows: %s", cp1251ToUtf8(error.what()).c_str());
    }
}

std::int64_t JobRowWriter::insertReturningKey(const std::string& sql,
                                              const std::vector<Parameter>& values) {
    const auto returned =
        database_.guarded([&] { return database_.prepared(sql).execute(values); });
    if (!returned || returned->empty() || (*returned)[0].isNull()) {
        throw VelkorError("The database returned no key for: " + sql);
    }
    return (*returned)[0].asInteger();
}

const JobDatabase::KeyColumn& JobRowWriter::keyOf(JobTable table) {
    return database_.keyColumn(table);
}

std::int64_t JobRowWriter::insertBatch(std::string_view name) {
    const std::int64_t batchKey = insertReturningKey(batchInsert_, {std::string(name)});
    return insertReturningKey(barInsert_, {std::to_string(batchKey)});
}

std::int64_t JobRowWriter::insertPiece(std::int64_t barKey, const PieceRow& piece) {
    return insertReturningKey(
        pieceInsert_, {std::to_string(barKey), piece.length, piece.firstAngle, piece.secondAngle,
                       piece.number, piece.trolley, piece.cell, piece.barcode, piece.comment});
}

std::optional<std::string> JobRowWriter::findHoleType(std::string_view code) {
    const auto rows = database_.guarded([&] {
        return database_.prepared("select h.holetypeid from holetype h where h.code = ?")
            .run({std::string(code)}, 1);
    });
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front()[0].asText();
}

void JobRowWriter::insertHole(std::int64_t pieceKey, std::string_view holeTypeKey,
                              std::string_view position) {
    database_.guarded([&] {
        database_
            .prepared(
                "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
                "VALUES (?, ?, ?, 0, 0)")
            .execute({std::to_string(pieceKey), std::string(holeTypeKey), std::string(position)});
    });
}

std::optional<std::int64_t> JobRowWriter::latestKey(JobTable table) {
    const auto rows =
        database_.guarded([&] { return database_.prepared(keyOf(table).latest).run({}, 1); });
    if (rows.empty() || rows[0].empty() || rows[0][0].isNull()) {
        return std::nullopt;
    }
    return rows[0][0].asInteger();
}

std::optional<std::int64_t> JobRowWriter::latestBarKey() {
    return latestKey(JobTable::Bars);
}

std::optional<std::int64_t> JobRowWriter::latestPieceKey() {
    return latestKey(JobTable::Pieces);
}

std::optional<JobRowWriter::LoadedFile> JobRowWriter::loadedBefore(std::string_view contentHash) {
    const auto rows = database_.guarded([&] {
        return database_
            .prepared(
                "select substring(cast(j.loaded as varchar(24)) from 1 for 19), "
                "j.filename from jobfiles j where j.contenthash = ?")
            .run({std::string(contentHash)}, 1);
    });
    if (rows.empty()) {
        return std::nullopt;
    }
    return LoadedFile{rows[0][0].asText(), rows[0][1].isNull() ? "" : rows[0][1].asText()};
}

void JobRowWriter::recordLoaded(std::string_view contentHash, std::string_view fileName,
                                long pieces) {
    database_.guarded([&] {
        database_
            .prepared(
                "INSERT INTO JOBFILES (CONTENTHASH, FILENAME, LOADED, PIECES) "
                "VALUES (?, ?, current_timestamp, ?)")
            .execute({std::string(contentHash), std::string(fileName), std::to_string(pieces)});
    });
}

long JobRowWriter::supersededBy(std::int64_t first, std::int64_t last) {
    const auto rows = database_.guarded([&] {
        return database_
            .prepared(
                "select count(distinct e.optdetailid) from optdetail o "
                "join optdetail e on e.optdetailid_in = o.optdetailid_in "
                "where o.optdetailid between ? and ? and e.optdetailid < ?")
            .run({std::to_string(first), std::to_string(last), std::to_string(first)}, 1);
    });
    return static_cast<long>(rows.at(0)[0].asInteger());
}

void JobRowWriter::commit() {
    database_.guarded([&] { database_.session_.commit(); });
    committed_ = true;
}

namespace {

struct JobTableNames {
    const char* table;
    const char* generator;
};

JobTableNames namesOf(JobTable table) {
    switch (table) {
        case JobTable::Batches:
            return {"GRORDERS", "gen_grorders_id"};
        case JobTable::Bars:
            return {"OPTIMIZED", "gen_optimized_id"};
        case JobTable::Pieces:
            break;
    }
    return {"OPTDETAIL", "gen_optdetail_id"};
}

// An identifier from the engine's own catalogue, quoted as the SQL text needs it.
std::string quotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace

// The key column is the table's one-column primary key, whatever it is called. A database that
// declares none falls back on the generator rule of the schema: the generator's value right
// after the insert, in the same statement (exact as long as nobody else inserts meanwhile).
const JobDatabase::KeyColumn& JobDatabase::keyColumn(JobTable table) {
    if (const auto found = keyColumns_.find(table); found != keyColumns_.end()) {
        return found->second;
    }
    const JobTableNames names = namesOf(table);
    const auto columns = guarded([&] {
        return prepared(
                   "select trim(s.rdb$field_name) from rdb$relation_constraints c "
                   "join rdb$index_segments s on s.rdb$index_name = c.rdb$index_name "
                   "where c.rdb$constraint_type = 'PRIMARY KEY' and c.rdb$relation_name = ?")
            .run({std::string(names.table)});
    });
    KeyColumn key;
    if (columns.size() == 1) {
        const std::string column = quotedIdentifier(columns[0][0].asText());
        key.returned = column;
        key.latest = "select max(" + column + ") from " + names.table;
    } else {
        key.returned = std::string("gen_id(") + names.generator + ", 0)";
        key.latest = "select " + key.returned + " from rdb$database";
    }
    return keyColumns_.emplace(table, std::move(key)).first->second;
}

}  // namespace velkor
