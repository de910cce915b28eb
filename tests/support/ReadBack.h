#pragma once

#include <string>
#include <vector>

#include "FirebirdSession.h"

namespace velkor::test {

// Reads what the console's statements left behind, through a connection of its own.
inline std::vector<Row> readBack(const std::string& database, const std::string& sql) {
    FirebirdSession session;
    session.attach(database);
    session.startTransaction();
    auto rows = session.query(sql);
    session.rollback();
    return rows;
}

}  // namespace velkor::test
