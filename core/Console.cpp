#include "Console.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "ApplySetting.h"
#include "ControllerLine.h"
#include "ControllerProtocol.h"
#include "FirebirdSession.h"
#include "JobDatabase.h"
#include "Logging.h"
#include "SettingsPush.h"
#include "Text.h"

namespace velkor {
namespace {

// The port settings the workstation keeps beside the console (in its registry on Windows).
constexpr const char* kPortSettingsLocation = "HKEY_LOCAL_MACHINE\\Software\\Tavor";

std::unique_ptr<ConsoleDatabase> makeDatabase(const ConsoleOptions& options) {
    return options.database ? options.database()
                            : std::make_unique<JobDatabase>(JobDatabase::kConsoleAnswerLimit);
}

ChangeOutcome outcomeOf(SequenceEnd end) {
    switch (end) {
        case SequenceEnd::Completed:
            return ChangeOutcome::Done;
        case SequenceEnd::EndedByOperator:
            return ChangeOutcome::Ended;
        case SequenceEnd::EndedByClosing:
            break;
    }
    return ChangeOutcome::Closed;
}

// A value written to VARIABLES: stored, or, where VARIABLES has no row for it, kept in memory
// only (as it always has been), and the history says so.
ChangeOutcome storedOutcome(SettingsChange& change) {
    if (change.before) {
        return ChangeOutcome::Stored;
    }
    change.message =
        cp1251("В VARIABLES нет строки ") + change.subject + cp1251(": значение не сохранено");
    return ChangeOutcome::Unstored;
}

SettingsChange changeOf(ChangeKind kind) {
    SettingsChange change;
    change.kind = kind;
    return change;
}

}  // namespace

void Console::prepareProcess() {
    prepareFirebirdEnvironment();
}

void Console::endProcess() {
    shutDownFirebirdEngine();
}

std::string Console::databaseClientVersion() {
    return firebirdClientVersion();
}

// The command stands on a line of its own, so that the box never breaks it where the technician
// is to type it.
void Console::enterWorkspace(const std::string& folder) {
    if (::chdir(folder.c_str()) != 0) {
        const int reason = errno;
        const std::string why = reason == ENOENT    ? cp1251("её нет")
                                : reason == EACCES  ? cp1251("нет доступа")
                                : reason == ENOTDIR ? cp1251("это не папка")
                                                    : std::string(std::strerror(reason));
        const std::string shown = utf8ToCp1251(folder);
        throw VelkorError(cp1251("Нет рабочей папки консоли ") + shown + " (" + why +
                          cp1251("). Сервисный инженер создаёт её командой\n\n"
                                 "velkor-makedb --workspace ") +
                          shown);
    }
}

Console::Console(ConsoleOptions options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : systemClock()),
      database_(makeDatabase(options_)),
      databaseWatch_(
          *database_, variables_, record_.log(), clock_, [this] { emit databaseStatusChanged(); },
          [this] { startUp_.databaseTakenUp(); }),
      port_(options_.serialDriver ? options_.serialDriver() : createSystemSerialDriver(), clock_),
      startUp_(
          {record_, databaseWatch_, variables_, line_, packets_, counter_, clock_},
          options_.databaseString, [this] { return closing(); }, [this] { emit startUpBegan(); },
          [this] { pushSettings(); }),
      replies_(record_.log(), counter_, clock_,
               [this](Clock::TimePoint at) { return startUp_.stateReportSeen(at); }),
      sender_(line_, replies_, record_.log(), clock_),
      profileMode_(sender_, variables_, record_.log(),
                   [this](int mode) { emit laminationModeShown(mode); }),
      lineWatch_(
          port_, packets_, record_.log(), [this] { startUp_.lineOpened(); },
          [this] { emit lineStatusChanged(); }),
      records_({record_.log(), options_.recordBook ? options_.recordBook : makeFirebirdRecordBook,
                [this] { return profileMode_.shown(); }, [this] { return counter_.known(); },
                options_.recordRetry}),
      dispatches_(
          {*database_, variables_, line_, clock_, record_.log(), records_},
          [this] { return closing(); }, [this](const ShownScan& shown) { emit scanShown(shown); },
          [this] { showActivity(); }),
      timer3_(clock_.timer("Timer3", std::chrono::milliseconds(3000),
                           [this] { delayedSettingsPush(); })) {
    configureControllerLine(port_);
    // Replies come framed as "<" text ">".
    packets_.Framer().SetStartString("<");
    packets_.Framer().SetStopString(">");
    packets_.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
        replies_.handle(packet);
    };
    packets_.SetComPort(&port_);
    sender_.setWaitingObserver([this](std::optional<ConfirmedSender::Waiting> waiting) {
        unconfirmed_ = std::move(waiting);
        showActivity();
    });
    connect(&records_, &WorkRecord::noticed, this, &Console::pieceNoticed);
    connect(&loads_, &JobLoading::changed, this, &Console::loadChanged);
    connect(&loads_, &JobLoading::ended, this, &Console::loadEnded);
}

