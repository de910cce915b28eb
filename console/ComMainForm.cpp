#include "ComMainForm.h"

#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "ControllerProtocol.h"
#include "ErrorBox.h"
#include "JpegImage.h"
#include "Numbers.h"
#include "PositionDispatch.h"
#include "PumpingDelay.h"
#include "Text.h"

namespace velkor {
namespace {

QString ru(const char* utf8) {
    return QString::fromUtf8(utf8);
}

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Speed buttons: clicking one never takes the keyboard focus from the barcode field.
QPushButton* speedButton(const char* name, const QString& caption) {
    auto* button = named(new QPushButton(caption), name);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QFont sized(QFont font, int pointSize, bool bold) {
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace

TForm1::TForm1(ConsoleOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
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
    Timer1->start();
    Timer2->start();

    FormCreate();
    Edit_BarCode->setFocus();
}

TForm1::~TForm1() = default;

void TForm1::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    resize(900, 640);

    Button_Lamin = named(new QPushButton(ru("Белый")), "Button_Lamin");
    Button_Lamin->setFlat(true);
    Button_Lamin->setFocusPolicy(Qt::NoFocus);
    Button_Lamin->setFont(sized(font(), 20, true));
    Button_Lamin->setMinimumSize(200, 56);
    // The desktop-background colour of the original workstation: a dark teal.
    Button_Lamin->setStyleSheet(QStringLiteral("color: #008080;"));

    Label7 = named(new QLabel(ru("Циклов:")), "Label7");
    Label7->setFont(sized(font(), 14, false));
    Label_CNT = named(new QLabel(QStringLiteral("0")), "Label_CNT");
    Label_CNT->setFont(sized(font(), 24, true));
    Label9 = named(new QLabel(ru("Кво :")), "Label9");
    Label8 = named(new QLabel(QStringLiteral("0")), "Label8");

    Edit_BarCode = named(new QLineEdit, "Edit_BarCode");
    Edit_BarCode->setFont(sized(font(), 20, true));
    Edit_BarCode->setStyleSheet(QStringLiteral("color: red;"));
    Label_Bar_Code = named(new QLabel(QStringLiteral("0")), "Label_Bar_Code");
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

    auto* work = new QHBoxLayout;
    work->addWidget(Memo, 1);
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
    ExportLogItem = named(file->addAction(QStringLiteral("Export log")), "N3");
    connect(ExportLogItem, &QAction::triggered, this, &TForm1::SpeedButton3Click);
    SettingsItem = named(menuBar()->addAction(ru("Настройки")), "N4");
}

void TForm1::bindEventLog() {
    state_.eventLog.setObserver({
        [this](const std::string& line) { Memo->appendPlainText(fromCp1251(line)); },
        [this] { Memo->clear(); },
    });
}

void TForm1::configurePort() {
    // The controller's line: 115200 baud, 8 data bits, no parity, one stop bit, DTR on, RTS off,
    // no flow control, null bytes dropped.
    ComPort.SetPort("COM3");
    ComPort.SetBaudRate(br115200);
    ComPort.SetDataBits(dbEight);
    ComPort.Parity().SetBits(prNone);
    ComPort.SetStopBits(sbOneStopBit);
    ComPort.SetDiscardNull(true);
    ComPort.FlowControl().SetOutCTSFlow(false);
    ComPort.FlowControl().SetOutDSRFlow(false);
    ComPort.FlowControl().SetControlDTR(dtrEnable);
    ComPort.FlowControl().SetControlRTS(rtsDisable);
    ComPort.FlowControl().SetXonXoffOut(false);
    ComPort.FlowControl().SetXonXoffIn(false);
    ComPort.SetTriggersOnRxChar(false);

    // Replies come framed as "<" text ">".
    ComDataPacket1.Framer().SetStartString("<");
    ComDataPacket1.Framer().SetStopString(">");
    ComDataPacket1.Framer().OnPacket = [this](PacketFramer&, const std::string& packet) {
        ComDataPacket1Packet(packet);
    };
    ComDataPacket1.SetComPort(&ComPort);
}

void TForm1::ComDataPacket1Packet(const std::string& packet) {
    replyHandler_.handle(packet);
}

// A state report's count: shown, and saved at once, so that a crash or a power failure loses
// no count the controller has reported.
void TForm1::showCounter(const std::string& counter) {
    state_.counterKnown = true;
    if (toCp1251(Label_CNT->text()) == counter) {
        return;
    }
    Label_CNT->setText(fromCp1251(counter));
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
    setWindowTitle(windowTitle() + QStringLiteral(" Production by Morvel"));
    const std::string databaseString =
        options_.databaseString.value_or(state_.defaultDatabasePath());
    state_.eventLog.append(utf8ToCp1251(databaseString));
    IBDatabase1.connect(databaseString);
    loadMachineVariables(state_.variables, IBDatabase1.readVariables());
    probePorts();
    ComPort.ClosePort();
    ComPort.SetPort(state_.variables.Port);
    ComPort.OpenPort();
    Timer1->stop();
    Label_CNT->setText(fromCp1251(readConsoleIniEntry(state_.iniFile(), "MAIN", "CNT")));
    state_.counterBase = readInteger(toCp1251(Label_CNT->text()));
    state_.counterKnown = true;
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
    const std::vector<double> positions = IBDatabase1.readPiecePositions(barcodeOfScan(scan));
    for (std::size_t i = 0; i < positions.size() && i < kPositionFields; ++i) {
        positionField(static_cast<int>(i))->setText(fromCp1251(generalText(positions[i])));
    }
    SpeedButton1Click();
}

void TForm1::SpeedButton1Click() {
    dispatchPositions([this](int field) { return toCp1251(positionField(field)->text()); },
                      state_.variables, ComPort);
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
    // A label that holds no known count (start-up stopped before reading it, or the text of a
    // missing entry) is never written over the saved one.
    if (state_.counterKnown) {
        state_.iniFile().write("Main", "CNT", trimmed(toCp1251(Label_CNT->text())));
    }
}

void TForm1::SpeedButton3Click() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    exportEventLog(state_.eventLog.lines(), state_.startupDirectory, local);
}

}  // namespace velkor
