#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Clock.h"
#include "ComDataPacket.h"
#include "ControllerLine.h"
#include "DatabaseWatch.h"
#include "EventRecord.h"
#include "IniFile.h"
#include "MachineVariables.h"
#include "ProbeReports.h"
#include "ProductionCounter.h"
#include "RunMarker.h"

namespace velkor {

// The console's start-up directory: the process's current directory, taken once at the
// beginning of start-up. The job database, Morvel.INI, the journal and the log folder are in it.
struct StartupDirectory {
    std::string path;

    std::string file(std::string_view name) const { return path + "/" + std::string(name); }
    IniFile iniFile() const { return IniFile(file("Morvel.INI")); }
};

// Start-up, step by step: claim the start-up directory, connect the job database and load the
// machine variables, ask every serial port of the system for its state (the probe), open the
// controller's port, read the saved counter; the window then has the controller count from zero
// (CLR_CNT). The first step that fails throws and ends it; the console goes on with whatever was
// set so far. A controller's port that cannot be opened does not end it: the counter is still
// read, the port opens by itself once it can and CLR_CNT follows then.
//
// A state report of the controller's during the probe arms one settings push, which the first
// tick of start-up's timer (Timer1, a second after the console was made) starts on the
// controller's line, with the window up.
class StartUp {
  public:
    enum class Phase {
        NotBegun,
        HeldByAnother,     // another console holds the directory: this one touched nothing there
        Probing,           // the directory is claimed, the variables loaded, the ports asked
        PortChosen,        // the controller's port is set, open or waited for
        AwaitingDatabase,  // start-up got through without the database or a port it knows
        AwaitingPort,      // start-up got through, its CLR_CNT waits for the port to open
        Finished,          // start-up got through and its CLR_CNT went out (or failed, and said so)
        EndedByStop,       // a stop signal ended the probe
    };

    // What start-up brings up. `databaseString` names a database instead of KV.GDB in the
    // directory; `began` is told once the directory is claimed; `pushSettings` runs the push.
    struct Parts {
        EventRecord& record;
        DatabaseWatch& database;
        MachineVariables& variables;
        ControllerLine& line;
        TComDataPacket& packets;
        ProductionCounter& counter;
        Clock& clock;
    };
    StartUp(Parts parts, std::optional<std::string> databaseString, std::function<bool()> closing,
            std::function<void()> began, std::function<void()> pushSettings);
    StartUp(const StartUp&) = delete;
    StartUp& operator=(const StartUp&) = delete;

    // Runs start-up up to, not including, CLR_CNT. Throws at the step that failed; when another
    // console holds the directory, throws before anything is touched.
    void run();
    // The last step of a start-up that got through: the controller starts counting again from
    // zero, the console adds its counter base. A failure returns what the operator is told.
    std::optional<std::string> clearControllerCount();
    // The controller's line opened (after having been waited for).
    void lineOpened();
    // The database, awaited since start-up, answered and the machine variables are in: the
    // controller's port opens now if start-up did not know it or knew another.
    void databaseTakenUp();
    // A state report came in at `now`: on the controller's line it arms the push; true when it
    // answers the probe with the count from before this run, which the total leaves out.
    bool stateReportSeen(Clock::TimePoint now);
    // A clean end: the start-up directory is free again.
    void releaseClaim();

    Phase phase() const { return phase_; }
    ProbeReports::AutoPush autoPush() const { return reports_.autoPush(); }
    bool timerRunning() const { return timer1_->active(); }
    const StartupDirectory& directory() const { return directory_; }
    const std::string& databaseString() const { return databaseString_; }
    // The serial ports of the system that the probe asked, in the order asked.
    const QStringList& listedPorts() const { return listedPorts_; }

  private:
    // What claiming the directory found: when an earlier run that never ended cleanly began,
    // or why the marker could not be made.
    struct Claim {
        std::optional<std::string> uncleanEarlierRun;
        std::string markerTrouble;
    };
    Claim claimDirectory();
    void noteAnUncleanEnd(const Claim& claim);
    void takeDatabase();
    void probePorts();
    std::optional<std::string> openControllersPort();
    void timer1Tick();
    // The controller's port as the last start-up that reached the database found it, so that
    // the line opens also while the database is awaited.
    std::optional<std::string> rememberedPort() const;
    void rememberPort(const std::string& port) const;

    Parts parts_;
    std::optional<std::string> givenDatabase_;
    std::function<bool()> closing_;
    std::function<void()> began_;
    std::function<void()> pushSettings_;
    Phase phase_ = Phase::NotBegun;
    StartupDirectory directory_;
    std::string databaseString_;
    std::optional<RunMarker> runMarker_;
    bool databaseTaken_ = false;
    QStringList listedPorts_;
    ProbeReports reports_;
    std::unique_ptr<Clock::Timer> timer1_;
    QObject queuedCalls_;  // what runs once the current event is handled goes with start-up
};

}  // namespace velkor
