#include "ConsoleState.h"

#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

namespace {

std::string missingEntryText(std::string_view section, std::string_view key) {
    return cp1251("Ошибка в названии параметров : ") + std::string(section) + " = " +
           std::string(key);
}

}  // namespace

void UnansweredProbe::asked(Clock::time_point now) {
    ++unanswered_;
    lastAsked_ = now;
}

bool UnansweredProbe::answeredBy(Clock::time_point now) {
    if (unanswered_ == 0 || now - lastAsked_ > kLongestAnswer) {
        unanswered_ = 0;
        return false;
    }
    --unanswered_;
    return true;
}

void readStartupCounter(ConsoleState& state, const std::function<void(const std::string&)>& show,
                        const std::tm& now) {
    state.counterKnown = false;
    const IniFile ini = state.iniFile();
    const std::optional<std::string> saved = ini.read("MAIN", "CNT");
    const std::string text = saved.value_or(missingEntryText("MAIN", "CNT"));
    show(text);
    try {
        state.counterBase = readInteger64(text);
    } catch (const VelkorError& error) {
        if (!saved) {
            // A fresh installation: the controller's next report gives the counter a number.
            state.counterSaving = true;
            throw;
        }
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &now);
        const std::string keptAs = std::string("CNT_UNREADABLE_") + stamp;
        ini.write("Main", keptAs, *saved);
        state.counterSaving = true;
        throw VelkorError(std::string(error.what()) + ": [Main] CNT in " +
                          utf8ToCp1251(ini.path()) + "; its text is kept there as " + keptAs);
    }
    state.counterKnown = true;
    state.counterSaving = true;
}

}  // namespace velkor
