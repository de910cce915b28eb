#include "Console.h"

#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "ApplySetting.h"
#include "AtomicFile.h"
#include "ComPortText.h"
#include "ControllerLine.h"
#include "ControllerProtocol.h"
#include "FirebirdSession.h"
#include "JobImport.h"
#include "Logging.h"
#include "Numbers.h"
#include "PositionDispatch.h"
#include "SettingsPush.h"
#include "Text.h"

namespace velkor {
namespace {

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

QTimer* namedTimer(QObject* parent, const char* name, int interval) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    return timer;
}

// The port settings the workstation keeps beside the console (in its registry on Windows).
constexpr const char* kPortSettingsLocation = "HKEY_LOCAL_MACHINE\\Software\\Tavor";

}  // namespace

void Console::prepareProcess() {
    prepareFirebirdEnvironment();
}

void Console::endProcess() {
    shutDownFirebirdEngine();
}

void Console::enterWorkspace(const std::string& folder) {
    if (::chdir(folder.c_str()) != 0) {
        throw VelkorError(cp1251("Нет рабочей папки консоли ") + folder + " (" +
                          std::strerror(errno) +
                          cp1251("). Сервисный инженер создаёт её командой velkor-makedb "
                                 "--workspace ") +
                          folder);
    }
}

Console::Console(ConsoleOptions options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : systemClock()),
      port_(options_.serialDriver ? options_.serialDriver() : createSystemSerialDriver()) {
    state_.eventLog.setObserver({
        [this](const std::string& line) {
            if (logView_.appended) {
                logView_.appended(line);
            }
            journalLine(line);
        },
        [this] {
            if (logView_.cleared) {
                logView_.cleared();
            }
        },
        [this](const std::string& notice) {
            if (logView_.trimmed) {
                logView_.trimmed(notice);
            }
        },
    });

    configureControllerLine(port_);
    // Replies come framed as "<" text ">".
    packets_.Framer().SetStartString("<");
    packets_.Framer().SetStopString(">");
    packets_.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
        replyHandler_.handle(packet);
    };
    packets_.SetComPort(&port_);
    lineStatusListener_ = port_.addLineStatusListener([this] { takeNoteOfLineStatus(); });
    lineStatus_ = port_.LineStatus();

    Timer1 = namedTimer(this, "Timer1", 1000);
    Timer3 = namedTimer(this, "Timer3", 3000);
    confirmedSender_.setWaitingObserver([this](std::optional<ConfirmedSender::Waiting> waiting) {
        unconfirmed_ = std::move(waiting);
        showActivity();
    });
    connect(Timer1, &QTimer::timeout, this, &Console::startUpTick);
    connect(Timer3, &QTimer::timeout, this, &Console::delayedSettingsPush);
    Timer1->start();
}

Console::~Console() {
    port_.removeLineStatusListener(lineStatusListener_);
}

void Console::setLogView(EventLog::Observer view) {
    logView_ = std::move(view);
}

void Console::recordShownMessage(const std::string& message) {
    journalLine(cp1251("Показано сообщение: ") + message);
}

// A journal that cannot be written costs one line in the log, which is not journalled itself.
void Console::journalLine(const std::string& line) {
    if (!journal_ || writingJournalNotice_) {
        return;
    }
    if (const auto trouble = journal_->append(line)) {
        writingJournalNotice_ = true;
        state_.eventLog.append(*trouble);
        writingJournalNotice_ = false;
    }
}

void Console::startUp() {
    state_.startupDirectory = std::filesystem::current_path().string();
    claimStartupDirectory();
    journal_.emplace(state_.startupDirectory + "/journal");
    removeLeftoverTemporaries(state_.iniFile().path());  // of a crash while it was rewritten
    emit startUpBegan();
    databaseString_ = options_.databaseString.value_or(state_.defaultDatabasePath());
    state_.eventLog.append(utf8ToCp1251(databaseString_));
    noteAnUncleanEnd(databaseString_);
    database_.connect(databaseString_);
    loadMachineVariables(state_.variables, database_.readVariables());
    probePorts();
    if (stopping_) {
        port_.ClosePort();  // nothing but the probe's request goes to a probed port
        return;
    }
    const std::optional<std::string> portTrouble = openControllersPort();
    // A state report of the controller's during the probe leaves Timer1 running: its next tick
    // starts the settings push on the controller's line, with the window up.
    if (state_.autoPushState != 1) {
        Timer1->stop();
    }
    counter_.readAtStartUp(state_.iniFile(), localNow());
    if (portTrouble) {
        clearCountWhenOpen_ = true;
        throw VelkorError(*portTrouble);
    }
}

