#include "ApplySetting.h"

#include <functional>
#include <type_traits>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// The typed value as the variable keeps it, as VARIABLES stores it and as the controller gets
// it, checked whole before anything is kept or sent.
struct TypedValue {
    std::function<void(MachineVariables&)> keep;
    std::string stored;
    std::string sent;  // integers and texts go to the controller as typed
};

TypedValue typedValue(const MachineParameter& parameter, const std::string& typed,
                      long double impulsesPerMillimetre) {
    return std::visit(
        [&](auto member) -> TypedValue {
            using Value = std::decay_t<decltype(std::declval<MachineVariables&>().*member)>;
            if constexpr (std::is_same_v<Value, long double>) {
                const long double millimetres = readReal(typed);
                return {[member, millimetres](MachineVariables& v) { v.*member = millimetres; },
                        realText(millimetres),
                        parameter.applied == Applied::Sent
                            ? impulseText(millimetres, impulsesPerMillimetre)
                            : typed};
            } else if constexpr (std::is_same_v<Value, std::int32_t>) {
                const std::int32_t value = readInteger(typed);
                return {[member, value](MachineVariables& v) { v.*member = value; },
                        std::to_string(value), typed};
            } else {
                // VARIABLES holds a full stop, whatever the windows show.
                return {[member, typed](MachineVariables& v) { v.*member = typed; },
                        withDecimalSeparator(typed, '.'), typed};
            }
        },
        parameter.member);
}

}  // namespace

void applySetting(const MachineParameter& parameter, std::string_view editText,
                  MachineVariables& variables, ControllerLine& line, ConsoleDatabase& database,
                  SettingsChange& change) {
    change.subject = parameter.databaseKey();
    // Everything is checked before the variable is kept: a length the controller cannot hold,
    // or a text the database cannot, is neither kept nor sent, nor pushed at the next start.
    const TypedValue value = typedValue(parameter, trimmed(editText), variables.Qty_Imp_mm);
    if (value.stored.size() > database.variableValueLimit()) {
        throw VelkorError(cp1251("Значение длиннее ") +
                          std::to_string(database.variableValueLimit()) +
                          cp1251(" знаков, которые хранит база: ничего не отправлено и не "
                                 "сохранено"));
    }
    change.after = value.stored;
    value.keep(variables);
    variables.given.emplace(parameter.key);
    if (parameter.applied != Applied::Sent) {
        change.before = database.updateVariable(parameter.databaseKey(), value.stored);
        return;
    }
    const std::string sent = command(parameter.commandWord, value.sent);
    line.send(sent);
    change.sent = {sent};
    try {
        change.before = database.updateVariable(parameter.databaseKey(), value.stored);
    } catch (const std::exception& error) {
        // The operator must know that the two now differ: the next start pushes the old value.
        throw VelkorError(cp1251("Контроллер получил ") + sent +
                          cp1251(", но в базе значение не сохранено (при следующем запуске "
                                 "вернётся прежнее): ") +
                          error.what());
    }
}

void saveControllerSettings(ControllerLine& line) {
    line.send("SaveFlash");
}

}  // namespace velkor
