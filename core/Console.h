#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "ConfirmedSend.h"
#include "ConsoleDatabase.h"
#include "DatabaseWatch.h"
#include "DispatchQueue.h"
#include "EventRecord.h"
#include "JobLoading.h"
#include "LineChoices.h"
#include "LineWatch.h"
#include "MachineParameters.h"
#include "ProductionCounter.h"
#include "ProfileMode.h"
#include "ReplyHandler.h"
#include "SettingsGate.h"
#include "StartUp.h"
#include "WorkRecord.h"

namespace velkor {

// How the console was started.
struct ConsoleOptions {
    // The job database to use instead of KV.GDB in the start-up directory, for example
    // "server:/srv/velkor/KV.GDB" for a Firebird server shared by several workstations.
    std::optional<std::string> databaseString = std::nullopt;
    // Makes the job database the console's statements run on; unset, the Firebird one.
    std::function<std::unique_ptr<ConsoleDatabase>()> database = {};
    // Makes the serial driver of the controller's line; unset, the system's driver.
    std::function<std::unique_ptr<SerialDriver>()> serialDriver = {};
    // Makes where the production record goes; unset, the job database's PRODUCTION table.
    std::function<std::unique_ptr<RecordBook>()> recordBook = {};
    // How long after a record that could not be written the next try comes.
    std::chrono::milliseconds recordRetry{5000};
    // The clock of the pauses in sequences, the probe's answers, the confirmed sends and
    // start-up's timer; unset, the system's.
    Clock* clock = nullptr;
    // How many of its newest lines the event log keeps (the journal keeps them all).
    std::size_t eventLogLimit = EventLog::kDefaultLimit;
};

// The running console: the one door both windows use. It owns the console's parts for the whole
// run (the machine variables, the event log, the job database, the controller's line and the
// replies on it, the production counter, the profile mode) and the sequences that use them
// (start-up, the line's watch, the dispatch queue, the job loads), and wires them together;
// windows show what it holds and call its operations. Texts are 8-bit Windows-1251.
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
    // The database client library's version, for the About box.
    static std::string databaseClientVersion();

    explicit Console(ConsoleOptions options = {}, QObject* parent = nullptr);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The clock the console's sequences and timers run on.
    Clock& clock() const { return clock_; }

    // The event log: where its lines are shown (every line also goes to the journal on disk),
    // what it holds and how many lines it keeps.
    void setLogView(EventLog::Observer view) { record_.setView(std::move(view)); }
    const EventLog& eventLog() const { return record_.log(); }
    // A message a box showed the operator: on record in the journal, with its time.
    void recordShownMessage(const std::string& message) { record_.recordShownMessage(message); }

    // Start-up (see StartUp): throws at the step that failed; the console goes on with whatever
    // was set so far.
    void startUp();
    // Start-up's last step: the controller counts from zero. A failure returns what the
    // operator is told.
    std::optional<std::string> clearControllerCount() { return startUp_.clearControllerCount(); }
    const QStringList& listedPorts() const { return startUp_.listedPorts(); }
    const StartUp& startUpState() const { return startUp_; }
    // True when another console holds the start-up directory: this one touched nothing there.
    bool heldByAnotherConsole() const { return startUp_.phase() == StartUp::Phase::HeldByAnother; }
    // A stop signal: start-up ends where it stands (the port probe included) and every running
    // sequence of confirmed sends ends; shutdown follows.
    void stop();
    bool stopping() const { return life_ == Life::Stopping; }
    // Asks the controller for its count, waits for it and saves the counter. Only the first
    // call does anything.
    void shutDown();

    // The job database: which one, and while it is awaited (not reached at start-up) what the
    // operator is told.
    const std::string& databaseString() const { return startUp_.databaseString(); }
    const std::optional<std::string>& databaseTrouble() const { return databaseWatch_.trouble(); }

    const ProductionCounter& productionCounter() const { return counter_; }
    const WorkRecord& workRecord() const { return records_; }
    // What the controller said last: the reply confirmed sends compare with, and the output
    // state its reports give.
    const std::string& lastReply() const { return replies_.lastReply(); }
    int outputState() const { return replies_.outputState(); }
    const MachineVariables& variables() const { return variables_; }

    // The position dispatches (see DispatchQueue): a scan, "Import size", and the operator's
    // edits of the position fields. The window shows each scan as `scanShown` tells.
    void scan(const std::string& scan) {
        databaseWatch_.require();
        dispatches_.scan(scan);
    }
    void sendPositions() {
        databaseWatch_.require();
        dispatches_.sendFields();
    }
    void editPositionField(int field, const std::string& text) {
        dispatches_.editField(field, text);
    }

