#pragma once

#include <QObject>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "ConfirmedSend.h"
#include "ConsoleState.h"
#include "EventLog.h"
#include "JobDatabase.h"
#include "JobLoad.h"
#include "Journal.h"
#include "MachineParameters.h"
#include "ProductionCounter.h"
#include "ProfileMode.h"
#include "ReplyHandler.h"
#include "RunMarker.h"

class QTimer;

namespace velkor {

// How the console was started.
struct ConsoleOptions {
    // The job database to use instead of KV.GDB in the start-up directory, for example
    // "server:/srv/velkor/KV.GDB" for a Firebird server shared by several workstations.
    std::optional<std::string> databaseString = std::nullopt;
    // Makes the serial driver of the controller's line; unset, the system's driver. Tests give
    // a recording driver here where no real line is the point.
    std::function<std::unique_ptr<SerialDriver>()> serialDriver = {};
    // The clock of the pauses in sequences, the probe's answers and the confirmed sends;
    // unset, the system's. Tests turn one of their own.
    Clock* clock = nullptr;
};

// The running console: its state, the job database, the controller's line and the replies on
// it, the production counter and the profile mode. It runs start-up and shutdown and every
// command of the operator and the service person; windows show what it holds and call it.
// Texts are 8-bit Windows-1251.
class Console : public QObject {
    Q_OBJECT

  public:
    // The process around its console: before the console is made (the database engine's lock
    // folder, before any connection) and after it has gone (the engine's threads at rest).
    static void prepareProcess();
    static void endProcess();
    // Makes `folder` the start-up directory; throws, telling how a workspace is made, when
    // there is none (the menu entry on a workstation where nobody has made one yet).
    static void enterWorkspace(const std::string& folder);

    explicit Console(ConsoleOptions options, QObject* parent = nullptr);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    ConsoleState& state() { return state_; }
    JobDatabase& database() { return database_; }
    TCustomComPort& port() { return port_; }
    ConfirmedSender& confirmedSender() { return confirmedSender_; }

    // Where the event log's lines are shown; every line also goes to the journal on disk.
    void setLogView(EventLog::Observer view);
    // A message a box showed the operator: on record in the journal, with its time.
    void recordShownMessage(const std::string& message);

    // Start-up, step by step: the first step that fails throws and ends it, and the console
    // goes on with whatever was set so far. The first step claims the start-up directory: when
    // another console holds it, start-up throws before anything is touched, and this console
    // is to end (heldByAnotherConsole()). A controller's port that cannot be opened does not end
    // it: the counter is still read, the port opens by itself once it can (start-up's CLR_CNT
    // follows then), and start-up throws what the operator is told of the port last.
    void startUp();
    // The last step of a start-up that got through: the controller starts counting again from
    // zero, the console adds its counter base. A failure returns what the operator is told.
    std::optional<std::string> clearControllerCount();
    // The serial ports of the system that start-up asked, in the order asked.
    const QStringList& listedPorts() const { return listedPorts_; }
    // A stop signal: start-up ends where it stands (the port probe included) and every running
    // sequence of confirmed sends ends; shutdown follows.
    void stop();
    bool stopping() const { return stopping_; }
    // True when another console holds the start-up directory: this one touched nothing there.
    bool heldByAnotherConsole() const { return heldByAnotherConsole_; }
    // Asks the controller for its count, waits for it and saves the counter. Only the first
    // call does anything.
    void shutDown();

    const ProductionCounter& productionCounter() const { return counter_; }
    // The line's state as the console last took note of it.
    TLineStatus lineStatus() const { return lineStatus_; }

    // What a window shows of the scans and where the positions are kept: a scan's turn has
    // come (show it, empty the fields), the piece's positions were found (fill the fields),
    // the text of a field when a dispatch reads it.
    struct ScanView {
        std::function<void(const std::string& scan)> taken;
        std::function<void(const std::string& scan,
                           const std::vector<std::optional<double>>& positions)>
            found;
        std::function<std::string(int field)> fieldText;
    };
    void setScanView(ScanView view) { scanView_ = std::move(view); }

    // Dispatches run one at a time, in the order they were asked for: a scan, or "Import
    // size", that comes while one runs (inside its pauses) waits until the running one has
    // sent its last position, so that every piece's positions go out whole. A dispatch that
    // fails drops those still waiting, and the event log says how many.
    // A scan: looked up in its turn, its positions shown and sent.
    void scan(const std::string& scan);
    // "Import size": what the fields hold when its turn comes.
    void sendPositions();
    std::size_t waitingDispatches() const { return waitingDispatches_.size(); }

