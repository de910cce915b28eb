#pragma once

#include <string_view>

namespace velkor {

// The isql script (jobdata/schema/kv.sql) that defines a fresh job database.
std::string_view jobDatabaseSchema();

}  // namespace velkor
