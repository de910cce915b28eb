#include "JobRowWriter.h"

#include "Logging.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

JobRowWriter::JobRowWriter(JobDatabase& database) : database_(database) {
    database_.beginWriting();
    // Each insert returns the new row's key, so its children can name it.
    batchInsert_ =
        "INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp) "
        "RETURNING " +
        database_.keyColumn(JobTable::Batches).returned;
    barInsert_ =
        "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
        "VALUES (?, 1, (select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1) "
        "RETURNING " +
        database_.keyColumn(JobTable::Bars).returned;
    pieceInsert_ =
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING " +
        database_.keyColumn(JobTable::Pieces).returned;
}

JobRowWriter::~JobRowWriter() {
    if (committed_ || !database_.inTransaction()) {
        return;
    }
    try {
        database_.rollBackWriting();
    } catch (const VelkorError& error) {
        // Nothing to hand the error to here; the engine drops an unended transaction anyway.
        qCWarning(lcJobData, "rolling back job rows: %s", cp1251ToUtf8(error.what()).c_str());
    }
}

std::int64_t JobRowWriter::insertReturningKey(const std::string& sql,
                                              const std::vector<Parameter>& values) {
    const auto returned = database_.executeOnce(sql, values);
    if (!returned || returned->empty() || (*returned)[0].isNull()) {
        throw VelkorError("The database returned no key for: " + sql);
    }
    return (*returned)[0].asInteger();
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
    const auto rows = database_.selectOnce("select h.holetypeid from holetype h where h.code = ?",
                                           {std::string(code)}, 1);
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front()[0].asText();
}

void JobRowWriter::insertHole(std::int64_t pieceKey, std::string_view holeTypeKey,
                              std::string_view position) {
    database_.executeOnce(
        "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
        "VALUES (?, ?, ?, 0, 0)",
        {std::to_string(pieceKey), std::string(holeTypeKey), std::string(position)});
}

std::optional<std::int64_t> JobRowWriter::latestKey(JobTable table) {
    const auto rows = database_.selectOnce(database_.keyColumn(table).latest, {}, 1);
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
    const auto rows = database_.selectOnce(
        "select substring(cast(j.loaded as varchar(24)) from 1 for 19), "
        "j.filename from jobfiles j where j.contenthash = ?",
        {std::string(contentHash)}, 1);
    if (rows.empty()) {
        return std::nullopt;
    }
    return LoadedFile{rows[0][0].asText(), rows[0][1].isNull() ? "" : rows[0][1].asText()};
}

void JobRowWriter::recordLoaded(std::string_view contentHash, std::string_view fileName,
                                long pieces) {
    database_.executeOnce(
        "INSERT INTO JOBFILES (CONTENTHASH, FILENAME, LOADED, PIECES) "
        "VALUES (?, ?, current_timestamp, ?)",
        {std::string(contentHash), std::string(fileName), std::to_string(pieces)});
}

long JobRowWriter::supersededBy(std::int64_t first, std::int64_t last) {
    const auto rows = database_.selectOnce(
        "select count(distinct e.optdetailid) from optdetail o "
        "join optdetail e on e.optdetailid_in = o.optdetailid_in "
        "where o.optdetailid between ? and ? and e.optdetailid < ?",
        {std::to_string(first), std::to_string(last), std::to_string(first)}, 1);
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
                database_.keyColumn(JobTable::Pieces).returned + " INTO :PIECE;\n" +
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
                database_.keyColumn(JobTable::Batches).returned + " INTO :BATCH;\n" +
                "    INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, "
                "COLORUOT) VALUES (:BATCH, 1, :VIRT, 0000, 0, 1, 1) RETURNING " +
                database_.keyColumn(JobTable::Bars).returned + " INTO :BAR;\n" + "  END\n" + body +
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
    queued_.push_back({RecordKind::Batch, line, std::string(name), {}, {}});
}

void JobRowWriter::queuePiece(const PieceRow& piece, long line) {
    queueRecord({RecordKind::Piece, line, {}, {}, piece});
}

void JobRowWriter::queueHole(std::string_view holeTypeKey, std::string_view position, long line) {
    queueRecord({RecordKind::Hole, line, std::string(holeTypeKey), std::string(position), {}});
}

void JobRowWriter::queueRecord(Queued record) {
    const auto opensGroup = [&] {
        return groups_ == 0 || record.kind == RecordKind::Piece || holesInGroup_ == kHolesPerGroup;
    };
    if (opensGroup() && groups_ == kPiecesPerBlock) {
        flush();
    }
    if (queued_.empty()) {
        queued_.push_back({RecordKind::BlockWithoutBatch, record.line, {}, {}, {}});
    }
    if (opensGroup()) {
        ++groups_;
        holesInGroup_ = 0;
    }
    holesInGroup_ += record.kind == RecordKind::Hole ? 1 : 0;
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
        const auto rows = database_.selectOnce(kContextKeys, {}, 1);
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
    const bool batchOpens = opening.kind == RecordKind::Batch;
    values.push_back(batchOpens ? "1" : "0");
    values.push_back(batchOpens ? Parameter(opening.text) : std::nullopt);
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
        if (record.kind == RecordKind::Piece) {
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
    database_.executeOnce(blockSql(), values);
}

void JobRowWriter::sendOneByOne() {
    Parents current = currentParents();
    for (const Queued& record : queued_) {
        try {
            switch (record.kind) {
                case RecordKind::Batch:
                    current.bar = insertBatch(record.text);
                    break;
                case RecordKind::Piece:
                    current.piece = insertPiece(current.bar.value(), record.piece);
                    current.firstPiece = current.firstPiece.value_or(*current.piece);
                    break;
                case RecordKind::Hole:
                    insertHole(current.piece.value(), record.text, record.position);
                    break;
                case RecordKind::BlockWithoutBatch:
                    break;
            }
        } catch (const std::exception& error) {
            const long line = record.line;
            queued_.clear();
            throw RecordRefused(line, error.what());
        }
    }
    // Where the next block starts from, as a block would have left it.
    database_.selectOnce(
        "select rdb$set_context('USER_TRANSACTION', 'VELKOR_BAR', cast(? as bigint)), "
        "rdb$set_context('USER_TRANSACTION', 'VELKOR_PIECE', cast(? as bigint)), "
        "rdb$set_context('USER_TRANSACTION', 'VELKOR_FIRST_PIECE', cast(? as bigint)) "
        "from rdb$database",
        {keyParameter(current.bar), keyParameter(current.piece), keyParameter(current.firstPiece)},
        1);
}

void JobRowWriter::commit() {
    database_.commitWriting();
    committed_ = true;
}

}  // namespace velkor
