#include "DatabaseWatch.h"

#include "MachineParameters.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

DatabaseWatch::DatabaseWatch(ConsoleDatabase& database, MachineVariables& variables, EventLog& log,
                             Clock& clock, std::function<void()> changed,
                             std::function<void()> takenUp)
    : database_(database),
      variables_(variables),
      log_(log),
      changed_(std::move(changed)),
      takenUp_(std::move(takenUp)),
      clock_(clock),
      retry_(clock.timer("DatabaseRetry", kRetryEvery, [this] { attempt(); })) {}

bool DatabaseWatch::connect(const std::string& databaseString) {
    databaseString_ = databaseString;
    if (!reached(databaseString)) {
        log_.append(*trouble_);
        retry_->start();
        return false;
    }
    return true;
}

void DatabaseWatch::require() const {
    if (trouble_) {
        throw VelkorError(*trouble_);
    }
}

void DatabaseWatch::attempt() {
    if (--ticksToWait_ > 0) {
        return;
    }
    const std::optional<std::string> before = trouble_;
    const Clock::TimePoint started = clock_.now();
    try {
        if (!reached(databaseString_)) {
            ticksToWait_ =
                clock_.now() - started > std::chrono::seconds(1) ? kTicksAfterASlowAttempt : 1;
            if (trouble_ != before) {
                changed_();
            }
            return;
        }
    } catch (const std::exception& error) {
        // Reached, but its variables cannot be taken: trying again changes nothing.
        retry_->stop();
        trouble_ = error.what();
        log_.append(*trouble_);
        changed_();
        return;
    }
    retry_->stop();
    log_.append(cp1251("База данных ") + utf8ToCp1251(databaseString_) +
                cp1251(" ответила: машинные переменные загружены"));
    changed_();
    takenUp_();
}

// Only reaching the database is waited for: variables it holds that cannot be taken are a
// fault of their own, which ends start-up as ever.
bool DatabaseWatch::reached(const std::string& databaseString) {
    std::vector<VariableRow> rows;
    try {
        database_.connect(databaseString);
        rows = database_.readVariables();
    } catch (const std::exception& error) {
        std::string reason = trimmed(error.what());
        while (!reason.empty() && reason.back() == '.') {
            reason.pop_back();
        }
        trouble_ = cp1251("База данных ") + utf8ToCp1251(databaseString) + cp1251(" недоступна: ") +
                   reason +
                   cp1251(
                       ". Консоль подключится к ней сама, как только она ответит; до тех "
                       "пор сканы и настройки не работают");
        return false;
    }
    trouble_.reset();
    loadMachineVariables(variables_, rows);
    return true;
}

}  // namespace velkor
