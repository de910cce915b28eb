#include "ProductionWindow.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>
#include <array>

#include "Controls.h"
#include "ErrorBox.h"
#include "JobDatabase.h"
#include "ProductionReport.h"
#include "ReportTable.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// The day, or one of its three shifts, in hours from the day's midnight.
struct Shift {
    const char* name;
    int firstHour;
    int hours;
};
constexpr std::array<Shift, 4> kShifts{{
    {"Весь день", 0, 24},
    {"1 смена, 06:00–14:00", 6, 8},
    {"2 смена, 14:00–22:00", 14, 8},
    {"3 смена, 22:00–06:00", 22, 8},
}};

std::string timeText(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

std::optional<std::string> textOf(const QLineEdit& edit) {
    const std::string text = trimmed(toCp1251(edit.text()));
    return text.empty() ? std::nullopt : std::optional(text);
}

}  // namespace

ProductionWindow::ProductionWindow(std::string databaseString, std::string folder, QWidget* parent)
    : QWidget(parent, Qt::Window),
      connection_(std::move(databaseString), {"PRODUCTION"}),
      folder_(std::move(folder)) {
    setObjectName(QStringLiteral("ProductionWindow"));
    setWindowTitle(ru("Производство"));
    buildControls();
    connect(Button_Show, &QPushButton::clicked, this, guarded([this] { refresh(); }));
    for (QLineEdit* edit : {Edit_Batch, Edit_Barcode, Edit_Workstation}) {
        connect(edit, &QLineEdit::returnPressed, this, guarded([this] { refresh(); }));
    }
    connect(Button_Export, &QPushButton::clicked, this, guarded([this] { ExportClick(); }));
}

ProductionWindow::~ProductionWindow() = default;

void ProductionWindow::buildControls() {
    Date_Day = named(new QDateEdit(QDate::currentDate()), "Date_Day");
    Date_Day->setCalendarPopup(true);
    Date_Day->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    Combo_Shift = named(new QComboBox, "Combo_Shift");
    for (const Shift& shift : kShifts) {
        Combo_Shift->addItem(ru(shift.name));
    }
    Edit_Batch = named(new QLineEdit, "Edit_Batch");
    Edit_Barcode = named(new QLineEdit, "Edit_Barcode");
    Edit_Workstation = named(new QLineEdit, "Edit_Workstation");
    Button_Show = named(new QPushButton(ru("Показать")), "Button_Show");
    Button_Export = named(new QPushButton(ru("Экспорт в CSV")), "Button_Export");
    Label_Summary = named(new QLabel, "Label_Summary");

    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setTitle(ru("Деталей в час"));
    Chart_Hours = named(new QChartView(chart), "Chart_Hours");
    Chart_Hours->setMinimumHeight(220);

    Table_Records = reportTable("Table_Records", productionHeadings());
    static constexpr std::array<const char*, 3> kBatchHeadings{"Партия", "Сделано", "Всего"};
    Table_Batches = reportTable("Table_Batches", kBatchHeadings);
    Table_Batches->setMinimumWidth(260);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(ru("День")));
    filters->addWidget(Date_Day);
    filters->addWidget(Combo_Shift);
    for (const auto& [caption, edit] :
         {std::pair{"Партия", Edit_Batch}, std::pair{"Штрихкод", Edit_Barcode},
          std::pair{"Рабочее место", Edit_Workstation}}) {
        filters->addSpacing(8);
        filters->addWidget(new QLabel(ru(caption)));
        filters->addWidget(edit);
    }
    filters->addWidget(Button_Show);
    filters->addStretch();
    filters->addWidget(Button_Export);

    auto* lower = new QSplitter;
    lower->addWidget(Table_Records);
    lower->addWidget(Table_Batches);
    lower->setStretchFactor(0, 3);
    auto* page = new QVBoxLayout(this);
    page->addLayout(filters);
    page->addWidget(Chart_Hours);
    page->addWidget(Label_Summary);
    page->addWidget(lower, 1);
    fitOnScreen(*this, QSize(1100, 720));
}

void ProductionWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    guarded([this] { refresh(); })();
}

ProductionWindow::Hours ProductionWindow::chosenHours() const {
    const Shift& shift =
        kShifts.at(static_cast<std::size_t>(std::max(0, Combo_Shift->currentIndex())));
    return {QDateTime(Date_Day->date(), QTime(0, 0)).addSecs(qint64{shift.firstHour} * 3600),
            shift.hours};
}

