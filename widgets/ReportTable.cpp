#include "ReportTable.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QTableWidget>

#include "Controls.h"
#include "Text.h"

namespace velkor {

QTableWidget* reportTable(const char* name, std::span<const char* const> headings) {
    auto* table = named(new QTableWidget(0, static_cast<int>(headings.size())), name);
    QStringList captions;
    for (const char* heading : headings) {
        captions << QString::fromUtf8(heading);
    }
    table->setHorizontalHeaderLabels(captions);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    // A long column (commands, a message) leaves room for the others; its cells say it whole
    // on hover.
    table->horizontalHeader()->setMaximumSectionSize(280);
    return table;
}

void showReportRow(QTableWidget& table, int row, std::span<const std::string> columns) {
    for (std::size_t column = 0; column < columns.size(); ++column) {
        auto* item = new QTableWidgetItem(fromCp1251(columns[column]));
        item->setToolTip(item->text());
        table.setItem(row, static_cast<int>(column), item);
    }
}

QString askCsvPath(QWidget* parent, const std::string& folder, const char* fileName) {
    return QFileDialog::getSaveFileName(parent, ru("Экспорт в CSV"),
                                        QString::fromStdString(folder + "/" + fileName),
                                        ru("Таблицы CSV (*.csv)"));
}

}  // namespace velkor
