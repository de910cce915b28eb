#include "ComMainForm.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <filesystem>

#include "ControllerProtocol.h"
#include "Controls.h"
#include "ElidedLabel.h"
#include "ErrorBox.h"
#include "JpegImage.h"
#include "PositionDispatch.h"
#include "Text.h"
#include "Version.h"

namespace velkor {
namespace {

// Far more than any barcode; a scanner or a stuck key typing on cannot flood the window.
constexpr int kLongestScan = 40;

// Colours of the profile-mode caption: the workstation's desktop background (a dark teal) in
// white mode; lime and navy, blinking, in laminated mode.
const QColor kDesktopColour(0x00, 0x80, 0x80);
const QColor kLime(0, 255, 0);
const QColor kNavy(0, 0, 128);

QFont sized(QFont font, int pointSize, bool bold) {
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace

TForm1::TForm1(Console& console, QWidget* parent) : QMainWindow(parent), console_(console) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velkor v.4  11.08.2021 "));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velkor.svg")));  // every window's
    buildControls();
    buildMenu();
    bindConsole();
    connectHandlers();
    keepTheScanner();
    recordShownMessages();
    FormCreate();
    Edit_BarCode->setFocus();
}

// The scanner's codes belong in the barcode field; the log, read-only, never keeps the keyboard
// (its text can still be selected and copied with the mouse).
// Every box the operator sees is on record in the journal.
void TForm1::recordShownMessages() {
    setShownMessageObserver(
        [this](const std::string& message) { console_.recordShownMessage(message); });
}

void TForm1::keepTheScanner() {
    Memo->setFocusPolicy(Qt::NoFocus);
    scannerInput_ = std::make_unique<ScannerInput>(
        *this, *Edit_BarCode, std::vector<QWidget*>{Edit8},
        [this](const QString& scan) { guarded([&] { console_.scan(toCp1251(scan)); })(); },
        console_.clock());
}

TForm1::~TForm1() {
    setShownMessageObserver({});
}

// Every handler is entered through `guarded`: what it raises is shown there, in the standard
// error box, and the window goes on.
void TForm1::connectHandlers() {
    // The laminated mode's caption blinks on the console's clock.
    Timer2 = console_.clock().timer("Timer2", std::chrono::milliseconds(500),
                                    guarded([this] { Timer2Timer(); }));
    Timer2->start();

    const std::pair<QPushButton*, std::function<void()>> clicks[] = {
        {SpeedButton2, [this] { console_.askForState(); }},
        {Speed_step, [this] { console_.askForStep(); }},
        {SpeedButton4, [this] { console_.clearLog(); }},
        {SpeedButton8, [this] { console_.askForCount(); }},
        {Button_Lamin, [this] { console_.toggleLaminationMode(); }},
        {Speed_Imp_full_set, [this] { console_.pushSettings(); }},
        {But_R_DELTA, [this] { console_.sendHandleDelta(toCp1251(E_R_DELTA->text())); }},
        {Button1, [this] { Button1Click(); }},
        {SpeedButton1, [this] { SpeedButton1Click(); }},
        {SpeedButton3, [this] { console_.exportLog(); }},
    };
    for (const auto& [button, handler] : clicks) {
        connect(button, &QPushButton::clicked, this, guarded(handler));
    }
    connect(Edit8, &QLineEdit::returnPressed, this, guarded([this] { Button1Click(); }));
    // The scanner types the barcode and ends it with Enter.
    connect(Edit_BarCode, &QLineEdit::returnPressed, this,
            guarded([this] { Edit_BarCodeKeyPress(); }));
    connect(N2, &QAction::triggered, this, guarded([this] { N2Click(); }));
    connect(ExportLogItem, &QAction::triggered, this, guarded([this] { console_.exportLog(); }));
    connect(SettingsItem, &QAction::triggered, this, guarded([this] { N4Click(); }));
    connect(ProductionItem, &QAction::triggered, this, guarded([this] {
                if (!productionWindow_) {
                    productionWindow_ = std::make_unique<ProductionWindow>(
                        console_.databaseString(), console_.startUpState().directory().path);
                }
                productionWindow_->show();
                productionWindow_->raise();
            }));
    connect(AboutItem, &QAction::triggered, this, guarded([this] { AboutItemClick(); }));
}