    // What the console is busy with, for the window's status line: a confirmed send that is not
    // acknowledged (and that Esc ends it), scans that wait; empty when neither.
    const std::string& activity() const { return activity_; }
    void askForState();  // "Показать": the next state report is logged
    void askForStep();
    void askForCount();
    void clearLog() { record_.log().clear(); }
    // Toggles between white and laminated profiles; a click while a toggle runs starts nothing.
    void toggleLaminationMode();
    int laminationMode() const { return profileMode_.shown(); }
    void pushSettings();
    // Esc: ends the innermost sequence of confirmed sends that waits; false when none runs.
    bool endWaitingSequence() { return sender_.cancelInnermost(); }
    // The main window closes: no unacknowledged command may keep the program alive.
    void endAllSequences() { sender_.cancelAll(); }
    void sendHandleDelta(const std::string& text);
    void sendHandlePosition(const std::string& text);
    // Starts loading a job file beside the window; the window learns how far it is and how it
    // ended (loadChanged, loadEnded). One load at a time.
    void importJob(const std::string& path);
    const JobLoad* load() const { return loads_.current(); }
    void exportLog();
    // The settings gate (see SettingsGate): true for the password in `pwd`, compared exactly;
    // a wrong one shuts the gate for a while. Either goes in the settings history.
    bool tryPassword(const std::string& password);
    // The settings gate stays shut while the machine variables were not loaded (the window
    // would show zeros and a push would send them) and while a wrong password keeps it shut.
    // Throws what the operator is told.
    void checkSettingsMayOpen() const;

    // The settings window: applying a row's edit sends the value to the controller and keeps it
    // in VARIABLES, throwing at the step that failed (see applySetting()); "СОХРАНИТЬ" tells
    // the controller to keep its parameters. Every change to the machine's settings (these, the
    // push, the toggle, a job file loaded) goes in the settings history however it ends.
    void applySetting(const MachineParameter& parameter, std::string_view text);
    void saveControllerSettings();

    // The controller's line.
    std::string portName() const { return port_.Port(); }
    TLineStatus lineStatus() const { return lineWatch_.status(); }
    std::string lineStatusText() const { return lineWatch_.statusText(); }
    // Why a lost line's device does not open again, as the port last found it.
    std::string lineTrouble() const { return port_.ReconnectError(); }
    // The settings window was shown: the controller's port opens, unless it is waited for
    // (lost, or not there at start-up) and so opens by itself once it can.
    void openLineUnlessWaitedFor();
    // The service person's port tools: open or close, the setup dialog's choices, storing and
    // loading the line settings.
    void openOrCloseLine();
    LineChoices lineChoices() const;
    // A port chosen becomes the Port machine variable, so that the next start opens it too.
    void applyLineChoices(const LineChoices& choices);
    void loadPortSettings();
    void storePortSettings();

  signals:
    void startUpBegan();
    void activityChanged();
    void loadChanged();
    void loadEnded(const std::optional<std::string>& error);
    void counterChanged();
    void lineStatusChanged();
    void databaseStatusChanged();
    void laminationModeShown(int mode);
    void scanShown(const velkor::ShownScan& scan);
    // What the production record found about a scan: sent before, and its batch's progress.
    void pieceNoticed(const velkor::PieceNotice& notice);

  private:
    // The console's life: running, stopped by a signal (shutdown follows), shut down.
    enum class Life { Running, Stopping, ShutDown };

    bool closing() const { return life_ != Life::Running; }
    void showActivity();
    void delayedSettingsPush();
    void openWorkRecord();
    // Runs `act`, which fills in what it did and says how it ended (nothing: it did nothing);
    // the change goes in the history, also when `act` throws, with the error shown.
    void onRecord(SettingsChange change,
                  const std::function<std::optional<ChangeOutcome>(SettingsChange&)>& act);

    ConsoleOptions options_;
    Clock& clock_;
    Life life_ = Life::Running;
    MachineVariables variables_;
    EventRecord record_{options_.eventLogLimit};
    std::unique_ptr<ConsoleDatabase> database_;
    DatabaseWatch databaseWatch_;
    TComPort port_;                       // the line to the machine's controller
    ControllerLine line_{port_, clock_};  // every command goes out through it
    TComDataPacket packets_;  // cuts the controller's replies out of what the line brings
    ProductionCounter counter_{record_.log(), [this] { emit counterChanged(); }};
    StartUp startUp_;
    ReplyHandler replies_;
    ConfirmedSender sender_;
    ProfileMode profileMode_;
    LineWatch lineWatch_;
    WorkRecord records_;
    DispatchQueue dispatches_;
    JobLoading loads_{record_.log(),
                      [this](SettingsChange change) { records_.note(std::move(change)); }};
    SettingsGate gate_{clock_};
    std::optional<ConfirmedSender::Waiting> unconfirmed_;
    std::string activity_;
    // Created stopped, and nothing here starts it: a tick would push the settings once, half a
    // second later. The settings push runs from start-up's timer and from "Иморт настроек".
    std::unique_ptr<Clock::Timer> timer3_;
};

}  // namespace velkor
