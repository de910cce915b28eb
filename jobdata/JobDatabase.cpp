#include "JobDatabase.h"

#include <stdexcept>

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

// One block: the parents to start from, an optional batch first (with its bar), then groups of
// a piece (or none: more holes of the piece before) and its holes, null where there is none.
// Every value keeps the type of its column, so the engine converts and checks it as the
// single-row inserts have it done. The parents a block leaves stay in the transaction's
// context for the next block, so a block returns nothing and costs one round trip; a failed
// block sets nothing, as its inserts are undone.
const std::string& JobRowWriter::blockSql() {
    if (!blockSql_.empty()) {
        return blockSql_;
    }
    std::string parameters =
        "FROM_CONTEXT SMALLINT = ?, BAR0 BIGINT = ?, PIECE0 BIGINT = ?, FIRST0 BIGINT = ?, "
        "HAS_BATCH SMALLINT = ?, NAME TYPE OF COLUMN GRORDERS.NAME = ?";
    std::string body;
    for (std::size_t group = 0; group < kPiecesPerBlock; ++group) {
        const std::string n = std::to_string(group);
        parameters += ", C" + n + " SMALLINT = ?";
        for (const char* column :
             {"ITEMLONG", "UG1", "UG2", "NUM", "TELEGANO", "CELL", "OPTDETAILID_IN", "RCOMMENT"}) {
            parameters += std::string(", ") + column + "_" + n + " TYPE OF COLUMN OPTDETAIL." +
                          column + " = ?";
        }
        body += "  IF (C" + n + " = 1) THEN BEGIN\n" +
                "    INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
                "OPTDETAILID_IN, rcomment) VALUES (:BAR, :ITEMLONG_" +
                n + ", :UG1_" + n + ", :UG2_" + n + ", :NUM_" + n + ", :TELEGANO_" + n +
                ", :CELL_" + n + ", :OPTDETAILID_IN_" + n + ", :RCOMMENT_" + n + ") RETURNING " +
                keyOf(JobTable::Pieces).returned + " INTO :PIECE;\n" +
                "    IF (FIRST_PIECE IS NULL) THEN FIRST_PIECE = PIECE;\n  END\n";
        for (std::size_t hole = 0; hole < kHolesPerGroup; ++hole) {
            const std::string m = n + "_" + std::to_string(hole);
            parameters += ", H" + m + " TYPE OF COLUMN PERFORATION.HOLETYPEID = ?, X" + m +
                          " TYPE OF COLUMN PERFORATION.POSX = ?";
            body += "  IF (H" + m + " IS NOT NULL) THEN " +
                    "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
                    "VALUES (:PIECE, :H" +
                    m + ", :X" + m + ", 0, 0);\n";
        }
    }
    const auto fromContext = [](const char* given, const char* name) {
        return std::string("IIF(FROM_CONTEXT = 1, COALESCE(") + given +
               ", CAST(RDB$GET_CONTEXT('USER_TRANSACTION', '" + name + "') AS BIGINT)), " + given +
               ")";
    };
    blockSql_ = "EXECUTE BLOCK (" + parameters +
                ")\nAS\n"
                "DECLARE VARIABLE BAR BIGINT;\n"
                "DECLARE VARIABLE PIECE BIGINT;\n"
                "DECLARE VARIABLE FIRST_PIECE BIGINT;\n"
                "DECLARE VARIABLE BATCH BIGINT;\n"
                "DECLARE VARIABLE VIRT TYPE OF COLUMN OPTIMIZED.GOODSID;\n"
                "DECLARE VARIABLE SET_ INTEGER;\n"
                "BEGIN\n"
                "  BAR = " +
                fromContext("BAR0", "VELKOR_BAR") + ";\n" +
                "  PIECE = " + fromContext("PIECE0", "VELKOR_PIECE") + ";\n" +
                "  FIRST_PIECE = " + fromContext("FIRST0", "VELKOR_FIRST_PIECE") + ";\n" +
                "  IF (HAS_BATCH = 1) THEN BEGIN\n"
                "    VIRT = (select g.goodsid from GOODS g where g.kod = 'VIRT');\n"
                "    INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (:NAME, current_timestamp) "
                "RETURNING " +
                keyOf(JobTable::Batches).returned + " INTO :BATCH;\n" +
                "    INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, "
                "COLORUOT) VALUES (:BATCH, 1, :VIRT, 0000, 0, 1, 1) RETURNING " +
                keyOf(JobTable::Bars).returned + " INTO :BAR;\n" + "  END\n" + body +
                "  SET_ = RDB$SET_CONTEXT('USER_TRANSACTION', 'VELKOR_BAR', BAR);\n"
                "  SET_ = RDB$SET_CONTEXT('USER_TRANSACTION', 'VELKOR_PIECE', PIECE);\n"
                "  SET_ = RDB$SET_CONTEXT('USER_TRANSACTION', 'VELKOR_FIRST_PIECE', FIRST_PIECE);\n"
                "END";
    return blockSql_;
}