ProductionFilter ProductionWindow::filter() const {
    const Hours hours = chosenHours();
    ProductionFilter chosen;
    chosen.from = timeText(hours.first);
    chosen.to = timeText(hours.first.addSecs(qint64{hours.count} * 3600));
    chosen.batch = textOf(*Edit_Batch);
    chosen.workstation = textOf(*Edit_Workstation);
    if (const auto barcode = textOf(*Edit_Barcode)) {
        bool number = false;
        chosen.barcode = QString::fromLatin1(*barcode).toLongLong(&number);
        if (!number) {
            throw VelkorError("'" + *barcode + "' is not a valid integer value");
        }
    }
    return chosen;
}

void ProductionWindow::refresh() {
    const ProductionFilter chosen = filter();
    JobDatabase& database = connection_.database();
    lines_ = readProductionLines(database, chosen, kRecordsShown);
    showHours(piecesPerHour(database, chosen.from.value(), chosen.to.value()));
    showRecords();
    showBatches(readBatchLines(database, chosen));
}

// One bar an hour of the day or shift, the hours without pieces included.
void ProductionWindow::showHours(const std::vector<std::pair<std::string, std::int64_t>>& hours) {
    const Hours chosen = chosenHours();
    auto* pieces = new QBarSet(ru("Деталей"));
    QStringList labels;
    std::int64_t most = 0;
    std::int64_t all = 0;
    for (int hour = 0; hour < chosen.count; ++hour) {
        const QDateTime start = chosen.first.addSecs(qint64{hour} * 3600);
        const std::string key = start.toString(QStringLiteral("yyyy-MM-dd HH")).toStdString();
        std::int64_t count = 0;
        for (const auto& [at, counted] : hours) {
            if (at == key) {
                count = counted;
            }
        }
        *pieces << static_cast<qreal>(count);
        labels << start.toString(QStringLiteral("HH"));
        most = std::max(most, count);
        all += count;
    }
    QChart* chart = Chart_Hours->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    auto* series = new QBarSeries;
    series->append(pieces);
    chart->addSeries(series);
    auto* hoursAxis = new QBarCategoryAxis;
    hoursAxis->append(labels);
    chart->addAxis(hoursAxis, Qt::AlignBottom);
    series->attachAxis(hoursAxis);
    auto* countAxis = new QValueAxis;
    countAxis->setRange(0, static_cast<qreal>(std::max<std::int64_t>(most, 1)));
    countAxis->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(countAxis, Qt::AlignLeft);
    series->attachAxis(countAxis);
    chart->setTitle(ru("Деталей в час; всего за время: ") + QString::number(all));
}

void ProductionWindow::showRecords() {
    Table_Records->setRowCount(static_cast<int>(lines_.size()));
    // Newest on top.
    for (std::size_t row = 0; row < lines_.size(); ++row) {
        showReportRow(*Table_Records, static_cast<int>(row),
                      lines_[lines_.size() - 1 - row].columns);
    }
    Table_Records->resizeColumnsToContents();
    Label_Summary->setText(ru("Записей: ") + QString::number(lines_.size()) +
                           (lines_.size() == kRecordsShown
                                ? ru(" (последние; уточните отбор, чтобы увидеть прочие)")
                                : QString()));
}

void ProductionWindow::showBatches(const std::vector<BatchLine>& batches) {
    Table_Batches->setRowCount(static_cast<int>(batches.size()));
    for (std::size_t row = 0; row < batches.size(); ++row) {
        const BatchLine& batch = batches[row];
        const int at = static_cast<int>(row);
        Table_Batches->setItem(at, 0, new QTableWidgetItem(fromCp1251(batch.batch)));
        Table_Batches->setItem(at, 1, new QTableWidgetItem(QString::number(batch.done)));
        Table_Batches->setItem(at, 2, new QTableWidgetItem(QString::number(batch.total)));
    }
    Table_Batches->resizeColumnsToContents();
}

void ProductionWindow::exportTo(const QString& path) const {
    writeCsvFile(path.toStdString(),
                 [this](std::ostream& out) { writeCsv(out, productionHeadings(), lines_, true); });
}

void ProductionWindow::ExportClick() {
    if (const QString path = askCsvPath(this, folder_, "production.csv"); !path.isEmpty()) {
        exportTo(path);
    }
}

}  // namespace velkor