    // What the console is busy with, for the window's status line: scans that wait, a
    // confirmed send that is not acknowledged (and that Esc ends it); empty when neither.
    const std::string& activity() const { return activity_; }
    void askForState();  // "Показать": the next state report is logged
    void askForStep();
    void askForCount();
    void clearLog();
    // Toggles between white and laminated profiles; a click while a toggle runs starts nothing.
    void toggleLaminationMode();
    void pushSettings();
    void sendHandleDelta(const std::string& text);
    void sendHandlePosition(const std::string& text);
    // Starts loading a job file beside the window; the window learns how far it is and how
    // it ended (loadChanged, loadEnded). One load at a time.
    void importJob(const std::string& path);
    // The load under way, or null.
    const JobLoad* load() const { return load_.get(); }
    void exportLog();
    bool passwordMatches(const std::string& password) const;
    // The settings gate stays shut while the machine variables were not loaded: the window
    // would show zeros and a push would send them. Throws what the operator is told.
    void checkSettingsMayOpen() const;

    // The settings window. Its parameters show the machine variables; applying a row's edit
    // sends the value to the controller and keeps it in VARIABLES, and throws at the step that
    // failed (see applySetting()); "СОХРАНИТЬ" tells the controller to keep its parameters.
    const MachineVariables& variables() const { return state_.variables; }
    void applySetting(const MachineParameter& parameter, std::string_view text);
    void saveControllerSettings();
    // The settings window was shown: the controller's port opens, unless it is waited for
    // (lost, or not there at start-up) and so opens by itself once it can.
    void openLineUnlessWaitedFor();
    std::string portName() const { return port_.Port(); }
    // The line's state as the windows show it: "открыт", "закрыт" or, while the device is
    // waited for, "связь потеряна, переподключение" (8-bit).
    std::string lineStatusText() const;
    // Why a lost line's device does not open again, as the port last found it.
    std::string lineTrouble() const { return port_.ReconnectError(); }

    // The service person's port tools.
    void openOrCloseLine();
    void loadPortSettings();
    void storePortSettings();

  signals:
    void startUpBegan();
    void activityChanged();
    void loadChanged();
    // A load ended: with what the operator is to be told when it failed.
    void loadEnded(const std::optional<std::string>& error);
    void counterChanged();
    void lineStatusChanged();
    void laminationModeShown(int mode);

  private:
    void journalLine(const std::string& line);
    void claimStartupDirectory();
    void noteAnUncleanEnd(const std::string& databaseString);
    void probePorts();
    std::optional<std::string> openControllersPort();
    void takeNoteOfLineStatus();
    void startUpTick();
    void delayedSettingsPush();
    void requestDispatch(std::optional<std::string> scan);
    void runDispatch(const std::optional<std::string>& scan);
    void showActivity();
    void loadFinished();

    ConsoleOptions options_;
    Clock& clock_;
    ConsoleState state_;
    TLineStatus lineStatus_ = TLineStatus::Closed;
    ProductionCounter counter_{state_.eventLog, [this] { emit counterChanged(); }};
    ReplyHandler replyHandler_{state_, counter_, clock_};
    EventLog::Observer logView_;
    std::optional<Journal> journal_;  // the event log on disk, from start-up on
    bool writingJournalNotice_ = false;
    QStringList listedPorts_;
    bool shutDown_ = false;
    bool stopping_ = false;
    int lineStatusListener_ = 0;
    // The claim on the start-up directory, and what its marker said of an earlier run.
    std::optional<RunMarker> runMarker_;
    std::optional<std::string> uncleanEarlierRun_;
    std::string runMarkerTrouble_;
    bool heldByAnotherConsole_ = false;
    bool controllersPortChosen_ = false;  // start-up has set the port to the Port variable
    bool clearCountWhenOpen_ = false;     // start-up's CLR_CNT waits for the port to open
    bool awaitingFirstOpen_ = false;      // the port has not opened yet since start-up
    ScanView scanView_;
    std::deque<std::optional<std::string>> waitingDispatches_;  // a scan, or "Import size"
    bool dispatching_ = false;
    std::optional<ConfirmedSender::Waiting> unconfirmed_;
    std::string activity_;
    std::string databaseString_;  // as start-up connected
    std::unique_ptr<JobLoad> load_;

    JobDatabase database_;    // the connection, with its one transaction and query
    TComPort port_;           // the line to the machine's controller
    TComDataPacket packets_;  // cuts the controller's replies out of what the line brings
    ConfirmedSender confirmedSender_{port_, state_, clock_};
    ProfileMode profileMode_{confirmedSender_, state_,
                             [this](int mode) { emit laminationModeShown(mode); }};
    // From start-up to its first tick on the controller's line: a state report of the
    // controller's during the port probe starts the settings push there.
    QTimer* Timer1 = nullptr;
    // Disabled, and nothing here enables it: a tick would push the settings once, half a
    // second later. The settings push runs from Timer1's tick and from "Иморт настроек".
    QTimer* Timer3 = nullptr;
};

}  // namespace velkor