namespace {

Parameter keyParameter(const std::optional<std::int64_t>& key) {
    return key ? Parameter(std::to_string(*key)) : std::nullopt;
}

std::optional<std::int64_t> keyField(const Field& field) {
    return field.isNull() ? std::nullopt : std::optional<std::int64_t>(field.asInteger());
}

constexpr const char* kContextKeys =
    "select rdb$get_context('USER_TRANSACTION', 'VELKOR_BAR'), "
    "rdb$get_context('USER_TRANSACTION', 'VELKOR_PIECE'), "
    "rdb$get_context('USER_TRANSACTION', 'VELKOR_FIRST_PIECE') from rdb$database";

}  // namespace

void JobRowWriter::queueBatch(std::string_view name, long line) {
    flush();  // a batch opens a block
    queued_.push_back({'P', line, std::string(name), {}, {}});
}

void JobRowWriter::queuePiece(const PieceRow& piece, long line) {
    queueRecord({'C', line, {}, {}, piece});
}

void JobRowWriter::queueHole(std::string_view holeTypeKey, std::string_view position, long line) {
    queueRecord({'W', line, std::string(holeTypeKey), std::string(position), {}});
}

void JobRowWriter::queueRecord(Queued record) {
    const auto opensGroup = [&] {
        return groups_ == 0 || record.kind == 'C' || holesInGroup_ == kHolesPerGroup;
    };
    if (opensGroup() && groups_ == kPiecesPerBlock) {
        flush();
    }
    if (queued_.empty()) {
        queued_.push_back({'\0', record.line, {}, {}, {}});  // no batch opens this block
    }
    if (opensGroup()) {
        ++groups_;
        holesInGroup_ = 0;
    }
    holesInGroup_ += record.kind == 'W' ? 1 : 0;
    queued_.push_back(std::move(record));
}

void JobRowWriter::setBarParent(std::int64_t barKey) {
    flush();
    parents_.bar = barKey;
    givenParents_.bar = true;
}

void JobRowWriter::setPieceParent(std::int64_t pieceKey) {
    flush();
    parents_.piece = pieceKey;
    givenParents_.piece = true;
}

// The parents the next record has: given ones, or else those the blocks left.
JobRowWriter::Parents JobRowWriter::currentParents() {
    Parents current = parents_;
    if (parentsInContext_) {
        const auto rows =
            database_.guarded([&] { return database_.prepared(kContextKeys).run({}, 1); });
        const Row& keys = rows.at(0);
        current.bar = givenParents_.bar ? parents_.bar : keyField(keys.at(0));
        current.piece = givenParents_.piece ? parents_.piece : keyField(keys.at(1));
        current.firstPiece = keyField(keys.at(2));
    }
    return current;
}

JobRowWriter::Parents JobRowWriter::pieceKeys() {
    flush();
    return currentParents();
}