// Before anything else is touched: one console per start-up directory. A second one says so
// and ends; a marker that cannot be made (a folder this account may not write) is reported in
// the log and the console still starts.
void Console::claimStartupDirectory() {
    char startedAt[32];
    const std::tm now = localNow();
    std::strftime(startedAt, sizeof startedAt, "%Y-%m-%d %H:%M:%S", &now);
    runMarker_.emplace(state_.runMarkerPath());
    try {
        uncleanEarlierRun_ = runMarker_->claim(startedAt);
    } catch (const RunMarker::Held& held) {
        heldByAnotherConsole_ = true;
        const std::string message = cp1251("В папке ") + utf8ToCp1251(state_.startupDirectory) +
                                    cp1251(" уже работает консоль (запущена ") + held.startedAt() +
                                    cp1251("); вторая консоль в той же папке не запускается");
        qCCritical(lcConsole, "%s", cp1251ToUtf8(message).c_str());
        throw VelkorError(message);
    } catch (const std::exception& error) {
        runMarkerTrouble_ = error.what();
    }
}

// The last run here was killed or crashed (the power went, perhaps in the middle of an import):
// the service person is told, and for the embedded database how to check it.
void Console::noteAnUncleanEnd(const std::string& databaseString) {
    if (!runMarkerTrouble_.empty()) {
        state_.eventLog.append(runMarkerTrouble_);
        return;
    }
    if (!uncleanEarlierRun_) {
        return;
    }
    std::string line = cp1251("Прошлый запуск консоли (начат ") + *uncleanEarlierRun_ +
                       cp1251(") завершился аварийно");
    if (!options_.databaseString) {
        line += cp1251("; проверьте базу, закрыв консоль: velkor-checkdb ") +
                utf8ToCp1251(databaseString);
    }
    state_.eventLog.append(line);
}

// Opens each serial port of the system in turn and asks whoever answers for its state, and
// nothing else: a port that is not the controller's gets no other command. Replies are handled
// as usual while the port is open. A port that fails costs one log line. The outcome does not
// choose the port: the Port variable does.
void Console::probePorts() {
    ListSerialPorts(listedPorts_);
    for (const QString& name : std::as_const(listedPorts_)) {
        if (stopping_) {
            break;
        }
        port_.ClosePort();
        packets_.Framer().ResetBuffer();  // half a packet of one device never joins the next's
        port_.SetPort(name.toStdString());
        const bool controllers = sameSerialDevice(port_.Port(), state_.variables.Port);
        state_.lineIsTheControllers = controllers;
        try {
            port_.OpenPort();
            port_.SendText("GET_ALL");
            if (controllers) {
                state_.probe.asked(clock_.now());
            }
            clock_.pause(150);
        } catch (const std::exception&) {
            state_.eventLog.append(cp1251("Ошибка подключения ") + state_.variables.Port);
        }
    }
    state_.lineIsTheControllers = true;
}

// The port the Port variable names. One that cannot be opened now (an adapter that comes
// later, a port another program holds) is waited for as for a lost line; what the operator is
// told of it is returned.
std::optional<std::string> Console::openControllersPort() {
    port_.ClosePort();
    packets_.Framer().ResetBuffer();
    port_.SetPort(state_.variables.Port);
    controllersPortChosen_ = true;
    try {
        port_.OpenPortOrWait();
    } catch (const EComPort& error) {
        if (port_.LineStatus() != TLineStatus::Lost) {
            throw;
        }
        return cp1251("Порт ") + state_.variables.Port + ": " + error.what() +
               cp1251(". Консоль откроет его сама, как только он станет доступен");
    }
    return std::nullopt;
}

std::optional<std::string> Console::clearControllerCount() {
    if (stopping_) {
        return std::nullopt;
    }
    try {
        port_.SendText("CLR_CNT");
    } catch (const std::exception& error) {
        const char* kind =
            dynamic_cast<const EComPort*>(&error) != nullptr ? "EComPort" : "Exception";
        return kind + cp1251(" поднята ошибка, с сообщением : ") + error.what();
    }
    return std::nullopt;
}

// Once start-up has chosen the controller's port: a state report of the controller's during
// the port probe starts one settings push there. The probe itself sends nothing else.
void Console::startUpTick() {
    if (!controllersPortChosen_) {
        return;
    }
    Timer1->stop();
    if (state_.autoPushState == 1) {
        state_.autoPushState = 10;
        pushSettings();
    }
}

void Console::stop() {
    stopping_ = true;
    confirmedSender_.cancelAll();
}

void Console::delayedSettingsPush() {
    clock_.pause(500);
    Timer3->stop();
    pushSettings();
    Timer3->stop();
}

