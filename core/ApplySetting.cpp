#include "ApplySetting.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

template <typename... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;  // clang 14 deduces aggregates only with a guide

const VariableDefinition& definitionOf(const MachineSetting& setting) {
    const VariableDefinition* definition = findMachineVariable(setting.key);
    if (definition == nullptr) {
        throw std::logic_error("no machine variable " + std::string(setting.key));
    }
    return *definition;
}

}  // namespace

std::string settingText(const MachineVariables& variables, const MachineSetting& setting) {
    return std::visit(
        Overloaded{
            [&](long double MachineVariables::*member) { return generalText(variables.*member); },
            [&](std::int32_t MachineVariables::*member) {
                return std::to_string(variables.*member);
            },
            [&](std::string MachineVariables::*member) { return variables.*member; },
        },
        definitionOf(setting).member);
}

void applySetting(const MachineSetting& setting, std::string_view editText,
                  MachineVariables& variables, TCustomComPort& port, JobDatabase& database) {
    const std::string typed = trimmed(editText);
    std::string argument = typed;  // integers and texts go to the controller as typed
    std::string databaseText;
    // Everything is checked before the variable is kept: a length the controller cannot hold,
    // or a text the database cannot, is neither kept nor sent, nor pushed at the next start.
    std::function<void()> keep;
    std::visit(Overloaded{
                   [&](long double MachineVariables::*member) {
                       const long double millimetres = readReal(typed);
                       if (setting.shape == ApplyShape::ScaledLength) {
                           argument = impulseText(millimetres, variables.Qty_Imp_mm);
                       }
                       keep = [&, member, millimetres] { variables.*member = millimetres; };
                       databaseText = realText(millimetres);
                   },
                   [&](std::int32_t MachineVariables::*member) {
                       const std::int32_t value = readInteger(typed);
                       keep = [&, member, value] { variables.*member = value; };
                       databaseText = std::to_string(value);
                   },
                   [&](std::string MachineVariables::*member) {
                       keep = [&, member] { variables.*member = typed; };
                       // VARIABLES holds a full stop, whatever the windows show.
                       databaseText = withDecimalSeparator(typed, '.');
                   },
               },
               definitionOf(setting).member);
    if (databaseText.size() > database.variableValueLimit()) {
        throw VelkorError(cp1251("Значение длиннее ") +
                          std::to_string(database.variableValueLimit()) +
                          cp1251(" знаков, которые хранит база: ничего не отправлено и не "
                                 "сохранено"));
    }
    keep();
    variables.given.emplace(setting.key);
    if (setting.shape == ApplyShape::StoredOnly) {
        database.updateVariable(setting.databaseKey(), databaseText);
        return;
    }
    const std::string sent = command(setting.commandWord, argument);
    port.SendText(sent);
    try {
        database.updateVariable(setting.databaseKey(), databaseText);
    } catch (const std::exception& error) {
        // The operator must know that the two now differ: the next start pushes the old value.
        throw VelkorError(cp1251("Контроллер получил ") + sent +
                          cp1251(", но в базе значение не сохранено (при следующем запуске "
                                 "вернётся прежнее): ") +
                          error.what());
    }
}

void saveControllerSettings(TCustomComPort& port) {
    port.SendText("SaveFlash");
}

}  // namespace velkor