void TForm1::buildControls() {
    // On a small screen, or a large scale factor, the window is as large as the screen allows
    // and its contents scroll; the status bar stays in sight.
    auto* central = new QWidget;
    auto* scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);  // a click beside a control leaves the keyboard be
    scroller->setWidgetResizable(true);
    scroller->setWidget(central);
    setCentralWidget(scroller);
    fitOnScreen(*this, QSize(900, 640));

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
    // The edit's own text only: its context menu keeps the normal colours.
    Edit_BarCode->setStyleSheet(QStringLiteral("QLineEdit { color: red; }"));
    // The labels beside the scan field keep their widths, so that the field keeps its own
    // whatever they say.
    Label_Bar_Code = named(new ElidedLabel(QStringLiteral("0"), 320), "Label_Bar_Code");
    Label_Bar_Code->setFont(sized(font(), 12, false));
    Label_Bar_Code->setFixedWidth(
        QFontMetrics(Label_Bar_Code->font()).horizontalAdvance(QStringLiteral("0000000000000")));
    Label_Batch = named(new ElidedLabel(QString(), 360), "Label_Batch");
    Label_Batch->setFont(sized(font(), 12, true));
    Label_Batch->setFixedWidth(360);

    SpeedButton2 = speedButton("SpeedButton2", ru("Показать"));
    Speed_step = speedButton("Speed_step", QStringLiteral("STEP"));
    SpeedButton4 = speedButton("SpeedButton4", ru("Очистить"));
    Speed_Imp_full_set = speedButton("Speed_Imp_full_set", ru("Иморт настроек"));
    SpeedButton8 = speedButton("SpeedButton8", ru("Количество заготовок"));
    SpeedButton8->hide();
    SpeedButton3 = speedButton("SpeedButton3", QStringLiteral("Save Log"));
    SpeedButton3->hide();

    Memo = named(new QPlainTextEdit, "Memo");
    Memo->setReadOnly(true);
    Memo->setUndoRedoEnabled(false);  // lines the log drops must not live on as undo steps
    // The oldest lines go as new ones come, as the event log lets them go; Qt's own limit
    // keeps the view's memory flat (removing lines through a cursor would not).
    Memo->setMaximumBlockCount(static_cast<int>(console_.eventLog().limit()));
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
    ProgressBar_Load = named(new QProgressBar, "ProgressBar_Load");
    ProgressBar_Load->setRange(0, 100);
    ProgressBar_Load->setMinimumWidth(360);
    ProgressBar_Load->hide();
    // A database that start-up could not reach, until it answers.
    Label_Database = named(new ElidedLabel(QString(), 560), "Label_Database");
    Label_Database->setFont(sized(font(), 12, true));
    Label_Database->setStyleSheet(QStringLiteral("color: white; background: #b00000;"));
    Label_Database->hide();
    // A piece scanned again: said where the operator looks, in a colour that stands out, and
    // with no box that the scanner's next Enter would close unread.
    Label_Repeat = named(new ElidedLabel(QString(), 760), "Label_Repeat");
    Label_Repeat->setFont(sized(font(), 12, true));
    Label_Repeat->setStyleSheet(QStringLiteral("color: black; background: #ffb000;"));
    Label_Repeat->hide();
    statusBar()->addWidget(Label_Repeat, 1);
    statusBar()->addPermanentWidget(ProgressBar_Load);
    statusBar()->addPermanentWidget(Label_Database);
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
    scan->addSpacing(16);
    scan->addWidget(Label_Batch);

    // What the console is busy with: scans waiting their turn, a command not acknowledged.
    Label_Status = named(new ElidedLabel(QString(), 520), "Label_Status");
    Label_Status->setFont(sized(font(), 11, true));
    Label_Status->setStyleSheet(QStringLiteral("color: #b00000;"));

    auto* commands = new QHBoxLayout;
    for (auto* button :
         {SpeedButton2, Speed_step, SpeedButton4, Speed_Imp_full_set, SpeedButton8, SpeedButton3}) {
        commands->addWidget(button);
    }
    commands->addSpacing(12);
    commands->addWidget(Label_Status, 1);

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
    ExportLogItem = named(file->addAction(QStringLiteral("Export log")), "N3");
    SettingsItem = named(menuBar()->addAction(ru("Настройки")), "N4");
    ProductionItem = named(menuBar()->addAction(ru("Производство")), "N6");
    AboutItem = named(menuBar()->addAction(ru("О программе")), "N5");
}

