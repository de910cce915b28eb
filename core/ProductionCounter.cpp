#include "ProductionCounter.h"

#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

void ProductionCounter::readAtStartUp(const IniFile& ini, const std::tm& now) {
    known_ = false;
    const std::optional<std::string> saved = ini.read("MAIN", "CNT");
    show(saved.value_or(cp1251("Ошибка в названии параметров : MAIN = CNT")));
    try {
        base_ = readInteger64(text_);
    } catch (const VelkorError& error) {
        ini_ = ini;
        if (!saved) {
            throw;  // a fresh installation: the controller's next report gives it a number
        }
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &now);
        const std::string keptAs = std::string("CNT_UNREADABLE_") + stamp;
        ini.write("Main", keptAs, *saved);
        throw VelkorError(std::string(error.what()) + ": [Main] CNT in " +
                          utf8ToCp1251(ini.path()) + "; its text is kept there as " + keptAs);
    }
    known_ = true;
    ini_ = ini;
}

std::optional<std::int64_t> ProductionCounter::known() const {
    if (!known_) {
        return std::nullopt;
    }
    try {
        return readInteger64(text_);
    } catch (const VelkorError&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> ProductionCounter::totalOf(const std::string& count) const {
    std::int32_t counted = 0;
    try {
        counted = readInteger(count);
    } catch (const VelkorError&) {
        return std::nullopt;
    }
    std::int64_t total = 0;
    if (__builtin_add_overflow(std::int64_t{counted}, base_, &total)) {
        return std::nullopt;
    }
    return total;
}

void ProductionCounter::report(std::int64_t total) {
    known_ = true;
    const std::string text = std::to_string(total);
    if (text_ == text) {
        return;
    }
    show(text);
    if (!ini_) {
        return;
    }
    try {
        ini_->write("Main", "CNT", text);
    } catch (const std::exception& error) {
        log_.append(error.what());  // the count is still shown and saved at shutdown
    }
}

void ProductionCounter::saveAtShutdown() const {
    if (ini_ && known_) {
        ini_->write("Main", "CNT", trimmed(text_));
    }
}

void ProductionCounter::show(const std::string& text) {
    text_ = text;
    if (changed_) {
        changed_();
    }
}

}  // namespace velkor
