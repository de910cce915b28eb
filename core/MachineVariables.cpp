#include "MachineVariables.h"

#include "Text.h"
#include "VelkorError.h"

namespace velkor {

void requireVariables(const MachineVariables& variables, std::span<const std::string_view> keys) {
    std::string missing;
    bool factorNeeded = false;
    for (const std::string_view key : keys) {
        factorNeeded = factorNeeded || key == "Qty_Imp_mm";
        if (!variables.given.contains(key)) {
            missing += (missing.empty() ? "" : ", ") + std::string(key);
        }
    }
    if (!missing.empty()) {
        throw VelkorError(cp1251("Нет машинных переменных ") + missing +
                          cp1251(" (их нет в таблице VARIABLES, или база не была прочитана): "
                                 "ничего не отправлено"));
    }
    if (factorNeeded && variables.Qty_Imp_mm == 0) {
        throw VelkorError(
            cp1251("Машинная переменная Qty_Imp_mm (импульсов на 1 мм) равна 0: "
                   "ничего не отправлено"));
    }
}

}  // namespace velkor