// What a support call needs first: which program and which version.
// What a support call asks for, in text that can be selected and copied.
void TForm1::AboutItemClick() {
    const QString text =
        ru("Пульт оператора Velkor QN704\nверсия ") + QString::fromLatin1(kVersion) +
        ru(", сборка ") + QString::fromLatin1(kBuildDate) + ru("\nQt ") +
        QString::fromLatin1(qVersion()) + ru("\nFirebird ") +
        QString::fromStdString(Console::databaseClientVersion()) + ru("\nРабочая папка: ") +
        QString::fromStdString(console_.startUpState().directory().path) + ru("\nБаза данных: ") +
        QString::fromStdString(console_.databaseString());
    QMessageBox about(QMessageBox::Information, ru("О программе"), text, QMessageBox::Ok, this);
    about.setObjectName(QStringLiteral("AboutBox"));
    about.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const QAbstractButton* copy = about.addButton(ru("Копировать"), QMessageBox::ActionRole);
    about.exec();
    if (about.clickedButton() == copy) {
        QGuiApplication::clipboard()->setText(text);
    }
}

// The window shows what the console holds as it changes: the event log (at most its newest
// lines; the log says how many went), the counter, the line and the profile mode.
void TForm1::bindConsole() {
    logNoticeDue_ = console_.clock().timer("LogNotice", std::chrono::milliseconds(250), [this] {
        logNoticeDue_->stop();
        if (!logNotice_.empty()) {
            Label_LogDropped->setText(fromCp1251(logNotice_));
            Label_LogDropped->show();
        }
    });
    console_.setLogView({
        [this](const std::string& line) { showLogLine(line); },
        [this] {
            pendingLogLines_.clear();
            Memo->clear();
            logNotice_.clear();
            Label_LogDropped->hide();
        },
        [this](const std::string& notice) { showLogNotice(notice); },
    });
    connect(&console_, &Console::startUpBegan, this,
            [this] { setWindowTitle(windowTitle() + QStringLiteral(" Production by Morvel")); });
    connect(&console_, &Console::counterChanged, this,
            [this] { Label_CNT->setText(fromCp1251(console_.productionCounter().text())); });
    connect(&console_, &Console::lineStatusChanged, this, &TForm1::showLineStatus);
    connect(&console_, &Console::databaseStatusChanged, this, &TForm1::showDatabaseStatus);
    connect(&console_, &Console::laminationModeShown, this, &TForm1::showLaminationMode);
    showLineStatus();
    bindScans();
    bindLoads();
}

// Shown a few times a second at most: a flood of packets must not wait for it.
void TForm1::showLogNotice(const std::string& notice) {
    logNotice_ = notice;
    if (!logNoticeDue_->active()) {
        logNoticeDue_->start();
    }
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
        // A long line would leave the view scrolled to its end: lines are read from the left.
        Memo->horizontalScrollBar()->setValue(0);
    }
}

void TForm1::showDatabaseStatus() {
    Label_Database->setVisible(console_.databaseTrouble().has_value());
    Label_Database->setText(
        fromCp1251(cp1251("Нет связи с базой ") + utf8ToCp1251(console_.databaseString())));
    Label_Database->setToolTip(fromCp1251(console_.databaseTrouble().value_or("")));
}

