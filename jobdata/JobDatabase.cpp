#include "JobDatabase.h"

#include <stdexcept>

#include "Schema.h"
#include "SqlScript.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

// What was prepared or learnt on a connection goes with it.
void JobDatabase::abandonConnection() {
    prepared_.clear();
    keyColumns_.clear();
    tablesSeen_.clear();
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
        try {
            session_.attach(databaseString_);
        } catch (const VelkorError& error) {
            throw VelkorError(cp1251("Нет связи с базой данных ") + utf8ToCp1251(databaseString_) +
                              ": " + error.what());
        }
    }
    try {
        return action();
    } catch (const DatabaseNotAnswering& error) {
        // A server that does not answer would not answer a new connection either.
        abandonConnection();
        throw lostConnection(error);
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

FoundPiece JobDatabase::readPiece(std::string_view barcode) {
    FoundPiece piece;
    // The newest piece is found by the barcode's index, both times, and its holes then by
    // theirs: the engine is given no way to drive the join from PERFORATION (in a database
    // whose index statistics date from when its tables were empty it would read every hole of
    // every job). A piece without holes gives one row that counts none.
    const std::string number(barcode);
    for (const auto& row :
         read("select o.optdetailid, p.posx, count(p.perforationid) from optdetail o "
              "left join PERFORATION p on p.optdetailid = o.optdetailid "
              "where o.optdetailid_in = ? and o.optdetailid = "
              "(select max(n.optdetailid) from optdetail n where n.optdetailid_in = ?) "
              "group by 1, 2 order by 2",
              {number, number})) {
        piece.id = row[0].asInteger();
        if (row[2].asInteger() > 0) {
            // A hole without a position (NULL) is no position: nothing to send for it.
            piece.positions.push_back(row[1].isNull() ? std::nullopt
                                                      : std::optional(row[1].asReal()));
        }
    }
    return piece;
}

// The value stored before is read in the update's own transaction, so that what it returns is
// what this update replaced, also when another workstation changed it since start-up.
std::optional<std::string> JobDatabase::updateVariable(std::string_view upperKey,
                                                       std::string_view value) {
    return retried([&] {
        startWriteTransaction();
        const std::vector<Row> before =
            prepared("select first 1 s.VAR_STR from VARIABLES s where upper(s.KODS) = ?")
                .run({std::string(upperKey)}, 1);
        prepared("update VARIABLES s set s.VAR_STR = ? where upper(s.KODS) = ?")
            .execute({std::string(value), std::string(upperKey)});
        session_.commit();
        return before.empty() ? std::nullopt : std::optional(before[0][0].asText());
    });
}

namespace {

// An object the schema script makes, how the engine's catalogue knows it, and the table it
// belongs to: a table, its indexes and triggers, and its exceptions (named after it).
struct SchemaObject {
    const char* catalogue;  // "rdb$relations rdb$relation_name", ...
    std::string name;
    std::string table;
};

std::optional<SchemaObject> schemaObjectOf(const std::string& statement) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (words.size() < 5 && at < statement.size()) {
        const std::size_t end = statement.find_first_of(" \t\r\n(", at);
        words.push_back(statement.substr(at, end - at));
        at = end == std::string::npos ? end : statement.find_first_not_of(" \t\r\n(", end);
    }
    if (words.size() < 3 || words[0] != "CREATE") {
        return std::nullopt;
    }
    const std::string& kind = words[1];
    const std::string& name = words[2];
    if (kind == "TABLE") {
        return SchemaObject{"rdb$relations where rdb$relation_name", name, name};
    }
    if (kind == "INDEX" && words.size() == 5 && words[3] == "ON") {
        return SchemaObject{"rdb$indices where rdb$index_name", name, words[4]};
    }
    if (kind == "TRIGGER" && words.size() == 5 && words[3] == "FOR") {
        return SchemaObject{"rdb$triggers where rdb$trigger_name", name, words[4]};
    }
    if (kind == "EXCEPTION" && name.find('_') != std::string::npos) {
        return SchemaObject{"rdb$exceptions where rdb$exception_name", name,
                            name.substr(0, name.find('_'))};
    }
    return std::nullopt;
}

}  // namespace

// The table with its indexes, triggers and exceptions as the schema script defines them; what
// is missing is made, each in a transaction of its own, so that a table made by a run that
// ended before its indexes gets them the next time. Two workstations that make one at the same
// moment: the second finds it.
void JobDatabase::ensureTable(std::string_view table) {
    if (tablesSeen_.contains(table)) {
        return;
    }
    for (const std::string& statement : splitSqlScript(jobDatabaseSchema())) {
        const std::optional<SchemaObject> object = schemaObjectOf(statement);
        if (!object || object->table != table) {
            continue;
        }
        const auto found = [&] {
            return read(std::string("select count(*) from ") + object->catalogue + " = ?",
                        {object->name})[0][0]
                       .asInteger() > 0;
        };
        if (found()) {
            continue;
        }
        try {
            beginWriting();
            guarded([&] {
                session_.execute(statement);
                session_.commit();
            });
        } catch (const VelkorError&) {
            if (session_.inTransaction()) {
                session_.rollback();
            }
            if (!found()) {
                throw;
            }
        }
    }
    tablesSeen_.emplace(table);
}

std::vector<Row> JobDatabase::selectOnce(std::string_view sql,
                                         const std::vector<Parameter>& parameters,
                                         std::size_t maxRows) {
    return guarded([&] { return prepared(sql).run(parameters, maxRows); });
}

std::optional<Row> JobDatabase::executeOnce(std::string_view sql,
                                            const std::vector<Parameter>& parameters) {
    return guarded([&] { return prepared(sql).execute(parameters); });
}

void JobDatabase::commitWriting() {
    guarded([&] { session_.commit(); });
}

void JobDatabase::rollBackWriting() {
    session_.rollback();
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
        const std::string column = doubleQuoted(columns[0][0].asText());
        key.returned = column;
        key.latest = "select max(" + column + ") from " + names.table;
    } else {
        key.returned = std::string("gen_id(") + names.generator + ", 0)";
        key.latest = "select " + key.returned + " from rdb$database";
    }
    return keyColumns_.emplace(table, std::move(key)).first->second;
}

}  // namespace velkor
