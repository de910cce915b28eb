#include "MachineVariables.h"

#include <algorithm>

#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

#define VELKOR_VARIABLE(name)          \
    VariableDefinition {               \
#name, &MachineVariables::name \
    }
#define VELKOR_PAIR(name) VELKOR_VARIABLE(name), VELKOR_VARIABLE(name##_L)

const std::vector<VariableDefinition>& machineVariableDefinitions() {
    static const std::vector<VariableDefinition> definitions = {
        VELKOR_VARIABLE(Qty_Imp_mm),
        VELKOR_VARIABLE(Step_pnevmo),
        VELKOR_VARIABLE(L_marking),
        VELKOR_VARIABLE(L_BarCode),
        VELKOR_VARIABLE(Port),
        VELKOR_VARIABLE(pwd),
        VELKOR_VARIABLE(TestMode),
        VELKOR_PAIR(SH_S),
        VELKOR_PAIR(head_DELTA),
        VELKOR_PAIR(setSpeed),
        VELKOR_PAIR(setAccel),
        VELKOR_PAIR(SAM_DEL),
        VELKOR_PAIR(STP_OUT),
        VELKOR_PAIR(L1headPaz),
        VELKOR_PAIR(L_upor),
        VELKOR_PAIR(stToR),
        VELKOR_PAIR(setS_OUT),
        VELKOR_PAIR(setA_OUT),
        VELKOR_PAIR(R_DELTA),
        VELKOR_PAIR(uporDelay),
        VELKOR_PAIR(SbrosDelay),
        VELKOR_PAIR(n_uporDelay),
        VELKOR_PAIR(S_SH_S),
        VariableDefinition{"VOZVRAT", &MachineVariables::VOZVRAT, true},
        VariableDefinition{"VOZVRAT_L", &MachineVariables::VOZVRAT_L, true},
    };
    return definitions;
}

#undef VELKOR_PAIR
#undef VELKOR_VARIABLE

const VariableDefinition* findMachineVariable(std::string_view key) {
    const auto& definitions = machineVariableDefinitions();
    const auto found = std::find_if(definitions.begin(), definitions.end(),
                                    [&](const VariableDefinition& d) { return d.key == key; });
    return found == definitions.end() ? nullptr : &*found;
}

void storeVariableText(MachineVariables& variables, const VariableDefinition& definition,
                       std::string_view text) {
    if (const auto* real = std::get_if<long double MachineVariables::*>(&definition.member)) {
        // Stored with a full stop, typed with a comma: accept both.
        std::string commaText(text);
        std::replace(commaText.begin(), commaText.end(), '.', ',');
        variables.*(*real) = readReal(commaText);
    } else if (const auto* integer =
                   std::get_if<std::int32_t MachineVariables::*>(&definition.member)) {
        variables.*(*integer) = readInteger(text);
    } else {
        const auto member = std::get<std::string MachineVariables::*>(definition.member);
        variables.*member = definition.trimmedText ? trimmed(text) : std::string(text);
    }
}

void loadMachineVariables(MachineVariables& variables, const std::vector<VariableRow>& rows) {
    for (const auto& row : rows) {
        if (const auto* definition = findMachineVariable(trimmed(row.key))) {
            storeVariableText(variables, *definition, row.value);
            variables.given.emplace(definition->key);
        }
    }
    variables.loaded = true;
}

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