Console::~Console() = default;

void Console::startUp() {
    try {
        startUp_.run();
    } catch (...) {
        openWorkRecord();
        throw;
    }
    openWorkRecord();
}

// Once start-up holds the directory: the records are kept in it.
void Console::openWorkRecord() {
    if (!startUp_.databaseString().empty() && !heldByAnotherConsole()) {
        records_.open(startUp_.directory().path, startUp_.databaseString());
    }
}

void Console::stop() {
    if (life_ == Life::Running) {
        life_ = Life::Stopping;
    }
    sender_.cancelAll();
}

void Console::delayedSettingsPush() {
    clock_.pause(500);
    timer3_->stop();
    pushSettings();
    timer3_->stop();
}

void Console::showActivity() {
    std::string text;
    if (unconfirmed_) {
        text = cp1251("Контроллер не подтверждает ") + unconfirmed_->command +
               cp1251(": отправлено раз: ") + std::to_string(unconfirmed_->sent) +
               cp1251(". Esc прерывает");
    }
    if (const std::size_t waiting = dispatches_.waiting(); waiting > 0) {
        text += (text.empty() ? "" : "; ") + cp1251("ждут отправки: ") + std::to_string(waiting);
    }
    if (text != activity_) {
        activity_ = std::move(text);
        emit activityChanged();
    }
}

void Console::askForState() {
    line_.send("GET_ALL");
    replies_.showNextStateReport();
}

void Console::askForStep() {
    line_.send("GET_STEP");
    clock_.pause(150);
}

void Console::askForCount() {
    line_.send("GET_CNT");
    clock_.pause(150);
}

void Console::onRecord(SettingsChange change,
                       const std::function<std::optional<ChangeOutcome>(SettingsChange&)>& act) {
    std::optional<ChangeOutcome> outcome;
    try {
        outcome = act(change);
    } catch (const std::exception& error) {
        // A setting is refused when nothing reached the controller, and not stored when it did.
        change.outcome = change.kind != ChangeKind::Setting ? ChangeOutcome::Failed
                         : change.sent.empty()              ? ChangeOutcome::Refused
                                                            : ChangeOutcome::Unstored;
        change.message = error.what();
        records_.note(std::move(change));
        throw;
    }
    if (outcome) {
        change.outcome = *outcome;
        records_.note(std::move(change));
    }
}

void Console::pushSettings() {
    timer3_->stop();
    databaseWatch_.require();
    onRecord(changeOf(ChangeKind::Push), [this](SettingsChange& change) {
        return outcomeOf(runSettingsPush(sender_, variables_, record_.log(), change.sent));
    });
}

void Console::toggleLaminationMode() {
    databaseWatch_.require();
    SettingsChange change = changeOf(ChangeKind::Mode);
    change.before = std::to_string(profileMode_.shown());
    onRecord(std::move(change), [this](SettingsChange& toggle) -> std::optional<ChangeOutcome> {
        const std::optional<SequenceEnd> end = profileMode_.toggle(toggle.sent);
        toggle.after = std::to_string(profileMode_.shown());
        return end ? std::optional(outcomeOf(*end)) : std::nullopt;
    });
}

// The handle delta goes to the controller and into the INI file.
void Console::sendHandleDelta(const std::string& text) {
    databaseWatch_.require();
    const std::string value = trimmed(text);
    line_.send(command("R_DELTA", impulseTextOf(value, variables_.Qty_Imp_mm)));
    startUp_.directory().iniFile().write("Main", "R_DELTA", value);
}

void Console::sendHandlePosition(const std::string& text) {
    databaseWatch_.require();
    line_.send(command("R_POS", impulseTextOf(trimmed(text), variables_.Qty_Imp_mm)));
}

void Console::importJob(const std::string& path) {
    loads_.start(startUp_.databaseString(), path, variables_);
}

