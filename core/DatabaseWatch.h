#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Clock.h"
#include "ConsoleDatabase.h"
#include "EventLog.h"
#include "MachineVariables.h"

namespace velkor {

// The console's hold on its job database at start-up: connect, read the machine variables.
// A database that cannot be reached then (a server that boots after the workstations, a share
// not mounted yet) does not end start-up: the console tries again every few seconds, as it
// opens a lost line again, and takes the variables up once the database answers. Meanwhile
// whatever needs the database or the machine variables (a scan, a setting, the push) is refused
// with one message that names the database.
//
// An attempt runs on the user-interface thread (the database is the console's one connection);
// a server that refuses answers at once, but one whose machine does not answer at all holds the
// window until the connection's limit. After such an attempt the next waits six times as long,
// so that the window is held for a moment now and then, not half of the time.
class DatabaseWatch {
  public:
    static constexpr std::chrono::seconds kRetryEvery{5};
    static constexpr int kTicksAfterASlowAttempt = 6;

    // `changed` is told whenever awaited() or the reason changes; `takenUp` once the variables
    // are in after having been awaited.
    DatabaseWatch(ConsoleDatabase& database, MachineVariables& variables, EventLog& log,
                  Clock& clock, std::function<void()> changed, std::function<void()> takenUp);

    // Connects to `databaseString` and loads the machine variables. A database that cannot be
    // reached returns false and is waited for; variables that cannot be taken throw.
    bool connect(const std::string& databaseString);

    bool awaited() const { return trouble_.has_value(); }
    // What the operator is told while the database is awaited: the database and why.
    const std::optional<std::string>& trouble() const { return trouble_; }
    // Throws the trouble while the database is awaited.
    void require() const;

  private:
    // One more try; the variables are loaded when it gets through.
    void attempt();
    bool reached(const std::string& databaseString);

    ConsoleDatabase& database_;
    MachineVariables& variables_;
    EventLog& log_;
    std::function<void()> changed_;
    std::function<void()> takenUp_;
    std::string databaseString_;
    std::optional<std::string> trouble_;
    Clock& clock_;
    std::unique_ptr<Clock::Timer> retry_;
    int ticksToWait_ = 0;
};

}  // namespace velkor
