#pragma once

#include <QString>
#include <span>
#include <string>

class QTableWidget;
class QWidget;

namespace velkor {

// The tables of the report windows: read-only, one line of text a row, headed by `headings`
// (UTF-8).
QTableWidget* reportTable(const char* name, std::span<const char* const> headings);
// Fills the table's row `row` with the columns (Windows-1251 texts).
void showReportRow(QTableWidget& table, int row, std::span<const std::string> columns);

// "Экспорт в CSV": asks where, offering `fileName` in `folder`; empty when the service person
// cancels.
QString askCsvPath(QWidget* parent, const std::string& folder, const char* fileName);

}  // namespace velkor
