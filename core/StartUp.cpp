#include "StartUp.h"

#include <fcntl.h>
#include <unistd.h>

#include <QMetaObject>
#include <ctime>
#include <filesystem>

#include "AtomicFile.h"
#include "ComPortList.h"
#include "Logging.h"
#include "MachineParameters.h"
#include "Text.h"

namespace velkor {
namespace {

constexpr std::string_view kRememberedPortFile = "velkor.port";

}  // namespace

StartUp::StartUp(Parts parts, std::optional<std::string> databaseString,
                 std::function<bool()> closing, std::function<void()> began,
                 std::function<void()> pushSettings)
    : parts_(parts),
      givenDatabase_(std::move(databaseString)),
      closing_(std::move(closing)),
      began_(std::move(began)),
      pushSettings_(std::move(pushSettings)),
      timer1_(
          parts.clock.timer("Timer1", std::chrono::milliseconds(1000), [this] { timer1Tick(); })) {
    timer1_->start();
}

void StartUp::run() {
    directory_.path = std::filesystem::current_path().string();
    const Claim claim = claimDirectory();
    parts_.record.startJournal(directory_.file("journal"));
    removeLeftoverTemporaries(directory_.iniFile().path());  // of a crash while it was rewritten
    if (began_) {
        began_();
    }
    databaseString_ = givenDatabase_.value_or(directory_.file("KV.GDB"));
    parts_.record.log().append(utf8ToCp1251(databaseString_));
    noteAnUncleanEnd(claim);
    phase_ = Phase::Probing;
    probePorts();
    takeDatabase();
    if (closing_()) {
        parts_.line.port().ClosePort();  // nothing but the probe's request goes to a probed port
        phase_ = Phase::EndedByStop;
        return;
    }
    const bool portKnown = !parts_.database.awaited() || !parts_.variables.Port.empty();
    const std::optional<std::string> portTrouble = portKnown ? openControllersPort() : std::nullopt;
    if (!portKnown) {
        phase_ = Phase::AwaitingDatabase;
    }
    // A state report of the controller's during the probe leaves Timer1 running: its next tick
    // starts the settings push on the controller's line, with the window up.
    if (reports_.autoPush() != ProbeReports::AutoPush::Armed) {
        timer1_->stop();
    }
    parts_.counter.readAtStartUp(directory_.iniFile(), localNow());
    if (portTrouble) {
        phase_ = Phase::AwaitingPort;
        throw VelkorError(*portTrouble);
    }
}

// Before anything else is touched: one console per start-up directory. A second one says so
// and ends; a marker that cannot be made (a folder this account may not write) is reported in
// the log and the console still starts.
StartUp::Claim StartUp::claimDirectory() {
    char startedAt[32];
    const std::tm now = localNow();
    std::strftime(startedAt, sizeof startedAt, "%Y-%m-%d %H:%M:%S", &now);
    runMarker_.emplace(directory_.file("velkor.running"));
    try {
        return {runMarker_->claim(startedAt), {}};
    } catch (const RunMarker::Held& held) {
        phase_ = Phase::HeldByAnother;
        const std::string message = cp1251("В папке ") + utf8ToCp1251(directory_.path) +
                                    cp1251(" уже работает консоль (запущена ") + held.startedAt() +
                                    cp1251("); вторая консоль в той же папке не запускается");
        qCCritical(lcConsole, "%s", cp1251ToUtf8(message).c_str());
        throw VelkorError(message);
    } catch (const std::exception& error) {
        return {std::nullopt, error.what()};
    }
}

// The last run here was killed or crashed (the power went, perhaps in the middle of an import):
// the service person is told, and for the embedded database how to check it.
void StartUp::noteAnUncleanEnd(const Claim& claim) {
    if (!claim.markerTrouble.empty()) {
        parts_.record.log().append(claim.markerTrouble);
        return;
    }
    if (!claim.uncleanEarlierRun) {
        return;
    }
    std::string line = cp1251("Прошлый запуск консоли (начат ") + *claim.uncleanEarlierRun +
                       cp1251(") завершился аварийно");
    if (!givenDatabase_) {
        line += cp1251("; проверьте базу, закрыв консоль: velkor-checkdb ") +
                utf8ToCp1251(databaseString_);
    }
    parts_.record.log().append(line);
}

// The database's machine variables, or the port the last start-up found when it cannot be
// reached. Taken while the first port's answer is awaited: the engine's loading and the
// connection take about as long as that wait, and the window comes up sooner.
void StartUp::takeDatabase() {
    if (databaseTaken_) {
        return;
    }
    databaseTaken_ = true;
    if (parts_.database.connect(databaseString_)) {
        rememberPort(parts_.variables.Port);
    } else if (const auto port = rememberedPort()) {
        parts_.variables.Port = *port;
    }
}

// Opens each serial port of the system in turn and asks whoever answers for its state, and
// nothing else: a port that is not the controller's gets no other command. Replies are handled
// as usual while the port is open. A port that fails costs one log line. The outcome does not
// choose the port: the Port variable does, which the database gives once the first port has
// been asked.
void StartUp::probePorts() {
    TCustomComPort& port = parts_.line.port();
    ListSerialPorts(listedPorts_);
    for (const QString& name : std::as_const(listedPorts_)) {
        if (closing_()) {
            break;
        }
        port.ClosePort();
        parts_.packets.Framer()
            .ResetBuffer();  // half a packet of one device never joins the next's
        port.SetPort(name.toStdString());
        std::optional<Clock::TimePoint> asked;
        try {
            port.OpenPort();
            parts_.line.send("GET_ALL");
            asked = parts_.clock.now();
        } catch (const std::exception&) {
            // said below, in the words the operator knows, once the database names the port
        }
        try {
            takeDatabase();
        } catch (...) {
            port.ClosePort();  // variables that cannot be taken end start-up here
            throw;
        }
        if (!asked) {
            parts_.record.log().append(cp1251("Ошибка подключения ") + parts_.variables.Port);
            continue;
        }
        // Nothing has handled the port's replies yet: that starts with the pause.
        const bool controllers = port.SameDevice(parts_.variables.Port);
        reports_.probing(controllers);
        if (controllers) {
            reports_.asked(*asked);
        }
        parts_.clock.pauseUntil(*asked + std::chrono::milliseconds(150));
    }
    reports_.probeEnded();
}

// The port the Port variable names. One that cannot be opened now (an adapter that comes
// later, a port another program holds) is waited for as for a lost line; what the operator is
// told of it is returned.
std::optional<std::string> StartUp::openControllersPort() {
    TCustomComPort& port = parts_.line.port();
    port.ClosePort();
    parts_.packets.Framer().ResetBuffer();
    port.SetPort(parts_.variables.Port);
    phase_ = Phase::PortChosen;
    try {
        port.OpenPortOrWait();
    } catch (const EComPort& error) {
        if (port.LineStatus() != TLineStatus::Lost) {
            throw;
        }
        return cp1251("Порт ") + parts_.variables.Port + ": " + error.what() +
               cp1251(". Консоль откроет его сама, как только он станет доступен");
    }
    return std::nullopt;
}

std::optional<std::string> StartUp::clearControllerCount() {
    if (closing_() || phase_ == Phase::AwaitingDatabase) {
        return std::nullopt;
    }
    phase_ = Phase::Finished;
    try {
        parts_.line.send("CLR_CNT");
    } catch (const std::exception& error) {
        const char* kind =
            dynamic_cast<const EComPort*>(&error) != nullptr ? "EComPort" : "Exception";
        return kind + cp1251(" поднята ошибка, с сообщением : ") + error.what();
    }
    return std::nullopt;
}

// A port that start-up could not open is waited for as a lost line is; once it opens, start-up's
// CLR_CNT follows, so that the count starts from a known zero.
void StartUp::lineOpened() {
    if (phase_ != Phase::AwaitingPort) {
        return;
    }
    phase_ = Phase::Finished;
    // Once the opening has run to its end.
    QMetaObject::invokeMethod(
        &queuedCalls_,
        [this] {
            if (const auto trouble = clearControllerCount()) {
                parts_.record.log().append(*trouble);
            }
        },
        Qt::QueuedConnection);
}

void StartUp::databaseTakenUp() {
    rememberPort(parts_.variables.Port);
    // Taken up during the probe, start-up opens the right port itself. After it, the line
    // opens now if start-up knew no port, or again if the database names another one than
    // the last start found.
    const bool portChanged = parts_.line.port().Port() != parts_.variables.Port;
    const bool startUpPast =
        phase_ == Phase::PortChosen || phase_ == Phase::AwaitingPort || phase_ == Phase::Finished;
    if (closing_() || !(phase_ == Phase::AwaitingDatabase || (startUpPast && portChanged))) {
        return;
    }
    if (const auto trouble = openControllersPort()) {
        phase_ = Phase::AwaitingPort;
        parts_.record.log().append(*trouble);
        return;
    }
    if (const auto trouble = clearControllerCount()) {
        parts_.record.log().append(*trouble);
    }
}

std::optional<std::string> StartUp::rememberedPort() const {
    const int fd =
        ::open(directory_.file(kRememberedPortFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[256];
    const ssize_t length = ::read(fd, text, sizeof text);
    ::close(fd);
    std::string port =
        length > 0 ? trimmed(std::string_view(text, static_cast<std::size_t>(length))) : "";
    return port.empty() ? std::nullopt : std::optional(port);
}

void StartUp::rememberPort(const std::string& port) const {
    if (port.empty() || rememberedPort() == port) {
        return;
    }
    try {
        replaceFile(directory_.file(kRememberedPortFile), port + "\n");
    } catch (const std::exception& error) {
        qCWarning(lcConsole,
                  "the controller's port is not remembered for a start without the "
                  "database: %s",
                  cp1251ToUtf8(error.what()).c_str());
    }
}

bool StartUp::stateReportSeen(Clock::TimePoint now) {
    return reports_.reportSeen(now) && parts_.counter.saving();
}

// Once start-up has chosen the controller's port: a state report of the controller's during
// the port probe starts one settings push there. The probe itself sends nothing else.
void StartUp::timer1Tick() {
    if (phase_ != Phase::PortChosen && phase_ != Phase::AwaitingPort && phase_ != Phase::Finished) {
        return;
    }
    timer1_->stop();
    if (reports_.startArmedPush() && !parts_.database.awaited()) {
        pushSettings_();
    }
}

void StartUp::releaseClaim() {
    if (runMarker_) {
        runMarker_->release();
    }
}

}  // namespace velkor
