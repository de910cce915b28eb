#include "ReportLines.h"

#include <fstream>

#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

std::string csvField(const std::string& text) {
    return text.find_first_of(";\"\r\n") == std::string::npos ? text : doubleQuoted(text);
}

}  // namespace

void writeCsvHeadings(std::ostream& out, std::span<const char* const> headings,
                      bool forSpreadsheet) {
    if (forSpreadsheet) {
        out << "\xEF\xBB\xBF";
    }
    for (std::size_t column = 0; column < headings.size(); ++column) {
        out << (column == 0 ? "" : ";") << headings[column];
    }
    out << "\r\n";
}

void writeCsvLine(std::ostream& out, std::span<const std::string> fields) {
    for (std::size_t column = 0; column < fields.size(); ++column) {
        out << (column == 0 ? "" : ";") << csvField(cp1251ToUtf8(fields[column]));
    }
    out << "\r\n";
}

void writeCsvFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    write(out);
    out.flush();
    if (!out) {
        throw VelkorError(cp1251("Не удалось записать ") + utf8ToCp1251(path));
    }
}

JobDatabase& ReportConnection::database() {
    if (!database_) {
        auto database = std::make_unique<JobDatabase>(JobDatabase::kConsoleAnswerLimit);
        database->connect(databaseString_);
        for (const std::string& table : tables_) {
            database->ensureTable(table);
        }
        database_ = std::move(database);
    }
    return *database_;
}

}  // namespace velkor
