#include "HistoryWindow.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>

#include "Controls.h"
#include "ErrorBox.h"
#include "ReportTable.h"
#include "SettingControls.h"
#include "Text.h"

namespace velkor {
namespace {

std::string timeText(const QDateTimeEdit& edit) {
    return edit.dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

QDateTimeEdit* timeEdit(const char* name, const QDateTime& shown) {
    auto* edit = named(new QDateTimeEdit(shown), name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    return edit;
}

}  // namespace

HistoryWindow::HistoryWindow(std::string databaseString, std::string folder, QWidget* parent)
    : QWidget(parent, Qt::Window),
      connection_(std::move(databaseString), {"SETTINGSHISTORY"}),
      folder_(std::move(folder)) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(ru("История настроек"));
    buildControls();
    connect(Button_Show, &QPushButton::clicked, this, guarded([this] { refresh(); }));
    connect(Edit_Workstation, &QLineEdit::returnPressed, this, guarded([this] { refresh(); }));
    connect(Button_Export, &QPushButton::clicked, this, guarded([this] {
                if (const QString path = askCsvPath(this, folder_, "settings-history.csv");
                    !path.isEmpty()) {
                    exportTo(path);
                }
            }));
}

void HistoryWindow::buildControls() {
    // Each parameter by its key, the one the rows carry, with its caption to find it by.
    Combo_Parameter = named(new QComboBox, "Combo_Parameter");
    Combo_Parameter->addItem(ru("Все"));
    for (const SettingControl& row : settingControls()) {
        const QString key = QString::fromLatin1(row.parameter->databaseKey());
        Combo_Parameter->addItem(key + QStringLiteral(" — ") + ru(row.caption), key);
    }
    Edit_Workstation = named(new QLineEdit, "Edit_Workstation");
    const QDateTime now = QDateTime::currentDateTime();
    Date_From = timeEdit("Date_From", QDateTime(now.date().addDays(-7), QTime(0, 0)));
    Date_To = timeEdit("Date_To", QDateTime(now.date().addDays(1), QTime(0, 0)));
    Date_Moment = timeEdit("Date_Moment", now);
    Button_Show = named(new QPushButton(ru("Показать")), "Button_Show");
    Button_Export = named(new QPushButton(ru("Экспорт в CSV")), "Button_Export");
    Label_Summary = named(new QLabel, "Label_Summary");
    Table_History = reportTable("Table_History", historyHeadings());
    static constexpr std::array<const char*, 2> kValueHeadings{"Параметр", "Значение"};
    Table_Values = reportTable("Table_Values", kValueHeadings);

    auto* filters = new QHBoxLayout;
    for (const auto& [caption, control] :
         {std::pair<const char*, QWidget*>{"Параметр", Combo_Parameter},
          {"Рабочее место", Edit_Workstation},
          {"с", Date_From},
          {"до", Date_To}}) {
        filters->addWidget(new QLabel(ru(caption)));
        filters->addWidget(control);
        filters->addSpacing(8);
    }
    filters->addWidget(Button_Show);
    filters->addStretch();
    filters->addWidget(Button_Export);

    auto* values = new QWidget;
    auto* valuesPage = new QVBoxLayout(values);
    valuesPage->setContentsMargins(0, 0, 0, 0);
    auto* moment = new QHBoxLayout;
    moment->addWidget(new QLabel(ru("Значения на момент")));
    moment->addWidget(Date_Moment);
    valuesPage->addLayout(moment);
    valuesPage->addWidget(Table_Values, 1);

    auto* lower = new QSplitter;
    lower->addWidget(Table_History);
    lower->addWidget(values);
    lower->setStretchFactor(0, 3);
    auto* page = new QVBoxLayout(this);
    page->addLayout(filters);
    page->addWidget(Label_Summary);
    page->addWidget(lower, 1);
    fitOnScreen(*this, QSize(1180, 640));
}

// Each showing starts at the values as they are now.
void HistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Date_Moment->setDateTime(QDateTime::currentDateTime());
    guarded([this] { refresh(); })();
}

HistoryFilter HistoryWindow::filter() const {
    HistoryFilter chosen;
    chosen.from = timeText(*Date_From);
    chosen.to = timeText(*Date_To);
    if (const QVariant key = Combo_Parameter->currentData(); key.isValid()) {
        chosen.subject = key.toString().toStdString();
    }
    if (const std::string workstation = trimmed(toCp1251(Edit_Workstation->text()));
        !workstation.empty()) {
        chosen.workstation = workstation;
    }
    return chosen;
}

void HistoryWindow::refresh() {
    JobDatabase& database = connection_.database();
    lines_ = readHistoryLines(database, filter(), kRowsShown);
    std::vector<std::string> keys;
    for (const SettingControl& row : settingControls()) {
        keys.push_back(row.parameter->databaseKey());
    }
    const auto values = settingsAt(database, timeText(*Date_Moment), keys);

    Table_History->setRowCount(static_cast<int>(lines_.size()));
    for (std::size_t row = 0; row < lines_.size(); ++row) {
        showReportRow(*Table_History, static_cast<int>(row), lines_[row].columns);
    }
    Table_History->resizeColumnsToContents();
    Label_Summary->setText(ru("Записей: ") + QString::number(lines_.size()) +
                           (lines_.size() == kRowsShown
                                ? ru(" (последние; уточните отбор, чтобы увидеть прочие)")
                                : QString()));
    Table_Values->setRowCount(static_cast<int>(values.size()));
    for (std::size_t row = 0; row < values.size(); ++row) {
        showReportRow(*Table_Values, static_cast<int>(row),
                      std::array{values[row].first, values[row].second});
    }
    Table_Values->resizeColumnsToContents();
}

void HistoryWindow::exportTo(const QString& path) const {
    writeCsvFile(path.toStdString(),
                 [this](std::ostream& out) { writeCsv(out, historyHeadings(), lines_, true); });
}

}  // namespace velkor