void Console::exportLog() {
    exportEventLog(record_.log().lines(), startUp_.directory().path, localNow());
}

bool Console::tryPassword(const std::string& password) {
    if (gate_.tryPassword(password, variables_.pwd)) {
        records_.note(changeOf(ChangeKind::Opened));
        return true;
    }
    SettingsChange refused = changeOf(ChangeKind::Password);
    refused.outcome = ChangeOutcome::Refused;
    refused.message = cp1251("Неверный пароль окна настроек, подряд раз: ") +
                      std::to_string(gate_.failuresInARow());
    record_.log().append(refused.message);
    records_.note(std::move(refused));
    return false;
}

void Console::checkSettingsMayOpen() const {
    databaseWatch_.require();
    if (!variables_.loaded) {
        throw VelkorError(
            cp1251("Машинные переменные не загружены из базы (см. ошибку при "
                   "запуске): окно настроек не открывается"));
    }
    gate_.requireOpenForTrying();
}

void Console::applySetting(const MachineParameter& parameter, std::string_view text) {
    databaseWatch_.require();
    onRecord(changeOf(ChangeKind::Setting), [&](SettingsChange& change) {
        velkor::applySetting(parameter, text, variables_, line_, *database_, change);
        return storedOutcome(change);
    });
}

void Console::saveControllerSettings() {
    onRecord(changeOf(ChangeKind::SaveFlash), [this](SettingsChange& change) {
        velkor::saveControllerSettings(line_);
        change.sent = {"SaveFlash"};
        return ChangeOutcome::Sent;
    });
}

void Console::openLineUnlessWaitedFor() {
    if (port_.LineStatus() != TLineStatus::Lost) {
        port_.OpenPort();
    }
}

// A port that is waited for (lost, or not there at start-up) counts as open here: the button
// stops the waiting.
void Console::openOrCloseLine() {
    port_.LineStatus() == TLineStatus::Closed ? port_.OpenPort() : port_.ClosePort();
}

LineChoices Console::lineChoices() const {
    return lineChoicesOf(port_);
}

// A port chosen here is the controller's port from now on, also after a restart: it becomes
// the Port machine variable, and the change goes in the history.
void Console::applyLineChoices(const LineChoices& choices) {
    const std::string before = port_.Port();
    velkor::applyLineChoices(port_, choices);
    if (choices.port == before) {
        return;
    }
    databaseWatch_.require();
    onRecord(changeOf(ChangeKind::Setting), [&](SettingsChange& change) {
        change.subject = machineParameter("Port").databaseKey();
        change.after = choices.port;
        change.before = database_->updateVariable(change.subject, choices.port);
        variables_.Port = choices.port;
        return storedOutcome(change);
    });
}

void Console::loadPortSettings() {
    port_.RestoreSettings(stRegistry, kPortSettingsLocation);
}

void Console::storePortSettings() {
    port_.SaveSettings(stRegistry, kPortSettingsLocation);
}

void Console::shutDown() {
    if (life_ == Life::ShutDown || heldByAnotherConsole()) {
        return;
    }
    life_ = Life::ShutDown;
    // A load that waits for a server that does not answer must not hold the end.
    stopWaitingForDatabase();
    loads_.cancel();
    // Ask the controller for its count and give the answer time to reach the counter before
    // it is saved. Without a line (the port never opened) the counter is saved as it stands.
    try {
        line_.send("GET_ALL");
    } catch (const std::exception& error) {
        qCWarning(lcConsole, "at shutdown the controller could not be asked for its count: %s",
                  cp1251ToUtf8(error.what()).c_str());
    }
    clock_.pause(200);
    // A record that the database does not take within a second waits on disk for the next
    // start, as does the end of a dispatch that the shutdown stopped.
    records_.close(std::chrono::seconds(1));
    // A counter that holds no known count (start-up stopped before reading the saved one, or
    // the text of a missing entry) is never written over the saved one.
    try {
        counter_.saveAtShutdown();
    } catch (const std::exception& error) {
        // The program ends all the same (a full disk, a read-only folder): nobody may have
        // to click. The count is kept where a service person finds it.
        const std::string message =
            "the counter " + trimmed(counter_.text()) + " could not be saved: " + error.what();
        qCCritical(lcConsole, "%s", cp1251ToUtf8(message).c_str());
        record_.journalOnly("velkor: " + message);
        return;
    }
    startUp_.releaseClaim();
}

}  // namespace velkor
