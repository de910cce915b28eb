#include "ConsoleState.h"

#include "Text.h"

namespace velkor {

std::string readConsoleIniEntry(const IniFile& ini, std::string_view section,
                                std::string_view key) {
    if (auto value = ini.read(section, key)) {
        return *value;
    }
    return cp1251("Ошибка в названии параметров : ") + std::string(section) + " = " +
           std::string(key);
}

}  // namespace velkor
