#include "ComMainForm.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "AtomicFile.h"
#include "ComPortText.h"
#include "ComSetupDialog.h"
#include "ControllerLine.h"
#include "ControllerProtocol.h"
#include "Controls.h"
#include "ElidedLabel.h"
#include "ErrorBox.h"
#include "JobImport.h"
#include "JpegImage.h"
#include "Numbers.h"
#include "PositionDispatch.h"
#include "PumpingDelay.h"
#include "SettingsPush.h"
#include "Text.h"

namespace velkor {
namespace {

// Far more than any barcode; a scanner or a stuck key typing on cannot flood the window.
constexpr int kLongestScan = 40;

// Colours of the profile-mode caption: the workstation's desktop background (a dark teal) in
// white mode; lime and navy, blinking, in laminated mode.
const QColor kDesktopColour(0x00, 0x80, 0x80);
const QColor kLime(0, 255, 0);
const QColor kNavy(0, 0, 128);

// The wait cursor for as long as it lives.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

QFont sized(QFont font, int pointSize, bool bold) {
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace

TForm1::TForm1(ConsoleOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      ComPort(options_.serialDriver ? options_.serialDriver() : createSystemSerialDriver()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velkor v.4  11.08.2021 "));
    buildControls();
    buildMenu();
    bindEventLog();
    configurePort();

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(1000);
    Timer2 = named(new QTimer(this), "Timer2");
    Timer2->setInterval(500);
    Timer3 = named(new QTimer(this), "Timer3");
    Timer3->setInterval(3000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    Timer1->start();
    Timer2->start();

    connect(SpeedButton2, &QPushButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(Speed_step, &QPushButton::clicked, this, &TForm1::Speed_stepClick);
    connect(SpeedButton4, &QPushButton::clicked, this, &TForm1::SpeedButton4Click);
    connect(SpeedButton8, &QPushButton::clicked, this, &TForm1::SpeedButton8Click);
    connect(Button_Lamin, &QPushButton::clicked, this, &TForm1::Button_LaminClick);
    connect(Speed_Imp_full_set, &QPushButton::clicked, this, &TForm1::Speed_Imp_full_setClick);
    connect(But_R_DELTA, &QPushButton::clicked, this, &TForm1::But_R_DELTAClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Edit8, &QLineEdit::returnPressed, this, &TForm1::Button1Click);
    connect(SettingsItem, &QAction::triggered, this, &TForm1::N4Click);

    FormCreate();
    Edit_BarCode->setFocus();
}

TForm1::~TForm1() {
    ComPort.removeLineStatusListener(lineStatusListener_);
}

void TForm1::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    resize(900, 640);

    Button_Lamin = named(new QPushButton(ru("Белый")), "Button_Lamin");
    Button_Lamin->setFlat(true);
    Button_Lamin->setFocusPolicy(Qt::NoFocus);
    Button_Lamin->setFont(sized(font(), 20, true));
    Button_Lamin->setMinimumSize(200, 56);
    setLaminCaptionColour(kDesktopColour);

    Label7 = named(new QLabel(ru("Циклов:")), "Label7");
    Label7->setFont(sized(font(), 14, false));
    Label_CNT = named(new ElidedLabel(QStringLiteral("0"), 320), "Label_CNT");
    Label_CNT->setFont(sized(font(), 24, true));
    Label9 = named(new QLabel(ru("Кво :")), "Label9");
    Label8 = named(new QLabel(QStringLiteral("0")), "Label8");

    Edit_BarCode = named(new QLineEdit, "Edit_BarCode");
    Edit_BarCode->setMaxLength(kLongestScan);
    Edit_BarCode->setFont(sized(font(), 20, true));
    Edit_BarCode->setStyleSheet(QStringLiteral("color: red;"));
    Label_Bar_Code = named(new ElidedLabel(QStringLiteral("0"), 320), "Label_Bar_Code");
    Label_Bar_Code->setFont(sized(font(), 12, false));

    SpeedButton2 = speedButton("SpeedButton2", ru("Показать"));
    Speed_step = speedButton("Speed_step", QStringLiteral("STEP"));
    SpeedButton4 = speedButton("SpeedButton4", ru("Очистить"));
    Speed_Imp_full_set = speedButton("Speed_Imp_full_set", ru("Иморт настроек"));
    SpeedButton8 = speedButton("SpeedButton8", ru("Количество заготовок"));
    SpeedButton8->hide();
    SpeedButton3 = speedButton("SpeedButton3", QStringLiteral("Save Log"));
    SpeedButton3->hide();
    connect(SpeedButton3, &QPushButton::clicked, this, &TForm1::SpeedButton3Click);
    // The scanner types the barcode and ends it with Enter.
    connect(Edit_BarCode, &QLineEdit::returnPressed, this, &TForm1::Edit_BarCodeKeyPress);

    Memo = named(new QPlainTextEdit, "Memo");
    Memo->setReadOnly(true);
    Memo->setUndoRedoEnabled(false);  // lines the log drops must not live on as undo steps
    // The oldest lines go as new ones come, as the event log lets them go; Qt's own limit
    // keeps the view's memory flat (removing lines through a cursor would not).
    Memo->setMaximumBlockCount(static_cast<int>(state_.eventLog.limit()));
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Image1 = named(new QLabel, "Image1");
    QFile picture(QStringLiteral(":/velkor.jpg"));
    if (picture.open(QIODevice::ReadOnly)) {
        Image1->setPixmap(QPixmap::fromImage(decodeJpeg(picture.readAll())));
    }
    Label1 = named(new QLabel(QStringLiteral("www.velkor.example")), "Label1");

    auto positionField = [](const char* name) {
        auto* edit = named(new QLineEdit, name);
        edit->setMaximumWidth(90);
        return edit;
    };
    Edit1 = positionField("Edit1");
    Edit2 = positionField("Edit2");
    Edit3 = positionField("Edit3");
    Edit4 = positionField("Edit4");
    Edit5 = positionField("Edit5");
    Edit6 = positionField("Edit6");
    Edit7 = positionField("Edit7");
    Edit9 = positionField("Edit9");
    SpeedButton1 = speedButton("SpeedButton1", QStringLiteral("Import size"));
    connect(SpeedButton1, &QPushButton::clicked, this, &TForm1::SpeedButton1Click);

    GroupBox2 = named(new QGroupBox(ru("Параметры для ручки")), "GroupBox2");
    E_R_DELTA = named(new QLineEdit, "E_R_DELTA");
    But_R_DELTA = speedButton("But_R_DELTA", ru("1/2 ручки"));
    Label10 = named(new QLabel(ru("Размер до ручки")), "Label10");
    Edit8 = named(new QLineEdit, "Edit8");
    Edit8->setFont(sized(font(), 14, true));
    Button1 = named(new QPushButton(QStringLiteral("OK")), "Button1");
    auto* handleLayout = new QGridLayout(GroupBox2);
    handleLayout->addWidget(E_R_DELTA, 0, 0);
    handleLayout->addWidget(But_R_DELTA, 0, 1);
    handleLayout->addWidget(Label10, 1, 0, 1, 2);
    handleLayout->addWidget(Edit8, 2, 0);
    handleLayout->addWidget(Button1, 2, 1);
    GroupBox2->hide();

    // Where the line stands, always in sight: the port, and whether it is connected or lost.
    Label_Line = named(new ElidedLabel(QString(), 760), "Label_Line");
    Label_Line->setFont(sized(font(), 12, true));
    statusBar()->addPermanentWidget(Label_Line);
    statusBar()->setSizeGripEnabled(false);

    ListBoxPort = named(new QListWidget, "ListBoxPort");
    ListBoxPort->hide();
    Label2 = named(new QLabel(QStringLiteral("Label2")), "Label2");
    Label2->hide();

    auto* counter = new QHBoxLayout;
    counter->addWidget(Button_Lamin);
    counter->addSpacing(16);
    counter->addWidget(Label7);
    counter->addWidget(Label_CNT);
    counter->addSpacing(16);
    counter->addWidget(Label9);
    counter->addWidget(Label8);
    counter->addStretch();
    auto* brand = new QVBoxLayout;
    brand->addWidget(Image1);
    brand->addWidget(Label1, 0, Qt::AlignRight);
    counter->addLayout(brand);

    auto* scan = new QHBoxLayout;
    scan->addWidget(Edit_BarCode, 1);
    scan->addWidget(Label_Bar_Code);

    auto* commands = new QHBoxLayout;
    for (auto* button :
         {SpeedButton2, Speed_step, SpeedButton4, Speed_Imp_full_set, SpeedButton8, SpeedButton3}) {
        commands->addWidget(button);
    }
    commands->addStretch();

    auto* positions = new QVBoxLayout;
    for (auto* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit9}) {
        positions->addWidget(edit);
    }
    positions->addWidget(SpeedButton1);
    positions->addWidget(GroupBox2);
    positions->addStretch();

    // Above the log, once its oldest lines have gone: how many (the journal has them all).
    Label_LogDropped = named(new ElidedLabel(QString(), 600), "Label_LogDropped");
    Label_LogDropped->hide();
    auto* log = new QVBoxLayout;
    log->addWidget(Label_LogDropped);
    log->addWidget(Memo, 1);
    auto* work = new QHBoxLayout;
    work->addLayout(log, 1);
    work->addLayout(positions);
    work->addWidget(ListBoxPort);
    work->addWidget(Label2);

    auto* page = new QVBoxLayout(central);
    page->addLayout(counter);
    page->addLayout(scan);
    page->addLayout(commands);
    page->addLayout(work, 1);
}

void TForm1::buildMenu() {
    QMenu* file = menuBar()->addMenu(ru("Файл"));
    file->setObjectName(QStringLiteral("N1"));
    N2 = named(file->addAction(ru("Загрузить")), "N2");
    connect(N2, &QAction::triggered, this, &TForm1::N2Click);
    ExportLogItem = named(file->addAction(QStringLiteral("Export log")), "N3");
    connect(ExportLogItem, &QAction::triggered, this, &TForm1::SpeedButton3Click);
    SettingsItem = named(menuBar()->addAction(ru("Настройки")), "N4");
}

// The window shows the event log as it grows, keeps at most its newest lines (the log says
// how many went), and every line also goes to the journal on disk.
void TForm1::bindEventLog() {
    state_.eventLog.setObserver({
        [this](const std::string& line) {
            showLogLine(line);
            journalLine(line);
        },
        [this] {
            pendingLogLines_.clear();
            Memo->clear();
            logNotice_.clear();
            Label_LogDropped->hide();
        },
        [this](const std::string& notice) {
            // Shown a few times a second at most: a flood of packets must not wait for it.
            logNotice_ = notice;
            if (!logNoticeDue_) {
                logNoticeDue_ = true;
                QTimer::singleShot(250, this, [this] {
                    logNoticeDue_ = false;
                    if (!logNotice_.empty()) {
                        Label_LogDropped->setText(fromCp1251(logNotice_));
                        Label_LogDropped->show();
                    }
                });
            }
        },
    });
}

// Lines reach the Memo in batches, once the current event is handled (or a thousand at a
// time): appending them one by one would cost the window most of its time under a flood.
void TForm1::showLogLine(const std::string& line) {
    QString text = fromCp1251(withCrLfBreaks(line));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    pendingLogLines_ << text;
    if (pendingLogLines_.size() >= 1000) {
        flushLogLines();
    } else if (pendingLogLines_.size() == 1) {
        QTimer::singleShot(0, this, &TForm1::flushLogLines);
    }
}

void TForm1::flushLogLines() {
    if (!pendingLogLines_.isEmpty()) {
        Memo->appendPlainText(pendingLogLines_.join(u'\n'));
        pendingLogLines_.clear();
    }
}

// A journal that cannot be written costs one line in the window's log, which is not
// journalled itself.
void TForm1::journalLine(const std::string& line) {
    if (!journal_ || writingJournalNotice_) {
        return;
    }
    if (const auto trouble = journal_->append(line)) {
        writingJournalNotice_ = true;
        state_.eventLog.append(*trouble);
        writingJournalNotice_ = false;
    }
}

void TForm1::configurePort() {
    configureControllerLine(ComPort);

    // Replies come framed as "<" text ">".
    ComDataPacket1.Framer().SetStartString("<");
    ComDataPacket1.Framer().SetStopString(">");
    ComDataPacket1.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
        ComDataPacket1Packet(packet);
    };
    ComDataPacket1.SetComPort(&ComPort);
    lineStatusListener_ = ComPort.addLineStatusListener([this] { LineStatusChange(); });
    showLineStatus();
}

// The line went away or came back (the port reopens it by itself). The event log gets one line
// each way; half a packet from before the loss can never be completed, so it goes.
void TForm1::LineStatusChange() {
    const TLineStatus status = ComPort.LineStatus();
    if (status == TLineStatus::Lost && shownLineStatus_ != TLineStatus::Lost) {
        state_.eventLog.append(cp1251("Связь с контроллером потеряна: ") + ComPort.Port());
        ComDataPacket1.Framer().ResetBuffer();
    } else if (status == TLineStatus::Open && shownLineStatus_ == TLineStatus::Lost) {
        state_.eventLog.append(cp1251("Связь с контроллером восстановлена: ") + ComPort.Port());
    }
    showLineStatus();
}

void TForm1::showLineStatus() {
    shownLineStatus_ = ComPort.LineStatus();
    std::string text = cp1251("Порт ") + ComPort.Port() + ": " + LineStatusText(shownLineStatus_);
    if (shownLineStatus_ == TLineStatus::Lost && !ComPort.ReconnectError().empty()) {
        text += " (" + ComPort.ReconnectError() + ")";
    }
    Label_Line->setText(fromCp1251(text));
    Label_Line->setStyleSheet(shownLineStatus_ == TLineStatus::Open
                                  ? QString()
                                  : QStringLiteral("color: white; background: #b00000;"));
}

void TForm1::ComDataPacket1Packet(const std::string& packet) {
    replyHandler_.handle(packet);
}

// A state report's count: shown, and saved at once, so that a crash or a power failure loses
// no count the controller has reported. Reports before start-up has read the saved counter
// (the port probe's) only show it: they count without the counter base.
void TForm1::showCounter(const std::string& counter) {
    state_.counterKnown = true;
    if (toCp1251(Label_CNT->text()) == counter) {
        return;
    }
    Label_CNT->setText(fromCp1251(counter));
    if (!state_.counterSaving) {
        return;
    }
    try {
        state_.iniFile().write("Main", "CNT", counter);
    } catch (const std::exception& error) {
        state_.eventLog.append(error.what());  // the count is still shown and saved at shutdown
    }
}

void TForm1::FormCreate() {
    try {
        runStartup();
    } catch (...) {
        // Start-up stops at the failing step; the window still opens and works with whatever
        // was set so far.
        reportException(std::current_exception());
    }
}

void TForm1::runStartup() {
    state_.startupDirectory = std::filesystem::current_path().string();
    journal_.emplace(state_.startupDirectory + "/journal");
    removeLeftoverTemporaries(state_.iniFile().path());  // of a crash while it was rewritten
    setWindowTitle(windowTitle() + QStringLiteral(" Production by Morvel"));
    const std::string databaseString =
        options_.databaseString.value_or(state_.defaultDatabasePath());
    state_.eventLog.append(utf8ToCp1251(databaseString));
    noteAnUncleanEnd(databaseString);
    IBDatabase1.connect(databaseString);
    loadMachineVariables(state_.variables, IBDatabase1.readVariables());
    probePorts();
    ComPort.ClosePort();
    ComPort.SetPort(state_.variables.Port);
    ComPort.OpenPort();
    Timer1->stop();
    readStartupCounter(
        state_, [this](const std::string& text) { Label_CNT->setText(fromCp1251(text)); },
        localNow());
    clearControllerCount();
}

// Opens each serial port of the system in turn and asks whoever answers for its state; replies
// are handled as usual while the port is open. A port that fails costs one log line. The
// outcome does not choose the port: the Port variable does.
void TForm1::probePorts() {
    QStringList names;
    ListSerialPorts(names);
    ListBoxPort->clear();
    ListBoxPort->addItems(names);
    for (const QString& name : names) {
        ComPort.ClosePort();
        ComPort.SetPort(name.toStdString());
        try {
            ComPort.OpenPort();
            ComPort.SendText("GET_ALL");
            pumpingDelay(150);
        } catch (const std::exception&) {
            state_.eventLog.append(cp1251("Ошибка подключения ") + state_.variables.Port);
        }
    }
}

// The controller starts counting again from zero; the console adds its counter base.
void TForm1::clearControllerCount() {
    try {
        ComPort.SendText("CLR_CNT");
    } catch (const std::exception& error) {
        const char* kind =
            dynamic_cast<const EComPort*>(&error) != nullptr ? "EComPort" : "Exception";
        QMessageBox::information(this, QString::fromLatin1(kApplicationTitle),
                                 QString::fromLatin1(kind) +
                                     fromCp1251(cp1251(" поднята ошибка, с сообщением : ")) +
                                     fromCp1251(error.what()));
    }
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Esc ends a sequence of confirmed sends that waits for an acknowledgement.
    if (event->key() == Qt::Key_Escape && confirmedSender_.cancelInnermost()) {
        return;
    }
    QMainWindow::keyPressEvent(event);
}

QLineEdit* TForm1::positionField(int index) const {
    const std::array<QLineEdit*, kPositionFields> fields = {Edit1, Edit2, Edit3, Edit4,
                                                            Edit5, Edit6, Edit7, Edit8};
    return fields[static_cast<std::size_t>(index)];
}

// A scan: show it, empty the fields, look up the piece's hole positions, show up to eight of
// them and send them to the controller.
void TForm1::Edit_BarCodeKeyPress() {
    const std::string scan = toCp1251(Edit_BarCode->text());
    Label_Bar_Code->setText(fromCp1251(scan));
    Edit_BarCode->clear();
    for (int i = 0; i < kPositionFields; ++i) {
        positionField(i)->clear();
    }
    statusBar()->clearMessage();
    const auto positions = IBDatabase1.readPiecePositions(barcodeOfScan(scan));
    for (std::size_t i = 0; i < positions.size() && i < kPositionFields; ++i) {
        if (positions[i]) {
            positionField(static_cast<int>(i))->setText(fromCp1251(generalText(*positions[i])));
        }
    }
    if (std::none_of(positions.begin(), positions.end(), [](const auto& p) { return p; })) {
        // Said where the operator looks, without a box that would stop the next scan.
        statusBar()->showMessage(ru("Деталь ") + fromCp1251(scan) + ru(" не найдена: позиций нет"),
                                 30000);
    }
    SpeedButton1Click();
}

void TForm1::SpeedButton1Click() {
    dispatchPositions([this](int field) { return toCp1251(positionField(field)->text()); },
                      state_.variables, ComPort);
}

void TForm1::setLaminCaptionColour(const QColor& colour) {
    laminCaptionColour_ = colour;
    Button_Lamin->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
}

// "Показать": ask for the state; the next report is logged.
void TForm1::SpeedButton2Click() {
    ComPort.SendText("GET_ALL");
    state_.showRequest = 1;
}

void TForm1::Speed_stepClick() {
    ComPort.SendText("GET_STEP");
    pumpingDelay(150);
}

void TForm1::SpeedButton4Click() {
    state_.eventLog.clear();
}

void TForm1::SpeedButton8Click() {
    ComPort.SendText("GET_CNT");
    pumpingDelay(150);
}

// White and laminated profiles differ by the cylinder stroke: the controller gets the feed,
// head distance and end-sensor lengths shifted by it. The caption and the mode show the target
// while the four confirmed sends run, and afterwards what the controller confirmed: a toggle
// ended by Esc, by closing or by a send error leaves the last confirmed mode showing, and the
// next click sends all four commands again. A click while a toggle runs starts nothing.
void TForm1::Button_LaminClick() {
    if (toggling_) {
        return;
    }
    const MachineVariables& v = state_.variables;
    const int target = Button_Lamin->text() == ru("Белый") ? 1 : 0;
    const bool toLaminated = target == 1;
    const long double shift = toLaminated ? v.Step_pnevmo : 0;
    const int wait = toLaminated ? 500 : 100;
    toggling_ = true;
    showLaminationMode(target);
    bool confirmed = false;
    // However the toggle ends (confirmed, ended by Esc or closing, a send error), the next
    // click may start one; unconfirmed, the button goes back to the last confirmed mode.
    struct Ending {
        TForm1& window;
        const bool& confirmed;
        ~Ending() {
            window.toggling_ = false;
            if (!confirmed) {
                window.showLaminationMode(window.confirmedLaminationMode_);
            }
        }
    } ending{*this, confirmed};
    confirmedSender_.runSequence([&] {
        confirmedSender_.send(toLaminated ? "Lamin1" : "Lamin0", wait);
        confirmedSender_.send(command("SH_S", impulseText(v.SH_S - 2 * shift, v.Qty_Imp_mm)), wait);
        confirmedSender_.send(
            command("head_DELTA", impulseText(v.head_DELTA - shift, v.Qty_Imp_mm)), wait);
        confirmedSender_.send(command("STP_OUT", impulseText(v.STP_OUT + shift, v.Qty_Imp_mm)),
                              wait);
        confirmed = true;
    });
    if (!confirmed) {
        return;
    }
    confirmedLaminationMode_ = target;
    state_.eventLog.append(toLaminated ? "IMPORT lam!!!" : "IMPORT White!!!");
}

void TForm1::showLaminationMode(int mode) {
    state_.laminationMode = mode;
    Button_Lamin->setText(mode == 1 ? ru("Ламинация") : ru("Белый"));
    setLaminCaptionColour(mode == 1 ? kLime : kDesktopColour);
}

void TForm1::Timer2Timer() {
    if (state_.laminationMode == 1) {
        setLaminCaptionColour(laminCaptionColour_ == kLime ? kNavy : kLime);
    }
}

// During start-up only: the first state report of a controller starts one settings push.
void TForm1::Timer1Timer() {
    if (state_.autoPushState == 1) {
        state_.autoPushState = 10;
        Speed_Imp_full_setClick();
    }
}

void TForm1::Timer3Timer() {
    pumpingDelay(500);
    Timer3->stop();
    Speed_Imp_full_setClick();
    Timer3->stop();
}

void TForm1::Speed_Imp_full_setClick() {
    Timer3->stop();
    runSettingsPush(confirmedSender_, state_);
}

// The handle delta goes to the controller and into the INI file.
void TForm1::But_R_DELTAClick() {
    const std::string text = trimmed(toCp1251(E_R_DELTA->text()));
    ComPort.SendText(command("R_DELTA", impulseTextOf(text, state_.variables.Qty_Imp_mm)));
    state_.iniFile().write("Main", "R_DELTA", text);
}

void TForm1::Button1Click() {
    const std::string text = trimmed(toCp1251(Edit8->text()));
    ComPort.SendText(command("R_POS", impulseTextOf(text, state_.variables.Qty_Imp_mm)));
    Edit8->clear();
    Edit8->setFocus();
}

void TForm1::setSettingsWindow(TSet_Form* window) {
    settingsWindow_ = window;
    connect(window, &TSet_Form::portOpenCloseRequested, this, &TForm1::OpenClosePortClick);
    connect(window, &TSet_Form::portSetupRequested, this, &TForm1::PortSetupClick);
    connect(window, &TSet_Form::portSettingsLoadRequested, this, &TForm1::LoadPortSettingsClick);
    connect(window, &TSet_Form::portSettingsStoreRequested, this, &TForm1::StorePortSettingsClick);
}

void TForm1::OpenClosePortClick() {
    ComPort.Connected() ? ComPort.ClosePort() : ComPort.OpenPort();
}

void TForm1::PortSetupClick() {
    RunSetupDialog(ComPort);
}

// The port settings the workstation keeps beside the console (in its registry on Windows).
constexpr const char* kPortSettingsLocation = "HKEY_LOCAL_MACHINE\\Software\\Tavor";

void TForm1::LoadPortSettingsClick() {
    ComPort.RestoreSettings(stRegistry, kPortSettingsLocation);
}

void TForm1::StorePortSettingsClick() {
    ComPort.SaveSettings(stRegistry, kPortSettingsLocation);
}

// Loads a job file from the Job folder of the current directory.
void TForm1::N2Click() {
    QFileDialog OpenDialog1(
        this, QString(), QString::fromStdString(std::filesystem::current_path().string() + "/Job"),
        QStringLiteral("*.kv (*.kv)"));
    OpenDialog1.setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1.setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1.setFileMode(QFileDialog::ExistingFile);
    if (OpenDialog1.exec() != QDialog::Accepted || OpenDialog1.selectedFiles().isEmpty()) {
        return;
    }
    const std::string path = OpenDialog1.selectedFiles().front().toStdString();
    const WaitCursor busy;  // the import runs without pumping: the window is busy until it ends
    importJobFile(IBDatabase1, path, state_.variables.L_BarCode, std::time(nullptr));
}

// The settings gate: the settings window opens for the password in `pwd`, compared exactly.
void TForm1::N4Click() {
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("PasswordBox"));
    dialog.setWindowTitle(ru("Ввод пароля"));
    dialog.setLabelText(ru("Пароль"));
    dialog.setTextEchoMode(QLineEdit::Normal);
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        edit->setMaxLength(255);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (toCp1251(dialog.textValue()) == state_.variables.pwd) {
        if (settingsWindow_ != nullptr) {
            settingsWindow_->show();
            settingsWindow_->raise();
        }
        return;
    }
    QMessageBox::warning(this, QStringLiteral("Warning"), ru("Не вырный пароль!"));
}

void TForm1::closeEvent(QCloseEvent* event) {
    confirmedSender_.cancelAll();  // an unacknowledged command must not keep the program alive
    if (!shutDown_) {
        shutDown_ = true;
        FormClose();
    }
    event->accept();
}

void TForm1::FormClose() {
    // Ask the controller for its count and give the answer time to reach the counter before
    // it is saved. Without a line (the port never opened) the counter is saved as it stands.
    try {
        ComPort.SendText("GET_ALL");
    } catch (const std::exception& error) {
        std::cerr << "velkor: at shutdown the controller could not be asked for its count: "
                  << cp1251ToUtf8(error.what()) << "\n";
    }
    pumpingDelay(200);
    // A label that holds no known count (start-up stopped before reading the saved one, or the
    // text of a missing entry) is never written over the saved one.
    if (state_.counterSaving && state_.counterKnown) {
        const std::string counter = trimmed(toCp1251(Label_CNT->text()));
        try {
            state_.iniFile().write("Main", "CNT", counter);
        } catch (const std::exception& error) {
            // The program ends all the same (a full disk, a read-only folder): nobody may have
            // to click. The count is kept where a service person finds it.
            const std::string message =
                "velkor: the counter " + counter + " could not be saved: " + error.what();
            std::cerr << cp1251ToUtf8(message) << "\n";
            journalLine(message);
            return;
        }
    }
    if (!state_.startupDirectory.empty()) {
        state_.runMarker().end();
    }
}

// The last run here was killed or crashed (the power went, perhaps in the middle of an import):
// the service person is told, and for the embedded database how to check it.
void TForm1::noteAnUncleanEnd(const std::string& databaseString) {
    char startedAt[32];
    const std::tm now = localNow();
    std::strftime(startedAt, sizeof startedAt, "%Y-%m-%d %H:%M:%S", &now);
    std::optional<std::string> earlier;
    try {
        earlier = state_.runMarker().begin(startedAt);
    } catch (const std::exception& error) {
        // A start-up directory the console cannot write to shows soon enough (Morvel.INI);
        // the console still starts.
        state_.eventLog.append(error.what());
        return;
    }
    if (!earlier) {
        return;
    }
    std::string line =
        cp1251("Прошлый запуск консоли (начат ") + *earlier + cp1251(") завершился аварийно");
    if (!options_.databaseString) {
        line += cp1251("; проверьте базу, закрыв консоль: velkor-checkdb ") +
                utf8ToCp1251(databaseString);
    }
    state_.eventLog.append(line);
}

void TForm1::SpeedButton3Click() {
    exportEventLog(state_.eventLog.lines(), state_.startupDirectory, localNow());
}

}  // namespace velkor
