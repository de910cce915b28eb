#include "SettingsHistory.h"

#include <map>

namespace velkor {

const std::array<const char*, HistoryLine::kColumns>& historyHeadings() {
    static const std::array<const char*, HistoryLine::kColumns> headings{
        "Время",     "Рабочее место", "Учётная запись", "Что",        "Параметр или файл",
        "Было",      "Стало",         "Отправлено",     "Итог",       "Сообщение",
        "Хэш файла", "Деталей",       "Заменено",       "Ключ записи"};
    return headings;
}

std::vector<HistoryLine> readHistoryLines(JobDatabase& database, const HistoryFilter& filter,
                                          std::size_t most) {
    std::string where = " where 1 = 1";
    std::vector<Parameter> parameters;
    const auto add = [&](const std::optional<std::string>& value, const char* condition) {
        if (value) {
            where += condition;
            parameters.emplace_back(*value);
        }
    };
    add(filter.from, " and h.changed >= ?");
    add(filter.to, " and h.changed < ?");
    add(filter.subject, " and h.subject = ?");
    add(filter.workstation, " and h.workstation = ?");
    const std::string first = most == SIZE_MAX ? "" : " first " + std::to_string(most);
    std::vector<HistoryLine> lines;
    for (const Row& row : database.read(
             "select" + first +
                 " substring(cast(h.changed as varchar(24)) from 1 for 19), h.workstation, "
                 "h.account, h.kind, h.subject, h.before, h.after, h.sent, h.outcome, h.message, "
                 "h.contenthash, h.pieces, h.superseded, h.recordkey from SETTINGSHISTORY h" +
                 where + " order by h.changed desc, h.recordkey desc",
             parameters)) {
        lines.push_back(reportLineOf<HistoryLine::kColumns>(row));
    }
    return lines;
}

// Only stored changes count: one the database refused left VARIABLES as it was.
std::vector<std::pair<std::string, std::string>> settingsAt(
    JobDatabase& database, const std::string& moment, const std::vector<std::string>& upperKeys) {
    const char* const stored =
        "from SETTINGSHISTORY h where h.subject = upper(v.kods) and h.kind = 'SETTING' and "
        "h.outcome = 'STORED' and h.changed ";
    std::map<std::string, std::string> values;
    for (const Row& row : database.read(
             std::string("select upper(v.kods), coalesce((select first 1 h.after ") + stored +
                 "<= ? order by h.changed desc, h.recordkey desc), (select first 1 h.before " +
                 stored +
                 "> ? and h.before is not null order by h.changed, h.recordkey), "
                 "v.var_str) from VARIABLES v",
             {moment, moment})) {
        values.emplace(row[0].asText(), row[1].asText());
    }
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::string& key : upperKeys) {
        if (const auto value = values.find(key); value != values.end()) {
            found.emplace_back(key, value->second);
        }
    }
    return found;
}

}  // namespace velkor
