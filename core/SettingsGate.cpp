#include "SettingsGate.h"

#include <algorithm>
#include <string>

#include "Text.h"
#include "VelkorError.h"

namespace velkor {

void SettingsGate::requireOpenForTrying() const {
    const auto left = shutUntil_ - clock_.now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return;
    }
    // Whole seconds, rounded up: "через 1 с" until the moment it opens.
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    throw VelkorError(cp1251("Неверный пароль введён подряд раз: ") + std::to_string(failures_) +
                      cp1251(". Следующая попытка через ") + std::to_string(seconds) +
                      cp1251(" с"));
}

bool SettingsGate::tryPassword(std::string_view typed, std::string_view password) {
    requireOpenForTrying();
    if (typed == password) {
        failures_ = 0;
        return true;
    }
    ++failures_;
    const std::chrono::seconds wait =
        failures_ > 6 ? kLongestWait
                      : std::min<std::chrono::seconds>(std::chrono::seconds(1LL << (failures_ - 1)),
                                                       kLongestWait);
    shutUntil_ = clock_.now() + wait;
    return false;
}

}  // namespace velkor