// The line went away or came back (the port reopens it by itself). The event log gets one line
// each way; half a packet from before the loss can never be completed, so it goes.
// A port that start-up could not open is waited for the same way; once it opens, start-up's
// CLR_CNT follows, so that the count starts from a known zero.
void Console::takeNoteOfLineStatus() {
    const TLineStatus status = port_.LineStatus();
    if (status == TLineStatus::Lost && lineStatus_ == TLineStatus::Closed) {
        awaitingFirstOpen_ = true;
        state_.eventLog.append(cp1251("Порт ") + port_.Port() + cp1251(" не открывается (") +
                               port_.ReconnectError() +
                               cp1251("): консоль откроет его, как только он станет доступен"));
    } else if (status == TLineStatus::Lost && lineStatus_ != TLineStatus::Lost) {
        state_.eventLog.append(cp1251("Связь с контроллером потеряна: ") + port_.Port());
        packets_.Framer().ResetBuffer();
    } else if (status == TLineStatus::Open && lineStatus_ == TLineStatus::Lost) {
        state_.eventLog.append(cp1251(awaitingFirstOpen_ ? "Связь с контроллером установлена: "
                                                         : "Связь с контроллером восстановлена: ") +
                               port_.Port());
        awaitingFirstOpen_ = false;
    } else if (status == TLineStatus::Closed) {
        awaitingFirstOpen_ = false;
    }
    if (status == TLineStatus::Open && clearCountWhenOpen_) {
        clearCountWhenOpen_ = false;
        // Once the opening has run to its end.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (const auto trouble = clearControllerCount()) {
                    state_.eventLog.append(*trouble);
                }
            },
            Qt::QueuedConnection);
    }
    lineStatus_ = status;
    emit lineStatusChanged();
}

void Console::scan(const std::string& scan) {
    requestDispatch(scan);
}

void Console::sendPositions() {
    requestDispatch(std::nullopt);
}

// The first request runs the queue; one that comes during it, inside a pause, only joins it.
void Console::requestDispatch(std::optional<std::string> scan) {
    waitingDispatches_.push_back(std::move(scan));
    showActivity();
    if (dispatching_) {
        return;
    }
    dispatching_ = true;
    struct Ending {
        Console& console;
        ~Ending() {
            console.dispatching_ = false;
            console.showActivity();
        }
    } ending{*this};
    while (!waitingDispatches_.empty()) {
        if (stopping_ || shutDown_) {  // the console is closing: nothing more goes out
            waitingDispatches_.clear();
            break;
        }
        const std::optional<std::string> next = std::move(waitingDispatches_.front());
        waitingDispatches_.pop_front();
        showActivity();
        try {
            runDispatch(next);
        } catch (...) {
            if (const std::size_t dropped = waitingDispatches_.size(); dropped > 0) {
                waitingDispatches_.clear();
                state_.eventLog.append(cp1251("Отправка прервана ошибкой; не отправлено сканов и "
                                              "нажатий \"Import size\", ждавших очереди: ") +
                                       std::to_string(dropped));
            }
            throw;
        }
    }
}

// A scan shows itself and empties the fields, looks the piece up and fills them, then the
// fields go out; "Import size" sends the fields as they stand.
void Console::runDispatch(const std::optional<std::string>& scan) {
    if (scan) {
        scanView_.taken(*scan);
        scanView_.found(*scan, database_.readPiecePositions(barcodeOfScan(*scan)));
    }
    requireVariables(state_.variables, {"Qty_Imp_mm", "L_upor"});
    dispatchPositions(scanView_.fieldText, state_.variables, port_, clock_);
}

void Console::showActivity() {
    std::string text;
    if (unconfirmed_) {
        text = cp1251("Контроллер не подтверждает ") + unconfirmed_->command +
               cp1251(": отправлено раз: ") + std::to_string(unconfirmed_->sent) +
               cp1251(". Esc прерывает");
    }
    if (!waitingDispatches_.empty()) {
        text += (text.empty() ? "" : "; ") + cp1251("ждут отправки: ") +
                std::to_string(waitingDispatches_.size());
    }
    if (text != activity_) {
        activity_ = std::move(text);
        emit activityChanged();
    }
}

void Console::askForState() {
    port_.SendText("GET_ALL");
    state_.showRequest = 1;
}

void Console::askForStep() {
    port_.SendText("GET_STEP");
    clock_.pause(150);
}

void Console::askForCount() {
    port_.SendText("GET_CNT");
    clock_.pause(150);
}

void Console::clearLog() {
    state_.eventLog.clear();
}