void JobRowWriter::flush() {
    if (queued_.empty()) {
        return;
    }
    try {
        sendBlock();
    } catch (const VelkorError& error) {
        if (!database_.connected()) {
            const long line = queued_.front().line;
            queued_.clear();
            throw RecordRefused(line, error.what());
        }
        // Undone whole by the engine: the records again, one at a time, name the one refused.
        sendOneByOne();
    }
    queued_.clear();
    groups_ = 0;
    holesInGroup_ = 0;
    parentsInContext_ = true;
    givenParents_ = {};
}

void JobRowWriter::sendBlock() {
    std::vector<Parameter> values;
    constexpr std::size_t kGroupValues = 9 + 2 * kHolesPerGroup;
    values.reserve(6 + kGroupValues * kPiecesPerBlock);
    values.push_back(parentsInContext_ ? "1" : "0");
    values.push_back(givenParents_.bar || !parentsInContext_ ? keyParameter(parents_.bar)
                                                             : std::nullopt);
    values.push_back(givenParents_.piece || !parentsInContext_ ? keyParameter(parents_.piece)
                                                               : std::nullopt);
    values.push_back(parentsInContext_ ? std::nullopt : keyParameter(parents_.firstPiece));
    const Queued& opening = queued_.front();
    values.push_back(opening.kind == 'P' ? "1" : "0");
    values.push_back(opening.kind == 'P' ? Parameter(opening.text) : std::nullopt);
    // The groups as queueRecord counted them; each starts with its piece's place.
    std::size_t holes = kHolesPerGroup;
    std::size_t groupStart = 0;
    const auto openGroup = [&](const PieceRow* piece) {
        groupStart = values.size();
        values.push_back(piece != nullptr ? "1" : "0");
        if (piece != nullptr) {
            values.insert(values.end(),
                          {piece->length, piece->firstAngle, piece->secondAngle, piece->number,
                           piece->trolley, piece->cell, piece->barcode, piece->comment});
        } else {
            values.insert(values.end(), 8, std::nullopt);
        }
        values.insert(values.end(), 2 * kHolesPerGroup, std::nullopt);
        holes = 0;
    };
    for (std::size_t i = 1; i < queued_.size(); ++i) {
        const Queued& record = queued_[i];
        if (record.kind == 'C') {
            openGroup(&record.piece);
            continue;
        }
        if (holes == kHolesPerGroup) {
            openGroup(nullptr);
        }
        values[groupStart + 9 + 2 * holes] = record.text;
        values[groupStart + 10 + 2 * holes] = record.position;
        ++holes;
    }
    values.resize(6 + kGroupValues * kPiecesPerBlock, std::nullopt);
    database_.guarded([&] { database_.prepared(blockSql()).execute(values); });
}

void JobRowWriter::sendOneByOne() {
    Parents current = currentParents();
    for (const Queued& record : queued_) {
        try {
            if (record.kind == 'P') {
                current.bar = insertBatch(record.text);
            } else if (record.kind == 'C') {
                current.piece = insertPiece(current.bar.value(), record.piece);
                current.firstPiece = current.firstPiece.value_or(*current.piece);
            } else if (record.kind == 'W') {
                insertHole(current.piece.value(), record.text, record.position);
            }
        } catch (const std::exception& error) {
            const long line = record.line;
            queued_.clear();
            throw RecordRefused(line, error.what());
        }
    }
    // Where the next block starts from, as a block would have left it.
    database_.guarded([&] {
        database_
            .prepared(
                "select rdb$set_context('USER_TRANSACTION', 'VELKOR_BAR', cast(? as bigint)), "
                "rdb$set_context('USER_TRANSACTION', 'VELKOR_PIECE', cast(? as bigint)), "
                "rdb$set_context('USER_TRANSACTION', 'VELKOR_FIRST_PIECE', cast(? as bigint)) "
                "from rdb$database")
            .run({keyParameter(current.bar), keyParameter(current.piece),
                  keyParameter(current.firstPiece)},
                 1);
    });
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
