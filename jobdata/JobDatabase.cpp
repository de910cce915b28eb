#include "JobDatabase.h"

#include "VelkorError.h"

namespace velkor {

void JobDatabase::connect(std::string databaseString) {
    preparedReads_.clear();
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
    auto prepared = preparedReads_.find(sql);
    if (prepared == preparedReads_.end()) {
        prepared = preparedReads_.emplace(std::string(sql), session_.prepare(sql)).first;
    }
    return prepared->second.run(parameters, maxRows);
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

void JobDatabase::insertBatch(std::string_view name) {
    write("INSERT INTO GRORDERS (NAME, DATECREATED) VALUES (?, current_timestamp)",
          {std::string(name)});
}

void JobDatabase::insertBatchBar() {
    write(
        "INSERT INTO OPTIMIZED (GRORDERSID, QTY, GOODSID, LONGPROF, OSTAT, COLORIN, COLORUOT) "
        "VALUES (gen_id(gen_grorders_id, 0), 1, "
        "(select g.goodsid from GOODS g where g.kod = 'VIRT'), 0000, 0, 1, 1)",
        {});
}

void JobDatabase::insertPiece(const PieceRow& piece) {
    write(
        "INSERT INTO OPTDETAIL (OPTIMIZEDID, ITEMLONG, UG1, UG2, NUM, TELEGANO, cell, "
        "OPTDETAILID_IN, rcomment) VALUES (gen_id(gen_optimized_id, 0), ?, ?, ?, ?, ?, ?, ?, ?)",
        {piece.length, piece.firstAngle, piece.secondAngle, piece.number, piece.trolley, piece.cell,
         piece.barcode, piece.comment});
}

std::optional<std::string> JobDatabase::findHoleType(std::string_view code) {
    const auto rows =
        read("select h.holetypeid from holetype h where h.code = ?", {std::string(code)}, 1);
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front()[0].asText();
}

void JobDatabase::insertHole(std::string_view holeTypeKey, std::string_view position) {
    write(
        "INSERT INTO PERFORATION (OPTDETAILID, HOLETYPEID, POSX, SHIFTX, SIDE) "
        "VALUES (gen_id(gen_optdetail_id, 0), ?, ?, 0, 0)",
        {std::string(holeTypeKey), std::string(position)});
}

}  // namespace velkor
