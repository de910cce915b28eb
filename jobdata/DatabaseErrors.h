#pragma once

#include "VelkorError.h"

namespace velkor {

// A failure that says the connection itself is gone: the server stopped, or the network
// between the workstation and the server failed.
class DatabaseConnectionLost : public VelkorError {
  public:
    using VelkorError::VelkorError;
};

// A call that got no answer within its time limit: the connection was cut.
class DatabaseNotAnswering : public DatabaseConnectionLost {
  public:
    using DatabaseConnectionLost::DatabaseConnectionLost;
};

// A row refused because its key is there already: another connection stored the same key
// first (two workstations loading the same file at once).
class DuplicateKey : public VelkorError {
  public:
    using VelkorError::VelkorError;
};

}  // namespace velkor