void Console::toggleLaminationMode() {
    profileMode_.toggle();
}

void Console::pushSettings() {
    Timer3->stop();
    runSettingsPush(confirmedSender_, state_);
}

// The handle delta goes to the controller and into the INI file.
void Console::sendHandleDelta(const std::string& text) {
    const std::string value = trimmed(text);
    port_.SendText(command("R_DELTA", impulseTextOf(value, state_.variables.Qty_Imp_mm)));
    state_.iniFile().write("Main", "R_DELTA", value);
}

void Console::sendHandlePosition(const std::string& text) {
    port_.SendText(command("R_POS", impulseTextOf(trimmed(text), state_.variables.Qty_Imp_mm)));
}

void Console::importJob(const std::string& path) {
    if (load_) {
        throw VelkorError(cp1251("Уже загружается ") +
                          utf8ToCp1251(std::filesystem::path(load_->path()).filename().string()) +
                          cp1251(": следующий файл можно загрузить, когда она закончится"));
    }
    load_ = std::make_unique<JobLoad>(
        databaseString_, path, state_.variables.L_BarCode,
        HolePositionLimits{state_.variables.Qty_Imp_mm, state_.variables.L_upor});
    connect(load_.get(), &JobLoad::progressed, this, &Console::loadChanged);
    connect(load_.get(), &JobLoad::finished, this, &Console::loadFinished);
    emit loadChanged();
}

// Every load is on record: the file, what it brought or why not, and how long it took.
void Console::loadFinished() {
    const std::unique_ptr<JobLoad> ended = std::move(load_);
    const JobLoad::Outcome& outcome = ended->outcome();
    const JobImportReport& report = ended->progress();
    const std::string file = utf8ToCp1251(std::filesystem::path(ended->path()).filename().string());
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", outcome.took.count());
    if (outcome.error) {
        state_.eventLog.append(cp1251("Загрузка ") + file + cp1251(" не удалась за ") + took +
                               cp1251(" с, прочитано строк: ") + std::to_string(report.lines));
    } else {
        for (const std::string& notice : report.notices) {
            state_.eventLog.append(notice);
        }
        state_.eventLog.append(
            cp1251("Загружен ") + file + cp1251(": строк ") + std::to_string(report.lines) +
            cp1251(", деталей ") + std::to_string(report.pieces) + cp1251(", отверстий ") +
            std::to_string(report.holes) + cp1251(", заменено деталей прежних загрузок: ") +
            std::to_string(report.superseded) + ", " + took + cp1251(" с"));
    }
    emit loadChanged();
    emit loadEnded(outcome.error);
}

void Console::exportLog() {
    exportEventLog(state_.eventLog.lines(), state_.startupDirectory, localNow());
}

bool Console::passwordMatches(const std::string& password) const {
    return password == state_.variables.pwd;
}

void Console::checkSettingsMayOpen() const {
    if (!state_.variables.loaded) {
        throw VelkorError(
            cp1251("Машинные переменные не загружены из базы (см. ошибку при "
                   "запуске): окно настроек не открывается"));
    }
}

void Console::applySetting(const MachineParameter& parameter, std::string_view text) {
    velkor::applySetting(parameter, text, state_.variables, port_, database_);
}

void Console::saveControllerSettings() {
    velkor::saveControllerSettings(port_);
}

std::string Console::lineStatusText() const {
    return LineStatusText(lineStatus_);
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

void Console::loadPortSettings() {
    port_.RestoreSettings(stRegistry, kPortSettingsLocation);
}

void Console::storePortSettings() {
    port_.SaveSettings(stRegistry, kPortSettingsLocation);
}

void Console::shutDown() {
    if (shutDown_ || heldByAnotherConsole_) {
        return;
    }
    shutDown_ = true;
    if (load_) {
        // Ends at its next few thousand lines; nothing of it stays, the file keeps its name.
        const std::string file = std::filesystem::path(load_->path()).filename().string();
        load_.reset();
        state_.eventLog.append(cp1251("Загрузка ") + utf8ToCp1251(file) +
                               cp1251(" прервана: консоль закрывается"));
    }
    // Ask the controller for its count and give the answer time to reach the counter before
    // it is saved. Without a line (the port never opened) the counter is saved as it stands.
    try {
        port_.SendText("GET_ALL");
    } catch (const std::exception& error) {
        qCWarning(lcConsole, "at shutdown the controller could not be asked for its count: %s",
                  cp1251ToUtf8(error.what()).c_str());
    }
    clock_.pause(200);
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
        journalLine("velkor: " + message);
        return;
    }
    if (runMarker_) {
        runMarker_->release();
    }
}

}  // namespace velkor
