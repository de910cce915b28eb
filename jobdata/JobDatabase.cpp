#include "JobDatabase.h"

#include <iostream>

#include "VelkorError.h"

namespace velkor {

void JobDatabase::connect(std::string databaseString) {
    prepared_.clear();
    session_.detach();
    databaseString_ = std::move(databaseString);
    session_.attach(databaseString_);
    session_.startTransaction();
}

std::vector<Row> JobDatabase::read(std::string_view sql, const std::vector<Parameter>& parameters,
                                   std::size_t maxRows) {
    if (!session_.attached()) {
        session_.attach(databaseString_);
    }
    if (!session_.inTransaction()) {
        session_.startTransaction();
    }
    return prepared(sql).run(parameters, maxRows);
}

FirebirdSession::PreparedQuery& JobDatabase::prepared(std::string_view sql) {
    auto found = prepared_.find(sql);
    if (found == prepared_.end()) {
        found = prepared_.emplace(std::string(sql), session_.prepare(sql)).first;
    }
    return found->second;
}

void JobDatabase::write(std::string_view sql, const std::vector<Parameter>& parameters) {
    if (!session_.attached()) {
        throw VelkorError("Cannot perform operation -- DB is not open");
    }
    if (!session_.inTransaction()) {
        session_.startTransaction();
    }
    session_.execute(sql, parameters);
    session_.commit();
}

std::vector<VariableRow> JobDatabase::readVariables() {
    std::vector<VariableRow> variables;
    for (const auto& row : read("select v.kods, v.var_str from variables v", {})) {
        variables.push_back({row[0].asText(), row[1].asText()});
    }
    return variables;
}

std::vector<double> JobDatabase::readPiecePositions(std::string_view barcode) {
    std::vector<double> positions;
    // "+ 0" keeps the engine from driving the join from PERFORATION: in a database whose index
    // statistics date from when its tables were empty (a fresh KV.GDB filled by imports), it
    // would otherwise read every hole of every job (seconds at a million pieces) instead of
    // finding the piece by its barcode index first.
    for (const auto& row : read("select p.posx from PERFORATION p, optdetail o "
                                "where p.optdetailid = o.optdetailid + 0 and o.optdetailid_in = ? "
                                "group by 1 order by 1",
                                {std::string(barcode)})) {
        positions.push_back(row[0].asReal());
    }
    return positions;
}

void JobDatabase::updateVariable(std::string_view upperKey, std::string_view value) {
    write("update VARIABLES s set s.VAR_STR = ? where upper(s.KODS) = ?",
          {std::string(value), std::string(upperKey)});
}

JobRowWriter::JobRowWriter(JobDatabase& database) : database_(database) {
    if (!database_.session_.attached()) {
        throw VelkorError("Cannot perform operation -- DB is not open");
    }
    if (!database_.session_.inTransaction()) {
        database_.session_.startTransaction();
    }
}

JobRowWriter::~JobRowWriter() {
    if (committed_ || !database_.session_.inTransaction()) {
        return;
    }
    try {
        database_.session_.rollback();
    } catch (const VelkorError& error) {
        // Nothing to hand the error to here; the engine drops an unended transaction anyway.
        std::cerr << "velkor: rolling back job rows: " << error.what() << "\n";
    }
}

std::int64_t JobRowWriter::insertReturningKey(std::string_view sql,
                                              const std::vector<Parameter>& values) {
    const auto returned = database_.prepared(sql).execute(values);
    if (!returned || returned->empty() || (*returned)[0].isNull()) {
        throw VelkorError("The database returned no key for: " + std::string(sql));
    }
    return (*returned)[0].asInteger();
}

std::int64_t JobRowWriter::insertBatch(std::string_view name) {
    const std::int64_t batchKey = insertReturningKey(
        "INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp) "
        "RETURNING GRORDERSID",
        {std::string(name)});
    return insertReturningKey(
        "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
        "VALUES (?, 1, (select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1) "
        "RETURNING OPTIMIZEDID",
        {std::to_string(batchKey)});
}

std::int64_t JobRowWriter::insertPiece(std::int64_t barKey, const PieceRow& piece) {
    return insertReturningKey(
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING OPTDETAILID",
        {std::to_string(barKey), piece.length, piece.firstAngle, piece.secondAngle, piece.number,
         piece.trolley, piece.cell, piece.barcode, piece.comment});
}

std::optional<std::string> JobRowWriter::findHoleType(std::string_view code) {
    const auto rows = database_.prepared("select h.holetypeid from holetype h where h.code = ?")
                          .run({std::string(code)}, 1);
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front()[0].asText();
}

void JobRowWriter::insertHole(std::int64_t pieceKey, std::string_view holeTypeKey,
                              std::string_view position) {
    database_
        .prepared(
            "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
            "VALUES (?, ?, ?, 0, 0)")
        .execute({std::to_string(pieceKey), std::string(holeTypeKey), std::string(position)});
}

std::int64_t JobRowWriter::selectKey(std::string_view sql) {
    return database_.prepared(sql).run({}, 1).at(0).at(0).asInteger();
}

std::int64_t JobRowWriter::latestBarKey() {
    return selectKey("select gen_id(gen_optimized_id, 0) from rdb$database");
}

std::int64_t JobRowWriter::latestPieceKey() {
    return selectKey("select gen_id(gen_optdetail_id, 0) from rdb$database");
}

void JobRowWriter::commit() {
    database_.session_.commit();
    committed_ = true;
}

}  // namespace velkor
