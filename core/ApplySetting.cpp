#include "ApplySetting.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"

namespace velkor {
namespace {

template <typename... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;  // clang 14 deduces aggregates only with a guide

const VariableDefinition& definitionOf(const SettingRow& row) {
    const VariableDefinition* definition = findMachineVariable(row.key);
    if (definition == nullptr) {
        throw std::logic_error("no machine variable " + std::string(row.key));
    }
    return *definition;
}

// VARIABLES always holds a full stop as the decimal separator, whatever the windows show.
std::string withFullStops(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

}  // namespace

std::string settingText(const MachineVariables& variables, const SettingRow& row) {
    return std::visit(
        Overloaded{
            [&](long double MachineVariables::*member) { return generalText(variables.*member); },
            [&](std::int32_t MachineVariables::*member) {
                return std::to_string(variables.*member);
            },
            [&](std::string MachineVariables::*member) { return variables.*member; },
        },
        definitionOf(row).member);
}

void applySetting(const SettingRow& row, std::string_view editText, MachineVariables& variables,
                  TCustomComPort& port, JobDatabase& database) {
    const std::string typed = trimmed(editText);
    std::string argument = typed;  // integers and texts go to the controller as typed
    std::string databaseText;
    std::visit(Overloaded{
                   [&](long double MachineVariables::*member) {
                       const long double millimetres = readReal(typed);
                       if (row.shape == ApplyShape::ScaledLength) {
                           // Checked before it is kept: a length the controller cannot hold
                           // is neither sent nor stored, nor pushed again at the next start.
                           argument = impulseText(millimetres, variables.Qty_Imp_mm);
                       }
                       variables.*member = millimetres;
                       databaseText = realText(millimetres);
                   },
                   [&](std::int32_t MachineVariables::*member) {
                       variables.*member = readInteger(typed);
                       databaseText = std::to_string(variables.*member);
                   },
                   [&](std::string MachineVariables::*member) {
                       variables.*member = typed;
                       databaseText = withFullStops(typed);
                   },
               },
               definitionOf(row).member);
    variables.given.emplace(row.key);
    if (row.shape != ApplyShape::StoredOnly) {
        port.SendText(command(row.commandWord, argument));
    }
    database.updateVariable(row.databaseKey(), databaseText);
}

void saveControllerSettings(TCustomComPort& port) {
    port.SendText("SaveFlash");
}

}  // namespace velkor