void TForm1::showLineStatus() {
    const TLineStatus status = console_.lineStatus();
    std::string text = cp1251("Порт ") + console_.portName() + ": " + console_.lineStatusText();
    if (status == TLineStatus::Lost && !console_.lineTrouble().empty()) {
        text += " (" + console_.lineTrouble() + ")";
    }
    Label_Line->setText(fromCp1251(text));
    Label_Line->setStyleSheet(status == TLineStatus::Open
                                  ? QString()
                                  : QStringLiteral("color: white; background: #b00000;"));
}

// Start-up stops at the failing step; the window still opens and works with whatever was set
// so far. Clearing the controller's count is its last step.
void TForm1::FormCreate() {
    bool started = false;
    try {
        console_.startUp();
        started = true;
    } catch (...) {
        reportException(std::current_exception());
    }
    ListBoxPort->clear();
    ListBoxPort->addItems(console_.listedPorts());
    showDatabaseStatus();
    if (const auto& trouble = console_.databaseTrouble()) {
        showErrorBox(*trouble);
    }
    if (!started) {
        return;
    }
    if (const auto trouble = console_.clearControllerCount()) {
        noteShownMessage(*trouble);
        QMessageBox::information(this, QString::fromLatin1(kApplicationTitle),
                                 fromCp1251(*trouble));
    }
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Esc ends a sequence of confirmed sends that waits for an acknowledgement.
    if (event->key() == Qt::Key_Escape && console_.endWaitingSequence()) {
        return;
    }
    QMainWindow::keyPressEvent(event);
}

QLineEdit* TForm1::positionField(int index) const {
    const std::array<QLineEdit*, kPositionFields> fields = {Edit1, Edit2, Edit3, Edit4,
                                                            Edit5, Edit6, Edit7, Edit8};
    return fields[static_cast<std::size_t>(index)];
}

// A scan: the barcode field is ready for the next one at once; the console looks the piece up
// and sends its positions in its turn.
void TForm1::Edit_BarCodeKeyPress() {
    const std::string scan = toCp1251(Edit_BarCode->text());
    Edit_BarCode->clear();
    console_.scan(scan);
}

// "Import size" takes no focus: the keyboard goes back to the barcode field, where the
// scanner types, also after a hand correction of a position field.
void TForm1::SpeedButton1Click() {
    Edit_BarCode->setFocus();
    console_.sendPositions();
}

// The position fields hand every change down to the console, which reads them when a dispatch
// sends them; the status line follows what the console is busy with.
void TForm1::bindScans() {
    for (int i = 0; i < kPositionFields; ++i) {
        connect(positionField(i), &QLineEdit::textChanged, this,
                [this, i](const QString& text) { console_.editPositionField(i, toCp1251(text)); });
    }
    connect(&console_, &Console::scanShown, this, &TForm1::showScan);
    connect(&console_, &Console::pieceNoticed, this, &TForm1::showPieceNotice);
    connect(&console_, &Console::activityChanged, this,
            [this] { Label_Status->setText(fromCp1251(console_.activity())); });
}

// A scan's turn: it shows, the fields take its positions (up to eight).
void TForm1::showScan(const ShownScan& shown) {
    Label_Bar_Code->setText(fromCp1251(shown.scan));
    for (int i = 0; i < kPositionFields; ++i) {
        positionField(i)->setText(fromCp1251(shown.fields[static_cast<std::size_t>(i)]));
    }
    statusBar()->clearMessage();
    Label_Repeat->hide();
    if (shown.noPositions) {
        // Said where the operator looks, without a box that would stop the next scan.
        statusBar()->showMessage(
            ru("Деталь ") + fromCp1251(shown.scan) + ru(" не найдена: позиций нет"), 30000);
    }
}

// What the record found comes a moment after the scan showed: a warning that belongs to an
// earlier scan is not shown over a later one (the event log has it).
void TForm1::showPieceNotice(const PieceNotice& notice) {
    if (notice.progress) {
        Label_Batch->setText(ru("Партия ") + fromCp1251(notice.progress->batch) +
                             QStringLiteral(": ") + QString::number(notice.progress->done) +
                             ru(" из ") + QString::number(notice.progress->total) + ru(" деталей"));
    }
    if (notice.earlier && fromCp1251(notice.scan) == Label_Bar_Code->text()) {
        Label_Repeat->setText(fromCp1251(notice.scan) + ru(" уже обработана ") +
                              fromCp1251(notice.earlier->when) + ru(", рабочее место ") +
                              fromCp1251(notice.earlier->workstation));
        Label_Repeat->show();
    }
}

void TForm1::setLaminCaptionColour(const QColor& colour) {
    laminCaptionColour_ = colour;
    Button_Lamin->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
}

void TForm1::showLaminationMode(int mode) {
    Button_Lamin->setText(mode == 1 ? ru("Ламинация") : ru("Белый"));
    setLaminCaptionColour(mode == 1 ? kLime : kDesktopColour);
}

void TForm1::Timer2Timer() {
    if (console_.laminationMode() == 1) {
        setLaminCaptionColour(laminCaptionColour_ == kLime ? kNavy : kLime);
    }
}

void TForm1::Button1Click() {
    console_.sendHandlePosition(toCp1251(Edit8->text()));
    Edit8->clear();
    Edit8->setFocus();
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
    console_.importJob(OpenDialog1.selectedFiles().front().toStdString());
}

// A load runs beside the window: the status bar shows how far it is, "Загрузить" waits for it,
// and a load that fails says why in the standard error box.
void TForm1::bindLoads() {
    connect(&console_, &Console::loadChanged, this, [this] {
        const JobLoad* load = console_.load();
        N2->setEnabled(load == nullptr);
        ProgressBar_Load->setVisible(load != nullptr);
        if (load == nullptr) {
            return;
        }
        const JobImportReport& progress = load->progress();
        ProgressBar_Load->setValue(
            progress.bytesTotal == 0
                ? 0
                : static_cast<int>(100 * progress.bytesRead / progress.bytesTotal));
        ProgressBar_Load->setFormat(
            ru("Загрузка ") +
            QString::fromStdString(std::filesystem::path(load->path()).filename().string()) +
            ru(": %p% (строк %1, деталей %2)").arg(progress.lines).arg(progress.pieces));
    });
    connect(&console_, &Console::loadEnded, this, [](const std::optional<std::string>& error) {
        if (error) {
            showErrorBox(*error);
        }
    });
}

// The settings gate: the settings window opens for the password in `pwd`, compared exactly.
void TForm1::N4Click() {
    console_.checkSettingsMayOpen();
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("PasswordBox"));
    dialog.setWindowTitle(ru("Ввод пароля"));
    dialog.setLabelText(ru("Пароль"));
    dialog.setTextEchoMode(QLineEdit::Password);  // the shop floor sees the screen
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        edit->setMaxLength(255);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (console_.tryPassword(toCp1251(dialog.textValue()))) {
        if (settingsWindow_ != nullptr) {
            settingsWindow_->show();
            settingsWindow_->raise();
        }
        return;
    }
    noteShownMessage(cp1251("Не вырный пароль!"));
    QMessageBox::warning(this, QStringLiteral("Warning"), ru("Не вырный пароль!"));
}

void TForm1::closeEvent(QCloseEvent* event) {
    console_.endAllSequences();  // an unacknowledged command must not keep the program alive
    console_.shutDown();
    event->accept();
    // The console's other windows go with it: one left open would keep the program running.
    for (QWidget* other :
         {settingsWindow_.data(), static_cast<QWidget*>(productionWindow_.get())}) {
        if (other != nullptr) {
            other->close();
        }
    }
}

}  // namespace velkor
